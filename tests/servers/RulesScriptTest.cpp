#include "servers/EmbeddedScripts.h"
#include "servers/RulesScript.h"
#include "state/Server.h"
#include "support/ScriptHome.h"
#include "support/TempDataDir.h"

#include <QFileInfo>
#include <QTest>

namespace {

ScriptHome::Run apply(const ScriptHome& home, const QStringList& wanted, const QString& dir = "~/tarnel/shots")
{
    return home.run(RulesScript::render(wanted, dir, EmbeddedScripts::load(QStringLiteral("rules.sh"))));
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
            try {
                RulesScript::render(wanted, dir, EmbeddedScripts::load(QStringLiteral("rules.sh")));
            } catch (const ScriptError&) {
                return true;
            }
            return false;
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

    void failureHasNoOkLine()
    {
        ScriptHome home;
        home.write(QStringLiteral(".codex"), "a file where a folder should be");
        const auto run = apply(home, {"codex"});
        QVERIFY(!RulesScript::parse(run.out));
        QVERIFY(!run.err.isEmpty());
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
