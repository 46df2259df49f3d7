#include "ui/kit/CoalescedRefresh.h"

#include <QTest>

class CoalescedRefreshTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // A burst of requests is one refresh on the next turn; a request after it is another; flush runs a
    // pending one at once and only then.
    void burstsBecomeOneRefresh()
    {
        int runs = 0;
        CoalescedRefresh refresh([&runs] { ++runs; });
        for (int i = 0; i < 5; ++i)
            refresh.request();
        QCOMPARE(runs, 0);
        QTRY_COMPARE(runs, 1);
        QCoreApplication::processEvents();
        QCOMPARE(runs, 1);

        refresh.request();
        refresh.flush();
        QCOMPARE(runs, 2);
        refresh.flush();
        QCoreApplication::processEvents();
        QCOMPARE(runs, 2);
    }
};

QTEST_MAIN(CoalescedRefreshTest)
#include "CoalescedRefreshTest.moc"
