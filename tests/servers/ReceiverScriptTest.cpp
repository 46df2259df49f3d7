#include "support/ScriptHome.h"
#include "support/TempDataDir.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTest>

namespace {
const QString shot = QStringLiteral("20240105-101010-1.png");
}

// The receiver run as the forced command runs it, in a throw-away home with its base at ~/t.
class ReceiverScriptTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void putKeepsItsWordInEveryShell_data()
    {
        QTest::addColumn<QString>("shell");
        QTest::addColumn<QString>("run");
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QString>("reply");
        // $$ of the planting shell is the receiver's pid after exec: the part names it tries first.
        const QString part = "t/shots/." + shot + ".part.$$.";
        const QList<std::array<QString, 4>> cases {{"whole", ":", "12345", "ok"}, {"short", ":", "1234", "err short"},
            {"long", ":", "123456", "err badsize"}, {"link at the final name", "ln -s \"$HOME/outside\" t/shots/" + shot, "12345", "ok"},
            {"link at the part name", "ln -s \"$HOME/outside\" " + part + "0", "12345", "ok"},
            {"link to a device at the part name", "ln -s /dev/null " + part + "0", "12345", "ok"},
            {"every part name taken", "for i in 0 1 2 3 4 5 6 7 8 9; do mkdir " + part + "$i; done", "12345", "err write"}};
        for (const QString shell : {"sh", "bash", "busybox sh"})
            for (const auto& [name, plant, input, reply] : cases)
                QTest::newRow(qPrintable(shell + ", " + name)) << shell << plant + "; exec " + shell + " t/bin/tarnel-receiver put " + shot + " 5" << input.toUtf8() << reply;
    }
    void putKeepsItsWordInEveryShell()
    {
        QFETCH(QString, shell);
        QFETCH(QString, run);
        QFETCH(QByteArray, input);
        QFETCH(QString, reply);
        if (QStandardPaths::findExecutable(shell.section(' ', 0, 0)).isEmpty())
            QSKIP("that shell is not installed");
        ScriptHome home;
        home.installReceiver(QStringLiteral("t"));
        home.write(QStringLiteral("outside"), "mine");
        const auto done = home.shell(run, input);
        QVERIFY2(done.out.startsWith(reply), qPrintable(done.out + done.err));
        QCOMPARE(readFile(home.file("outside")), QByteArray("mine"));
        QCOMPARE(readFile(home.file("t/shots/" + shot)), reply == "ok" ? QByteArray("12345") : QByteArray());
        // Nothing of the receiver's own is left beside the shot: only what was planted.
        for (const QFileInfo& left : QDir(home.file("t/shots")).entryInfoList(QDir::Hidden | QDir::System | QDir::AllEntries | QDir::NoDotAndDotDot))
            QVERIFY2(left.isSymLink() || left.isDir() || left.fileName() == shot, qPrintable(left.fileName()));
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
