#include "servers/EmbeddedScripts.h"
#include "servers/RulesScript.h"
#include "state/Server.h"
#include "support/ScriptHome.h"
#include "support/TempDataDir.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QTest>

namespace {

ScriptHome::Run apply(const ScriptHome& home, const QStringList& wanted, const QString& dir = "~/tarnel/shots")
{
    return home.run(RulesScript::render(wanted, dir, EmbeddedScripts::load(QStringLiteral("rules.sh"))).value());
}

} // namespace

class RulesScriptTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void shotsDirectoryForTheRuleText()
    {
        Server server;
        server.remoteDir = QStringLiteral("~/tarnel");
        server.setup.remoteDirAbsolute = QStringLiteral("/home/me/tarnel");
        QCOMPARE(RulesScript::shotsDir(server), QStringLiteral("~/tarnel/shots"));
        server.remoteDir = QStringLiteral("/srv/t");
        QCOMPARE(RulesScript::shotsDir(server), QStringLiteral("/home/me/tarnel/shots"));
        server.setup.remoteDirAbsolute.reset();
        QCOMPARE(RulesScript::shotsDir(server), QStringLiteral("/srv/t/shots"));
    }

    void refusesUnknownToolsAndOddDirectories()
    {
        const auto refused = [](const QStringList& wanted, const QString& dir) {
            return !RulesScript::render(wanted, dir, EmbeddedScripts::load(QStringLiteral("rules.sh"))).ok();
        };
        QVERIFY(refused({"claude", "vim"}, "~/tarnel/shots"));
        QVERIFY(refused({"claude; rm -rf ~"}, "~/tarnel/shots"));
        for (const char* dir : {"~/a b/shots", "~/x\nTARNEL_RULES_EOF\n/shots", "~/`id`/shots"})
            QVERIFY2(refused({"claude"}, QString::fromLatin1(dir)), dir);
    }

    void blocksAreWrittenUpdatedAndRemoved()
    {
        ScriptHome home;
        const QByteArray own = "# My rules\n\nAlways answer briefly.\n";
        home.write(QStringLiteral(".claude/CLAUDE.md"), own);

        auto run = apply(home, {"claude", "gemini"});
        QVERIFY2(run.out.contains("TARNEL_RULES_OK claude,gemini\n"), qPrintable(run.out + run.err));
        const QString claude = QString::fromUtf8(readFile(home.file(".claude/CLAUDE.md")));
        QCOMPARE(claude, QString::fromUtf8(own) + "\n" + RulesScript::ruleText("~/tarnel/shots") + "\n");
        QCOMPARE(readFile(home.file(".claude/CLAUDE.md.tarnel.bak")), own);
        QCOMPARE(QString::fromUtf8(readFile(home.file(".gemini/GEMINI.md"))),
            RulesScript::ruleText("~/tarnel/shots") + "\n");
        QVERIFY(!QFileInfo::exists(home.file(".codex/AGENTS.md")));

        // Applying again changes nothing, and a changed folder replaces the block instead of adding one.
        QVERIFY(apply(home, {"claude", "gemini"}).out.contains("TARNEL_RULES_OK claude,gemini"));
        QCOMPARE(QString::fromUtf8(readFile(home.file(".claude/CLAUDE.md"))), claude);
        QVERIFY(apply(home, {"claude"}, "/srv/t/shots").out.contains("TARNEL_RULES_OK claude\n"));
        const QString moved = QString::fromUtf8(readFile(home.file(".claude/CLAUDE.md")));
        QCOMPARE(moved.count(">>> tarnel 截图规则"), 1);
        QVERIFY(moved.contains("`shotN: /srv/t/shots/xxxx.png`"));
        QVERIFY(!readFile(home.file(".gemini/GEMINI.md")).contains("tarnel 截图规则"));

        // The user edits their text; removing every block leaves their text exactly as it is.
        home.write(QStringLiteral(".claude/CLAUDE.md"), ("# My rules\n\nNew line.\n\n" + moved.section("\n\n", 2)).toUtf8());
        run = apply(home, {});
        QVERIFY2(run.out.contains("TARNEL_RULES_OK \n") || run.out.endsWith("TARNEL_RULES_OK\n"), qPrintable(run.out));
        QCOMPARE(readFile(home.file(".claude/CLAUDE.md")), QByteArray("# My rules\n\nNew line.\n"));
    }

    // Taking the block out gives back the user's file byte for byte; putting it in twice gives one block.
    void roundTripIsByteExact_data()
    {
        QTest::addColumn<QByteArray>("original");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("one line break") << QByteArray("\n");
        QTest::newRow("no final line break") << QByteArray("abc");
        QTest::newRow("blank line at the end") << QByteArray("abc\n\n");
        QTest::newRow("blanks only") << QByteArray("  \n");
        QTest::newRow("leading blank lines") << QByteArray("\n\nabc");
        QTest::newRow("crlf") << QByteArray("a\r\nb\r\n");
    }
    void roundTripIsByteExact()
    {
        QFETCH(QByteArray, original);
        ScriptHome home;
        home.write(QStringLiteral(".claude/CLAUDE.md"), original);
        QVERIFY(apply(home, {"claude"}).out.contains("TARNEL_RULES_OK claude"));
        QVERIFY(apply(home, {"claude"}, "/srv/t/shots").out.contains("TARNEL_RULES_OK claude"));
        QCOMPARE(readFile(home.file(".claude/CLAUDE.md")).count("tarnel 截图规则（"), 1);
        QVERIFY(apply(home, {}).out.contains("TARNEL_RULES_OK"));
        QCOMPARE(readFile(home.file(".claude/CLAUDE.md")), original);
        QCOMPARE(readFile(home.file(".claude/CLAUDE.md.tarnel.bak")), original); // the first copy is kept
    }

    void handEditedBlocks_data()
    {
        const QByteArray rule = RulesScript::ruleText("~/tarnel/shots").toUtf8();
        const QByteArray start = rule.left(rule.indexOf('\n') + 1);
        const QByteArray body = rule.mid(start.size(), rule.lastIndexOf('\n') + 1 - start.size());
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QStringList>("wanted");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("end marker edited away") << "own\n\n" + start + body + "after\nmore\n" << QStringList()
                                                << QByteArray("own\nafter\nmore\n");
        QTest::newRow("crlf block is recognised") << "own\r\n\r\n" + QByteArray(rule).replace("\n", "\r\n") + "\r\n"
                                                  << QStringList{"claude"} << "own\r\n\r\n" + QByteArray(rule).replace("\n", "\r\n") + "\r\n";
        QTest::newRow("crlf block is removed") << "own\r\n\r\n" + QByteArray(rule).replace("\n", "\r\n") + "\r\n"
                                               << QStringList() << QByteArray("own\r\n");
    }
    void handEditedBlocks()
    {
        QFETCH(QByteArray, file);
        QFETCH(QStringList, wanted);
        QFETCH(QByteArray, expected);
        ScriptHome home;
        home.write(QStringLiteral(".claude/CLAUDE.md"), file);
        const auto run = apply(home, wanted);
        QVERIFY2(run.out.contains("TARNEL_RULES_OK " + wanted.join(",") + "\n"), qPrintable(run.out + run.err));
        QCOMPARE(readFile(home.file(".claude/CLAUDE.md")), expected);
    }

    // A folder where the file should be, or a file where the folder should be: no OK line, no temporary left.
    void failedRunLeavesNothingBehind()
    {
        for (const QString& planted : {QStringLiteral(".claude/CLAUDE.md/"), QStringLiteral(".claude")}) {
            ScriptHome home;
            planted.endsWith('/') ? void(QDir(home.path()).mkpath(planted)) : home.write(planted, "in the way");
            QVERIFY(!RulesScript::parse(apply(home, {"claude"}).out));
            QDirIterator it(home.path(), QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
            while (it.hasNext())
                QVERIFY2(!it.next().contains("tarnel-new"), qPrintable(it.filePath()));
        }
    }

    void resultLine()
    {
        QCOMPARE(RulesScript::parse("TARNEL_RULES_OK gemini,claude\r\n"), (QStringList{"claude", "gemini"}));
        QCOMPARE(RulesScript::parse("TARNEL_RULES_OK \n"), QStringList());
        QCOMPARE(RulesScript::parse("TARNEL_RULES_OK\n"), QStringList());
        QVERIFY(!RulesScript::parse("nothing\n"));
    }
};

QTEST_GUILESS_MAIN(RulesScriptTest)
#include "RulesScriptTest.moc"
