#pragma once

#include "account/AccountRecord.h"
#include "app/PanelTab.h"
#include "capture/ClipboardWatcher.h"
#include "platform/ClipboardImage.h"
#include "state/Server.h"
#include "state/Settings.h"

#include <QImage>
#include <QList>
#include <QMap>
#include <QObject>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>

class Account;
class AccessibilityTrust;
class ActiveWindow;
class Clipboard;
class Diagnostics;
class DesktopOpener;
class Flash;
class GlobalHotkeys;
class HotkeyCenter;
class KeepAliveAgent;
class Keyboard;
class LaunchManager;
class LinkManager;
class NetworkMonitor;
class LoginItem;
class PasteController;
class Sequencer;
class SleepInhibitor;
class ServerRegistry;
class ServersPageState;
class SettingsBox;
class ShotStore;
class StateStore;
class Store;
class UpdateInstaller;
class Updater;
class Uploader;
class WakeNotifier;
class Accessibility;

// What the desktop provides, picked by main() (tests hand in fakes).
struct DesktopServices {
    Clipboard& clipboard;
    GlobalHotkeys& globalHotkeys;
    ActiveWindow& activeWindow;
    Keyboard& keyboard;
    AccessibilityTrust& accessibilityTrust;
    LoginItem& loginItem;
    KeepAliveAgent& keepAliveAgent;
    WakeNotifier* wake; // may be null: no wake notices
    Flash& flash;
    DesktopOpener& opener;
    SleepInhibitor& sleepInhibitor;
    NetworkMonitor& network;
};

// How often the hub looks after things; tests shorten these.
struct AppIntervals {
    ClipboardIntervals clipboard;
    std::chrono::milliseconds maintenance{std::chrono::hours(1)};
    std::chrono::milliseconds accessibility{2000};
};

// The hub: owns every service for the life of the process, wires them together, applies the account gate
// and the side effects of settings changes. Views read it and write settings through it. Main thread only.
class AppState : public QObject {
    Q_OBJECT
public:
    // A removal whose remote side can only be cleaned with the server's password: the record as it was
    // when it left the list, and whether its folder goes too.
    struct PendingRemoval {
        Server server;
        bool purge = false;
    };

    using Intervals = AppIntervals;

    AppState(Store& store, DesktopServices desktop, Intervals intervals = {}, QObject* parent = nullptr);
    ~AppState() override;

    void start();

    const Settings& settings() const { return current; }
    void setSettings(const Settings& settings);

    PanelTab panelTab() const { return tab; }
    void setPanelTab(PanelTab tab);

    bool accessibilityTrusted() const { return trusted; }
    // A Wayland session: keys cannot be sent to other programs, only the copy-only paste works.
    bool waylandSession() const;
    bool captureOn() const { return capturing; }
    // The removal whose password is asked for now; later requests wait their turn behind it.
    std::optional<PendingRemoval> pendingRemoval() const;
    void requestRemovalPassword(const PendingRemoval& pending);
    // Takes the current request off the queue (the prompt was answered or dismissed).
    std::optional<PendingRemoval> takePendingRemoval();
    bool onboardingConnected() const;
    // Why a linked machine whose connection opened could not be made a destination; none when it was.
    std::optional<QString> deviceSyncRefusal(const QString& deviceID) const
    {
        const auto found = syncRefusals.constFind(deviceID);
        return found == syncRefusals.constEnd() ? std::nullopt : std::optional<QString>(*found);
    }

    ShotStore& shots() { return *shotStore; }
    ServerRegistry& registry() { return *serverRegistry; }
    ServersPageState& serversPage() { return *serversPageState; }
    Uploader& uploader() { return *shotUploader; }
    Account& account() { return *accountState; }
    LinkManager& link() { return *linkManager; }
    Diagnostics& diagnostics() { return *diag; }
    HotkeyCenter& hotkeys() { return *hotkeyCenter; }
    Flash& flash() { return desktop.flash; }
    DesktopOpener& opener() { return desktop.opener; }
    Clipboard& clipboard() { return desktop.clipboard; }
    ClipboardWatcher& watcher() { return *clipboardWatcher; }
    PasteController& paste() { return *pasteController; }
    Sequencer& sequencer() { return *shotSequencer; }
    StateStore& stateStore() { return *state; }
    Updater& updater() { return *appUpdater; }

    // While a hot key is being recorded: no global hot key, so pressing the current one reaches the
    // recorder. Restoring registers both again, but only while capture is on.
    void suspendHotkeys();
    void restoreHotkeys();

    // The user's "检查更新…": a manual check; its outcome reaches the user through the updater.
    void checkUpdates();
    // Pauses or resumes taking and uploading shots (the tray's and the panel's pause button), logged.
    void setPaused(bool paused);

    // Window hooks, set by the application shell; each does nothing while unset.
    std::function<void()> hidePanel;
    std::function<void()> togglePanel;
    std::function<void()> openOnboarding;
    std::function<void()> openSettings;
    std::function<void()> showFeedbackWindow;
    std::function<void()> hideFeedbackWindow;
    std::function<void(bool registering)> showLoginWindow;

    void capture(const ClipboardImage& image, const QString& source);
    void clearAll();
    void deleteShot(const QString& name);
    void copyPath(const QString& text, const QString& name);
    // Opens a file or folder with the desktop's default application; when nothing can open it, says so in
    // a notice with the path and answers false (also later, when the opener finds no application after all).
    bool openPath(const QString& path);

    void applyAccountGate();
    void applySettingsSideEffects(const Settings& old);
    QMap<QString, QString> environmentSummary() const;


Q_SIGNALS:
    void changed();

private:
    bool hasEnabledServer() const;
    void reportOpenFailure(const QString& path, const QString& why);
    // A destination whose receiver is being set up: shots wait for it.
    bool receiverSettingUp(const Server& server) const;
    void registerHotkeys();
    void checkAccessibility();
    void maintain();
    bool managesLaunch() const;
    void wireLink();
    void pruneDepartedDevices();
    void followRenamedDevices();
    void applyLinkGate(bool usable, const std::optional<QString>& reason);
    // One text per peer (id, online, link state, paths, inbound tunnels), sorted: changes when a link does.
    QString linkSignature() const;

    Store& store;
    DesktopServices desktop;
    Settings current;
    PanelTab tab = PanelTab::shots;
    bool trusted = false;
    bool capturing = false;
    QStringList takenBackWaiting; // shots taken back after a crash while the gate was closed: sent when it opens
    // What the account gate last ran on: it runs again only when the account's state or sign-in changes.
    int gateStatus = -1;
    std::optional<AccountRecord> gateRecord;
    QList<PendingRemoval> removals;
    QHash<QString, QString> syncRefusals; // device id -> why it is not a destination after its connection opened

    std::unique_ptr<HotkeyCenter> hotkeyCenter;
    std::unique_ptr<Account> accountState;
    std::unique_ptr<Diagnostics> diag;
    std::unique_ptr<StateStore> state;
    std::unique_ptr<ServerRegistry> serverRegistry;
    std::unique_ptr<ServersPageState> serversPageState;
    std::unique_ptr<Sequencer> shotSequencer;
    std::unique_ptr<ShotStore> shotStore;
    std::unique_ptr<Uploader> shotUploader;
    std::unique_ptr<SettingsBox> settingsBox;
    std::unique_ptr<PasteController> pasteController;
    std::unique_ptr<ClipboardWatcher> clipboardWatcher;
    std::unique_ptr<Accessibility> accessibility;
    std::unique_ptr<LaunchManager> launch;
    std::unique_ptr<LinkManager> linkManager;
    std::optional<QString> linkToken; // the token last handed to the link program
    std::unique_ptr<UpdateInstaller> installer;
    std::unique_ptr<Updater> appUpdater;
    QTimer maintenanceTimer;
    QTimer accessibilityTimer;
};
