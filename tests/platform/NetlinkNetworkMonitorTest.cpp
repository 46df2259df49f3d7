// The network monitor against interfaces added and removed in a network namespace of the test's own.
#include "platform/ProcessRunner.h"
#include "platform/x11/NetlinkNetworkMonitor.h"

#include <QSignalSpy>
#include <QStandardPaths>
#include <QtTest>

#include <sched.h>
#include <unistd.h>

class NetlinkNetworkMonitorTest : public QObject {
    Q_OBJECT
    QString ip = QStandardPaths::findExecutable(QStringLiteral("ip"));

    bool run(const QString& command) const
    {
        return ProcessRunner::run(ip, command.split(QLatin1Char(' ')), std::nullopt, 10).succeeded();
    }

private Q_SLOTS:
    void initTestCase()
    {
        if (ip.isEmpty())
            QSKIP("ip (iproute2) is not installed");
        if (::geteuid() != 0)
            QSKIP("network namespaces need root");
        // This thread, and every program it starts, now sees a network of its own with only loopback.
        if (::unshare(CLONE_NEWNET) != 0)
            QSKIP("network namespaces are not available here");
    }

    void reportsInterfacesComingAndGoing()
    {
        NetlinkNetworkMonitor monitor;
        QSignalSpy keys(&monitor, &NetworkMonitor::pathChanged);
        const auto last = [&] { return keys.isEmpty() ? QString() : keys.last().first().toString(); };
        monitor.start();
        QTRY_COMPARE(last(), QStringLiteral("|unsatisfied"));
        QVERIFY(run(QStringLiteral("link set lo up")));

        // A dummy interface where the kernel has the module, else one end of a veth pair.
        const bool dummy = run(QStringLiteral("link add tn0 type dummy"));
        QVERIFY(dummy || run(QStringLiteral("link add tn0 type veth peer name tn1")));
        QVERIFY(run(QStringLiteral("addr add 10.77.0.1/24 dev tn0")));
        QVERIFY(run(QStringLiteral("link set tn0 up")));
        if (!dummy)
            QVERIFY(run(QStringLiteral("link set tn1 up"))); // carrier for tn0; tn1 gets only a link-local address
        QTRY_COMPARE(last(), QStringLiteral("tn0|satisfied"));

        QVERIFY(run(QStringLiteral("link del tn0")));
        QTRY_COMPARE(last(), QStringLiteral("|unsatisfied"));

        monitor.stop();
        const qsizetype seen = keys.size();
        QVERIFY(run(QStringLiteral("link add tn2 type veth peer name tn3")));
        QCoreApplication::processEvents();
        QCOMPARE(keys.size(), seen);
    }
};

QTEST_GUILESS_MAIN(NetlinkNetworkMonitorTest)
#include "NetlinkNetworkMonitorTest.moc"
