#pragma once

#include "app/AppState.h"

#include <QObject>
#include <memory>
#include <optional>

class FeedbackWindowController;
class LoginWindowController;
class OnboardingWindowController;
class PanelController;
class QMessageBox;
class RemovalPasswordHost;
class SettingsWindowController;
class StatusItem;
class UpdateWindowController;
class Store;

// The application shell: builds the hub and the tray at launch, starts the services once the icon is up,
// builds each window when it is first wanted, shows the first window, follows the account, and logs the
// way out.
class AppDelegate : public QObject {
    Q_OBJECT
public:
    static constexpr int firstWindowDelayMs = 500;
    static constexpr int onboardingAfterSignInMs = 300;

    AppDelegate(DesktopServices desktop, QObject* parent = nullptr);
    ~AppDelegate() override;

    void launch();
    // Another start asked for the main window (also the "reopen" of a running instance).
    void showMainWindow();
    // A newer instance takes over: quit, logged as a hand-off.
    void handOff();
    void quit();

    AppState& state() { return *app; }
    // Each window is built on the first call.
    PanelController& panel();
    LoginWindowController& login();
    FeedbackWindowController& feedback();
    StatusItem& statusItem() { return *status; }
    UpdateWindowController& updatePrompt();
    SettingsWindowController& settings();
    OnboardingWindowController& onboarding();

Q_SIGNALS:
    // The first window of this start was chosen and shown (or none was needed).
    void firstWindowShown();

private:
    void startServices();
    void showFirstWindow();
    void offerOnboarding();
    void followAccount();
    void showManualResult();

    DesktopServices desktop;
    std::unique_ptr<Store> store;
    std::unique_ptr<AppState> app;
    std::unique_ptr<PanelController> panelController;
    std::unique_ptr<LoginWindowController> loginController;
    std::unique_ptr<FeedbackWindowController> feedbackController;
    std::unique_ptr<StatusItem> status;
    std::unique_ptr<UpdateWindowController> updateController;
    std::unique_ptr<SettingsWindowController> settingsController;
    std::unique_ptr<OnboardingWindowController> onboardingController;
    std::unique_ptr<RemovalPasswordHost> removalPrompts;
    QMessageBox* manualAlert = nullptr;
    std::optional<std::pair<int, bool>> lastAccount; // status and whether a record is present
    bool handingOff = false;
};
