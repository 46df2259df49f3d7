// The idle lock through logind's D-Bus interface (a stand-in logind on a private bus), and the power source.
#include "platform/x11/LogindSleepInhibitor.h"
#include "support/FakeLogind.h"

#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

class LogindSleepInhibitorTest : public QObject {
    Q_OBJECT
    FakeLogind logind;

private Q_SLOTS:
    void powerSource_data()
    {
        // Each supply: "name:type:online:status".
        QTest::addColumn<QStringList>("supplies");
        QTest::addColumn<bool>("mains");
        QTest::newRow("no supplies") << QStringList{} << true;
        QTest::newRow("adapter online") << QStringList{"AC:Mains:1:", "BAT0:Battery::Charging"} << true;
        QTest::newRow("on battery") << QStringList{"AC:Mains:0:", "BAT0:Battery::Discharging"} << false;
        QTest::newRow("full battery, no adapter entry") << QStringList{"BAT0:Battery::Full"} << true;
        QTest::newRow("USB supply online") << QStringList{"BAT0:Battery::Discharging", "ucsi:USB:1:"} << true;
        QTest::newRow("two batteries, one discharging")
            << QStringList{"BAT0:Battery::Full", "BAT1:Battery::Discharging"} << false;
    }
    void powerSource()
    {
        QFETCH(QStringList, supplies);
        QFETCH(bool, mains);
        QTemporaryDir root;
        for (const QString& supply : supplies) {
            const QStringList f = supply.split(QLatin1Char(':'));
            QDir(root.path()).mkpath(f[0]);
            const QList<std::pair<QString, QString>> files{{"type", f[1]}, {"online", f[2]}, {"status", f[3]}};
            for (const auto& [name, value] : files) {
                if (value.isEmpty())
                    continue;
                QFile file(root.filePath(f[0] + QLatin1Char('/') + name));
                QVERIFY(file.open(QIODevice::WriteOnly));
                file.write(value.toUtf8() + '\n');
            }
        }
        QCOMPARE(LogindSleepInhibitor::onMainsPower(root.path()), mains);
        QVERIFY(LogindSleepInhibitor::onMainsPower(root.filePath("missing")));
    }

    void holdsAndReleasesTheIdleLock()
    {
        if (!FakeLogind::available())
            QSKIP("dbus-daemon is not installed");
        const QString problem = logind.start();
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", logind.address().toUtf8());

        LogindSleepInhibitor inhibitor;
        QSignalSpy lost(&inhibitor, &SleepInhibitor::lost);
        QSignalSpy held(&inhibitor, &SleepInhibitor::taken);
        QVERIFY(inhibitor.hold(QStringLiteral("tarnel：允许其他设备连接这台电脑")));
        QCOMPARE(held.size(), 0); // asked, not held yet
        QTRY_COMPARE(logind.manager().locksHeld(), 1);
        QTRY_COMPARE(held.size(), 1);
        const auto& taken = logind.manager().inhibitions().first();
        QCOMPARE(QStringList({taken.what, taken.who, taken.why, taken.mode}),
                 QStringList({"idle", "tarnel", "tarnel：允许其他设备连接这台电脑", "block"}));
        QTRY_VERIFY(inhibitor.holding());
        inhibitor.release();
        QTRY_COMPARE(logind.manager().locksHeld(), 0);

        // Released before logind answered: the lock it hands out is let go at once.
        QVERIFY(inhibitor.hold(QStringLiteral("x")));
        inhibitor.release();
        QTRY_COMPARE(logind.manager().inhibitions().size(), 2);
        QTRY_COMPARE(logind.manager().locksHeld(), 0);
        QVERIFY(!inhibitor.holding());

        logind.manager().refuse = true;
        QVERIFY(inhibitor.hold(QStringLiteral("y")));
        QTRY_COMPARE(lost.size(), 1);
        QVERIFY(!inhibitor.holding());
        QCOMPARE(held.size(), 1);
    }
};

QTEST_GUILESS_MAIN(LogindSleepInhibitorTest)
#include "LogindSleepInhibitorTest.moc"
