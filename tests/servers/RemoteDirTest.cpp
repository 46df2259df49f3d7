#include "servers/RemoteDir.h"

#include <QTest>

class RemoteDirTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void typedDirectories_data()
    {
        QTest::addColumn<QString>("dir");
        QTest::addColumn<bool>("valid");
        QTest::newRow("nested") << "~/work/tarnel-shots" << true;
        QTest::newRow("absolute") << "/srv/tarnel" << true;
        QTest::newRow("one absolute component") << "/data" << true;
        QTest::newRow("trailing slash") << "~/tarnel/" << true;
        QTest::newRow("hidden") << "~/.tarnel" << true;
        QTest::newRow("home itself") << "~/" << false;
        QTest::newRow("home bare") << "~" << false;
        QTest::newRow("root") << "/" << false;
        QTest::newRow("empty component") << "~/a//b" << false;
        QTest::newRow("dot") << "~/." << false;
        QTest::newRow("ssh folder") << "~/.ssh" << false;
        QTest::newRow("inside ssh folder") << "/home/me/.ssh/shots" << false;
        QTest::newRow("dot dot") << "~/tarnel/../.." << false;
        QTest::newRow("dot component") << "/srv/./x" << false;
        QTest::newRow("system folder slash") << "/etc/" << false;
        QTest::newRow("a home") << "/home/alice" << false;
        QTest::newRow("inside a home") << "/home/alice/tarnel" << true;
        QTest::newRow("under a system folder") << "/srv/x/tarnel" << true;
        QTest::newRow("relative") << "tarnel" << false;
        QTest::newRow("other home") << "~root/x" << false;
        QTest::newRow("blank") << "~/my shots" << false;
        QTest::newRow("backtick") << "~/`id`" << false;
        QTest::newRow("line break") << "~/a\nb" << false;
        QTest::newRow("tilde inside") << "~/a/~" << false;
        QTest::newRow("empty") << "" << false;
        QTest::newRow("too long") << "~/" + QString(300, QLatin1Char('a')) << false;
    }
    void typedDirectories()
    {
        QFETCH(QString, dir);
        QFETCH(bool, valid);
        QCOMPARE(RemoteDir::isValid(dir), valid);
    }

    void reportedBases_data()
    {
        QTest::addColumn<QString>("dir");
        QTest::addColumn<bool>("valid");
        QTest::newRow("home dir") << "/home/me/tarnel" << true;
        QTest::newRow("at and plus") << "/Users/a+b@x/tarnel" << true;
        QTest::newRow("root") << "/" << false;
        QTest::newRow("tilde") << "~/tarnel" << false;
        QTest::newRow("dot dot") << "/home/../etc" << false;
        QTest::newRow("blank") << "/home/a b" << false;
        QTest::newRow("empty") << "" << false;
    }
    void reportedBases()
    {
        QFETCH(QString, dir);
        QFETCH(bool, valid);
        QCOMPARE(RemoteDir::isValidAbsolute(dir), valid);
    }
};

QTEST_GUILESS_MAIN(RemoteDirTest)
#include "RemoteDirTest.moc"
