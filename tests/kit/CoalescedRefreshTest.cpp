#include "ui/kit/CoalescedRefresh.h"

#include <QTest>
#include <QWidget>

class CoalescedRefreshTest : public QObject {
    Q_OBJECT

    struct Rig {
        QWidget view;
        int runs = 0;
        CoalescedRefresh* refresher = new CoalescedRefresh([this] { ++runs; }, &view);
        Rig() { refresher->onlyWhileShown(&view); }
        // Lets zero-delay timers fire.
        static void turn()
        {
            for (int i = 0; i < 3; ++i)
                QCoreApplication::processEvents();
        }
    };

private Q_SLOTS:
    // Shown: a burst of requests costs one refresh on the next turn of the event loop.
    void burstIsOneRefresh()
    {
        Rig rig;
        rig.view.show();
        rig.turn();
        for (int i = 0; i < 5; ++i)
            rig.refresher->request();
        QCOMPARE(rig.runs, 0);
        rig.turn();
        QCOMPARE(rig.runs, 1);
    }

    // Hidden: requests only mark the view out of date; it is refreshed once, as it is shown, before it paints.
    void hiddenViewIsRefreshedWhenShown()
    {
        Rig rig;
        for (int i = 0; i < 5; ++i)
            rig.refresher->request();
        rig.turn();
        QCOMPARE(rig.runs, 0);
        QVERIFY(rig.refresher->pending());
        rig.view.show();
        QCOMPARE(rig.runs, 1);
        rig.turn();
        QCOMPARE(rig.runs, 1);
        QVERIFY(!rig.refresher->pending());

        // Asked while shown, hidden before the turn came: waits for the next showing.
        rig.refresher->request();
        rig.view.hide();
        rig.turn();
        QCOMPARE(rig.runs, 1);
        rig.view.show();
        QCOMPARE(rig.runs, 2);

        // Shown again with nothing changed: no refresh.
        rig.view.hide();
        rig.view.show();
        rig.turn();
        QCOMPARE(rig.runs, 2);
    }

    // A flush (before a measurement or a screenshot) brings even a hidden view up to date.
    void flushRunsWhatWaits()
    {
        Rig rig;
        rig.refresher->flush();
        QCOMPARE(rig.runs, 0);
        rig.refresher->request();
        rig.refresher->flush();
        QCOMPARE(rig.runs, 1);
        rig.view.show();
        rig.turn();
        QCOMPARE(rig.runs, 1);
    }
};

QTEST_MAIN(CoalescedRefreshTest)
#include "CoalescedRefreshTest.moc"
