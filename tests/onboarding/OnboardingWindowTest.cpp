#include "link/LinkManager.h"
#include "servers/ServerRegistry.h"
#include "support/PanelRig.h"
#include "ui/onboarding/ChoiceCard.h"
#include "ui/onboarding/OnboardingView.h"
#include "ui/onboarding/OnboardingWindowController.h"
#include "ui/onboarding/StepBox.h"
#include "ui/panel/AddServerBox.h"
#include "ui/panel/ServerAdvancedSheet.h"
#include "ui/panel/ServerCard.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

// The onboarding window offscreen over a hub with fake desktop services: how the steps follow the state,
// what each control stores, and how the window is left.
class OnboardingWindowTest : public QObject {
    Q_OBJECT

    TempDataDir data;
    std::unique_ptr<PanelRig> rig;
    std::unique_ptr<OnboardingWindowController> window;

    AppState& app() { return rig->app(); }
    OnboardingView* view() { return window->view(); }
    template <typename T> T* find(const char* name) { return window->window()->findChild<T*>(QString::fromLatin1(name)); }

    void open(bool trusted = true, bool wayland = false)
    {
        window.reset();
        rig = std::make_unique<PanelRig>(data);
        rig->desktop.trust.trusted = trusted;
        rig->desktop.trust.wayland = wayland;
        // On a closed loopback port: starting connects it, and it fails at once.
        Server closed;
        closed.name = QStringLiteral("gpu-box");
        closed.host = QStringLiteral("127.0.0.1");
        closed.port = 1;
        closed.user = QStringLiteral("dev");
        rig->addServer(closed);
        rig->build();
        app().start(); // reads the permission
        window = std::make_unique<OnboardingWindowController>(app());
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window->window()));
        view()->flush();
    }

    void setTarget(const QString& tag)
    {
        Settings s = app().settings();
        s.onboardingTarget = tag;
        app().setSettings(s);
        view()->flush();
    }

private Q_SLOTS:
    void cleanup() { window.reset(); rig.reset(); }

    // The finish button stores the target "none" when none was chosen (a second save), then the end.
    void finishing_data()
    {
        QTest::addColumn<QString>("target");
        QTest::addColumn<int>("saves");
        QTest::addColumn<QString>("stored");
        QTest::newRow("no target") << QString() << 2 << "none";
        QTest::newRow("a target") << "device" << 1 << "device";
    }
    void finishing()
    {
        QFETCH(QString, target);
        QFETCH(int, saves);
        QFETCH(QString, stored);
        open();
        if (!target.isEmpty())
            setTarget(target);
        QCOMPARE(rig->saves([&] { view()->finishButton()->click(); }), saves);
        QCOMPARE(app().settings().onboardingTarget, stored);
        QVERIFY(app().settings().onboardingDone);
        QVERIFY(!window->window()->isVisible());
        QCOMPARE(Store(data.path()).loadSettings(), app().settings());
    }

    // "稍后再说", the close button and Return in the address field leave the settings alone.
    void leavingChangesNothing()
    {
        open();
        QCOMPARE(rig->saves([&] { view()->laterButton()->click(); }), 0);
        QVERIFY(!window->window()->isVisible());
        window->show();
        QCOMPARE(rig->saves([&] { QVERIFY(!window->window()->close()); }), 0);
        QVERIFY(!window->window()->isVisible());
        QVERIFY(!app().settings().onboardingDone);

        window->show();
        view()->choice(QStringLiteral("server"))->click();
        view()->flush();
        QLineEdit* field = view()->addBox()->field();
        QTest::keyClick(field, Qt::Key_Return); // an empty address: nothing to connect, and not the end
        QVERIFY(!app().settings().onboardingDone);
        // Elsewhere Return is the finish button's.
        ChoiceCard* card = view()->choice(QStringLiteral("server"));
        card->setFocus();
        QTest::keyClick(card, Qt::Key_Return);
        QVERIFY(app().settings().onboardingDone);
    }

    // Step 1 offers only the mode without permission where typing cannot work, and ticks when it is chosen.
    void permissionStep()
    {
        open(false, true);
        StepBox* step1 = view()->step(1);
        QVERIFY(step1->active() && !step1->done());
        QVERIFY(find<QLabel>("permissionText")->text().contains(QStringLiteral("Wayland")));
        auto* zero = find<QPushButton>("zeroPermissionButton");
        QVERIFY(zero->isVisibleTo(window->window()));
        QCOMPARE(rig->saves([&] { zero->click(); }), 1);
        view()->flush();
        QVERIFY(step1->done());
        QCOMPARE(view()->activeStep(), 2);
        QVERIFY(!zero->isVisibleTo(window->window()));

        // Back to typing while it cannot work: the request comes back and step 1 is active again.
        Settings s = app().settings();
        s.pasteMode = PasteMode::type;
        app().setSettings(s);
        view()->flush();
        QVERIFY(step1->active());
        QVERIFY(zero->isVisibleTo(window->window()));
    }

    // Choosing a target: one save per click, the card marked, the hint shown, step 3 switching branch.
    void targetAndSetupSteps()
    {
        open();
        QVERIFY(!find<QWidget>("targetHint")->isVisibleTo(window->window()));
        QVERIFY(!view()->step(3)->expanded());
        QCOMPARE(view()->step(3)->opacity(), 0.6); // a collapsed step is faded as a whole
        QCOMPARE(view()->step(2)->opacity(), 1.0);

        QCOMPARE(rig->saves([&] { view()->choice(QStringLiteral("server"))->click(); }), 1);
        view()->flush();
        QVERIFY(view()->choice(QStringLiteral("server"))->selected());
        QVERIFY(find<QWidget>("targetHint")->isVisibleTo(window->window()));
        QVERIFY(view()->step(3)->active());
        QCOMPARE(view()->activeStep(), 3);
        QVERIFY(view()->addBox()->isVisibleTo(window->window()));
        ServerCard* card = view()->card(rig->servers().at(0).id); // the listed server has its card
        QVERIFY(card);
        card->menu()->findChild<QAction*>(QStringLiteral("advancedAction"))->trigger();
        auto* sheet = window->window()->findChild<ServerAdvancedSheet*>();
        QVERIFY(sheet && sheet->isVisible());
        QCOMPARE(sheet->fields().name, QStringLiteral("gpu-box"));
        sheet->reject();
        QVERIFY(find<QLabel>("demoLine")->text().startsWith(QStringLiteral("shot1: /home/qx/tarnel/shots/")));

        QCOMPARE(rig->saves([&] { view()->choice(QStringLiteral("device"))->click(); }), 1);
        view()->flush();
        QVERIFY(!view()->choice(QStringLiteral("server"))->selected());
        auto* allow = find<QPushButton>("allowInboundButton");
        QVERIFY(allow->isVisibleTo(window->window()));
        QCOMPARE(rig->saves([&] { allow->click(); }), 1);
        view()->flush();
        QVERIFY(app().settings().remoteAccess);
        QVERIFY(view()->step(3)->done());
        QVERIFY(!allow->isVisibleTo(window->window()));
        QVERIFY(find<QWidget>("inboundAllowed")->isVisibleTo(window->window()));
        QCOMPARE(find<QLabel>("progressText")->text(), QStringLiteral("都好了。点「知道了」开始用，这个窗口不会再出现。"));

        // "打开「设备」页" asks for the panel on the devices page.
        int toggled = 0;
        app().togglePanel = [&] { ++toggled; };
        find<QPushButton>("openDevicesButton")->click();
        QCOMPARE(app().panelTab(), PanelTab::devices);
        QCOMPARE(toggled, 1);
        // While the device set-up is shown, Return is that button's and does not end the onboarding.
        ChoiceCard* deviceChoice = view()->choice(QStringLiteral("device"));
        deviceChoice->setFocus();
        QTest::keyClick(deviceChoice, Qt::Key_Return);
        QCOMPARE(toggled, 2);
        QVERIFY(!app().settings().onboardingDone);
        QVERIFY(window->window()->isVisible());
    }

    // When the active step moves on, the list scrolls to it; showing the window does not.
    void listFollowsTheActiveStep()
    {
        open(false);
        QScrollBar* bar = view()->scrollArea()->verticalScrollBar();
        QCOMPARE(bar->value(), 0);
        Settings s = app().settings();
        s.pasteMode = PasteMode::zeroPermission;
        s.onboardingTarget = QStringLiteral("server");
        app().setSettings(s);
        view()->flush();
        QCOMPARE(view()->activeStep(), 3);
        QTRY_COMPARE(bar->value(), std::min(bar->maximum(), view()->step(3)->y()));
        QVERIFY(bar->value() > 0);
    }
};

QTEST_MAIN(OnboardingWindowTest)
#include "OnboardingWindowTest.moc"
