#include "support/PanelRig.h"
#include "support/WindowShot.h"
#include "ui/onboarding/OnboardingView.h"
#include "ui/onboarding/OnboardingWindowController.h"
#include "ui/panel/AddServerBox.h"
#include "ui/panel/ServerAdvancedSheet.h"
#include "ui/panel/ServerCard.h"

#include <QAction>
#include <QMenu>
#include <QScrollArea>
#include <QScrollBar>
#include <QSemaphore>
#include <QSignalSpy>

#include <QTest>

// Renders the onboarding window in each step state to <build>/artifacts/onboarding/ for a person to look at.
class OnboardingScreenshotTest : public QObject {
    Q_OBJECT

    TempDataDir data;

    void shoot(bool trusted, bool wayland, const QString& target, const QString& name, bool scrolledDown = false)
    {
        PanelRig rig(data);
        rig.desktop.trust.trusted = trusted;
        rig.desktop.trust.wayland = wayland;
        if (target == QLatin1String("server"))
            rig.addServer(QStringLiteral("gpu-box"), true, false, false);
        AppState& app = rig.build();
        Settings s = app.settings();
        s.onboardingTarget = target;
        app.setSettings(s);
        OnboardingWindowController window(app);
        window.view()->addBox()->setScan([] { return QList<SSHSession>{SSHSession{QStringLiteral("alice"), QStringLiteral("10.0.0.9"), std::nullopt}}; });
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(window.window()));
        window.view()->flush();
        if (scrolledDown) // the last step: where the tray icon is
            for (QScrollArea* area : window.window()->findChildren<QScrollArea*>())
                area->verticalScrollBar()->setValue(area->verticalScrollBar()->maximum());
        WindowProbe([&] { return window.window(); }, QStringLiteral("onboarding"),
                    QSize(OnboardingWindowController::width, OnboardingWindowController::height))
            .shoot(name);
    }

private Q_SLOTS:
    // Without start() the hub has not read the permission yet: not trusted, as a session without XTest.
    void steps()
    {
        shoot(false, false, QString(), QStringLiteral("1-fresh-no-xtest"));
        shoot(false, true, QString(), QStringLiteral("2-wayland"));
        shoot(false, false, QStringLiteral("server"), QStringLiteral("3-server"));
        shoot(false, false, QStringLiteral("device"), QStringLiteral("4-device"));
        shoot(false, false, QStringLiteral("none"), QStringLiteral("5-none"));
        shoot(true, false, QStringLiteral("none"), QStringLiteral("7-last-step"), true);
    }

    // The row of suggestions from the session scan, then the card of an added server: every text of the
    // window is whole the moment each comes in, before the event loop runs again.
    void rowsComingInLeaveTheStepWhole()
    {
        PanelRig rig(data);
        AppState& app = rig.build();
        Settings s = app.settings();
        s.onboardingTarget = QStringLiteral("server");
        app.setSettings(s);
        OnboardingWindowController window(app);
        AddServerBox* box = window.view()->addBox();
        auto go = std::make_shared<QSemaphore>();
        box->setScan([go] {
            (void)go->tryAcquire(1, 5000);
            return QList<SSHSession>{SSHSession{QStringLiteral("alice"), QStringLiteral("10.0.0.9"), std::nullopt}};
        });
        QStringList cut;
        connect(box, &AddServerBox::scanned, this, [&] { cut = LabelFit::cutNow(*window.window()); });
        QSignalSpy scanned(box, &AddServerBox::scanned);
        window.show();
        window.view()->flush();
        VERIFY_LABELS_FIT(*window.window());
        go->release();
        QVERIFY(scanned.wait(5000));
        QVERIFY2(cut.isEmpty(), qPrintable(cut.join(QStringLiteral("; "))));

        QVERIFY(app.registry().add(QStringLiteral("127.0.0.1:1")).ok());
        window.view()->flush();
        cut = LabelFit::cutNow(*window.window());
        app.registry().cancelAll();
        QVERIFY2(cut.isEmpty(), qPrintable(cut.join(QStringLiteral("; "))));
    }

    // "高级…" of a server card in the setup step opens the advanced sheet over the window.
    void advancedSheetOverSetupStep()
    {
        PanelRig rig(data);
        const QUuid id = rig.addServer(QStringLiteral("gpu-box"), true, false, false).id;
        AppState& app = rig.build();
        Settings s = app.settings();
        s.onboardingTarget = QStringLiteral("server");
        app.setSettings(s);
        OnboardingWindowController window(app);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(window.window()));
        window.view()->flush();
        window.view()->card(id)->menu()->findChild<QAction*>(QStringLiteral("advancedAction"))->trigger();
        auto* sheet = window.window()->findChild<ServerAdvancedSheet*>();
        QVERIFY(sheet && sheet->isVisible());
        WindowProbe([&] { return sheet; }, QStringLiteral("onboarding"), QSize(sheet->width(), sheet->height()))
            .shoot(QStringLiteral("6-server-advanced"));
    }
};

QTEST_MAIN(OnboardingScreenshotTest)
#include "OnboardingScreenshotTest.moc"
