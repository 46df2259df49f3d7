#include "support/PanelRig.h"
#include "support/WindowShot.h"
#include "ui/settings/AboutView.h"
#include "ui/settings/BehaviorSettings.h"
#include "ui/settings/HotkeyRecorderRow.h"
#include "ui/settings/HotkeySettings.h"
#include "ui/settings/SettingsWindowController.h"

#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTabWidget>
#include <QTest>

// Renders each page of the settings window to <build>/artifacts/settings/ for a person to look at.
class SettingsScreenshotTest : public QObject {
    Q_OBJECT

    TempDataDir data;
    std::unique_ptr<PanelRig> rig;
    std::unique_ptr<SettingsWindowController> window;
    WindowProbe probe{[this] { return window->window(); }, QStringLiteral("settings"),
                      QSize(SettingsWindowController::width, SettingsWindowController::height)};

    void shoot(const QString& name) { probe.shoot(name); }

private Q_SLOTS:
    void initTestCase()
    {
        rig = std::make_unique<PanelRig>(data);
        rig->addServer(QStringLiteral("gpu-box"));
        rig->signIn();
        rig->build();
        window = std::make_unique<SettingsWindowController>(rig->app());
        rig->app().openOnboarding = [] {};
        rig->app().showFeedbackWindow = [] {};
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window->window()));
    }

    void pages()
    {
        shoot(QStringLiteral("1-behaviour"));
        auto* scroll = window->behavior()->findChild<QScrollArea*>();
        scroll->verticalScrollBar()->setValue(scroll->verticalScrollBar()->maximum());
        shoot(QStringLiteral("2-behaviour-bottom"));

        window->tabs()->setCurrentIndex(1);
        shoot(QStringLiteral("3-hotkeys"));
        window->hotkeys()->pasteRow()->start();
        QTest::keyClick(window->window(), Qt::Key_K);
        shoot(QStringLiteral("4-hotkeys-recording"));
        window->hotkeys()->pasteRow()->stop();

        window->tabs()->setCurrentIndex(2);
        Settings s = rig->app().settings();
        s.updateChannelTest = true;
        rig->app().setSettings(s);
        shoot(QStringLiteral("5-about"));
        auto* about = window->about()->findChild<QScrollArea*>();
        about->verticalScrollBar()->setValue(about->verticalScrollBar()->maximum());
        shoot(QStringLiteral("6-about-bottom"));
    }
};

QTEST_MAIN(SettingsScreenshotTest)
#include "SettingsScreenshotTest.moc"
