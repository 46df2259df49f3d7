// The onboarding and settings windows under a real window manager: moved, closed and opened again, they
// come back centred on the screen with the size they had.
#include "support/PanelRig.h"
#include "support/WaitUntil.h"
#include "ui/onboarding/OnboardingWindowController.h"
#include "ui/settings/SettingsWindowController.h"

#include <QScreen>
#include <QtTest>

class ReopenedWindowsX11Test : public QObject {
    Q_OBJECT
    TempDataDir data;

    template <typename Controller>
    static void reopensCentred(AppState& app)
    {
        Controller controller(app);
        QWidget* w = controller.window();
        controller.show();
        QVERIFY(QTest::qWaitForWindowExposed(w));
        const QSize size = w->size();
        const QPoint left(40, 30);
        w->move(left);
        QVERIFY(waitUntil([&] { return w->pos() == left; }));
        w->close(); // as the title bar's close button: only hidden
        QVERIFY(waitUntil([&] { return !w->isVisible(); }));
        controller.show();
        QVERIFY(QTest::qWaitForWindowExposed(w));
        // The frame's middle on the middle of the screen's free area, give or take the rounding of odd sizes.
        const auto offCentre = [w] { return w->frameGeometry().center() - w->screen()->availableGeometry().center(); };
        QVERIFY2(waitUntil([&] { return offCentre().manhattanLength() <= 2; }), qPrintable(QStringLiteral("at %1,%2").arg(w->x()).arg(w->y())));
        QCOMPARE(w->size(), size);
    }

private Q_SLOTS:
    void shownAgainCentredWithItsSize()
    {
        PanelRig rig(data);
        reopensCentred<OnboardingWindowController>(rig.build());
        reopensCentred<SettingsWindowController>(rig.app());
    }
};

QTEST_MAIN(ReopenedWindowsX11Test)
#include "ReopenedWindowsX11Test.moc"
