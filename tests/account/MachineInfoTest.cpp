// How this computer describes itself in check-ins.
#include "account/MachineInfo.h"

#include <QtTest>

class MachineInfoTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void systemAlwaysHasThreeNumbers_data()
    {
        QTest::addColumn<QString>("osRelease");
        QTest::addColumn<QString>("debianVersion");
        QTest::addColumn<QString>("system");
        const QString debian = QStringLiteral("PRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\nNAME=\"Debian GNU/Linux\"\nVERSION_ID=\"12\"\n");
        QTest::newRow("debian point release") << debian << "12.11\n" << "Debian GNU/Linux 12.11.0";
        QTest::newRow("debian testing") << debian << "trixie/sid\n" << "Debian GNU/Linux 12.0.0";
        QTest::newRow("no debian_version") << "NAME=Fedora Linux\nVERSION_ID=40\n" << "" << "Fedora Linux 40.0.0";
        QTest::newRow("three parts already") << "NAME='Ubuntu'\nVERSION_ID=\"22.04.4\"\n" << "" << "Ubuntu 22.04.4";
        QTest::newRow("more than three") << "NAME=X\nVERSION_ID=1.2.3.4\n" << "" << "X 1.2.3";
        QTest::newRow("no version") << "NAME=\"Arch Linux\"\n" << "" << "Arch Linux 0.0.0";
        QTest::newRow("nothing") << "" << "" << "Linux 0.0.0";
    }
    void systemAlwaysHasThreeNumbers()
    {
        QFETCH(QString, osRelease);
        QFETCH(QString, debianVersion);
        QFETCH(QString, system);
        QCOMPARE(MachineInfo::systemFrom(osRelease, debianVersion), system);
    }

    void readsThisMachine()
    {
        QVERIFY(MachineInfo::system().contains(QRegularExpression(QStringLiteral(" \\d+\\.\\d+\\.\\d+$"))));
        QVERIFY(!MachineInfo::model().contains(QLatin1Char('\n')));
    }
};

QTEST_GUILESS_MAIN(MachineInfoTest)
#include "MachineInfoTest.moc"
