#include "support/ScriptHome.h"
#include "support/TempDataDir.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>

namespace {
const QString shot = QStringLiteral("20240105-101010-1.png");
}

// The receiver run as the forced command runs it, in a throw-away home with its base at ~/t.
class ReceiverScriptTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void putNeverWritesThroughALink_data()
    {
        QTest::addColumn<QString>("plant");
        // $$ of the planting shell is the receiver's pid after exec: the name an earlier version used.
        QTest::newRow("at the temporary name") << "ln -s \"$HOME/outside\" t/shots/." + shot + ".$$.part";
        QTest::newRow("at the final name") << "ln -s \"$HOME/outside\" t/shots/" + shot;
    }
    void putNeverWritesThroughALink()
    {
        QFETCH(QString, plant);
        ScriptHome home;
        home.installReceiver(QStringLiteral("t"));
        home.write(QStringLiteral("outside"), "mine");
        const auto run = home.shell(plant + "; exec sh t/bin/tarnel-receiver put " + shot + " 5", "12345");
        QVERIFY2(run.out.startsWith("ok "), qPrintable(run.out + run.err));
        QCOMPARE(readFile(home.file("outside")), QByteArray("mine"));
        QVERIFY(!QFileInfo(home.file("t/shots/" + shot)).isSymLink());
        QCOMPARE(readFile(home.file("t/shots/" + shot)), QByteArray("12345"));
    }

    // More shots than one argument list can carry (the limit lowered here to keep the test small).
    void purgeReachesEveryShot()
    {
        ScriptHome home;
        home.installReceiver(QStringLiteral("t"));
        const int count = 6000;
        for (int i = 0; i < count; ++i) {
            QFile file(home.file(QStringLiteral("t/shots/20240101-%1-%2.png").arg(i / 10, 6, 10, QLatin1Char('0')).arg(i % 10)));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("x");
        }
        home.write(QStringLiteral("t/shots/notes.txt"), "mine");
        const auto run = home.shell(QStringLiteral("ulimit -s 256; exec sh t/bin/tarnel-receiver purge 24 0"));
        QCOMPARE(run.out, QStringLiteral("ok %1\n").arg(count));
        QCOMPARE(QDir(home.file("t/shots")).entryList(QDir::Files), QStringList{QStringLiteral("notes.txt")});
    }
};

QTEST_GUILESS_MAIN(ReceiverScriptTest)
#include "ReceiverScriptTest.moc"
