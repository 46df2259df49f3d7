#pragma once

#include "ui/onboarding/OnboardingModel.h"

#include <QWidget>
#include <functional>

class AddServerBox;
class AppState;
class ChoiceCard;
class CoalescedRefresh;
class KeyedWidgetList;
class QLabel;
class QPushButton;
class QScrollArea;
class ServerCard;
class StatusLabel;
class StepBox;
class SymbolNote;

// The onboarding window's content: the header, the four steps in a scrolling list and the footer with
// "稍后再说" and "知道了，开始用". It keeps nothing of its own: every refresh works the steps out from the
// hub, and the list scrolls to the active step whenever that changes.
class OnboardingView : public QWidget {
    Q_OBJECT
public:
    OnboardingView(AppState& app, std::function<void()> onFinish, QWidget* parent = nullptr);

    void refresh();
    // Runs a pending refresh now (tests, screenshots).
    void flush();
    OnboardingModel model() const;

    StepBox* step(int number) const { return steps[number - 1]; }
    ChoiceCard* choice(const QString& tag) const;
    AddServerBox* addBox() const { return box; }
    ServerCard* card(const QUuid& id) const;
    QPushButton* finishButton() const { return finish; }
    QPushButton* laterButton() const { return later; }
    QScrollArea* scrollArea() const { return scroll; }
    int activeStep() const { return shownActive; }

protected:
    void showEvent(QShowEvent* event) override;
    // Return outside a text field presses the default button: "打开「设备」页" while the device set-up is
    // shown, else the finish button.
    void keyPressEvent(QKeyEvent* event) override;

private:
    QWidget* buildHeader();
    QWidget* buildFooter();
    void buildPermission(StepBox* box);
    void buildTarget(StepBox* box);
    void buildSetup(StepBox* box);
    void buildTray(StepBox* box);
    QWidget* buildServerContent();
    QWidget* buildDeviceContent();
    QWidget* buildNoneContent();
    QWidget* demoBlock(QWidget* parent);
    void choose(const QString& tag);
    void finishOnboarding();
    void scrollTo(int step);
    QPushButton* defaultButton() const;

    AppState& app;
    std::function<void()> onFinish;
    CoalescedRefresh* refresher;
    QLabel* intro;
    QScrollArea* scroll;
    StepBox* steps[4];
    // step 1
    SymbolNote* permissionDone;
    QWidget* permissionRequest;
    StatusLabel* permissionText;
    // step 2
    QList<std::pair<QString, ChoiceCard*>> choices;
    StatusLabel* targetHint;
    // step 3
    QWidget* setupArea;
    QWidget* setupPage = nullptr; // the branch shown
    QWidget* serverContent;
    QWidget* deviceContent;
    QWidget* noneContent;
    QWidget* noContent;
    SymbolNote* connectedNote;
    AddServerBox* box;
    KeyedWidgetList* cards;
    StatusLabel* deviceIntro;
    QPushButton* openDevices;
    QPushButton* allowInbound;
    SymbolNote* inboundAllowed;
    QList<std::pair<StatusLabel*, QLabel*>> demos; // intro and sample line of each example block
    // step 4
    SymbolNote* trayNote;
    StatusLabel* trayTips;
    // footer
    StatusLabel* progress;
    QPushButton* later;
    QPushButton* finish;
    int shownActive = 0;
    bool focusedBox = false;
};
