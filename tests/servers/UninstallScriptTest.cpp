#include "servers/EmbeddedScripts.h"
#include "servers/InstallScript.h"
#include "servers/UninstallScript.h"
#include "support/ScriptHome.h"
#include "support/TempDataDir.h"

#include <QDir>
#include <QFileInfo>
#include <QTest>

namespace {

const QString receiver = QStringLiteral("#!/bin/sh\nTARNEL_RECEIVER_VERSION=3\n");
const QString ourKey = QStringLiteral("ssh-ed25519 AAAAC3NzaC1lZDI1NTE5AAAAIOurKeyDataOurKeyDataOurKeyData0 tarnel@desk");
const QString otherKey = QStringLiteral("ssh-ed25519 AAAAC3NzaC1lZDI1NTE5AAAAIOtherMachineOtherMachineOther0 tarnel@desk");
const QString comment = QStringLiteral("tarnel@desk");

void install(const ScriptHome& home, const QString& dir)
{
    const auto run = home.run(InstallScript::render({dir, ourKey, comment},
        EmbeddedScripts::load(QStringLiteral("install.sh")), receiver));
    QVERIFY2(run.out.contains("TARNEL_INSTALL_OK"), qPrintable(run.out + run.err));
}

ScriptHome::Run uninstall(const ScriptHome& home, const QString& dir, bool purge, const QString& keyData)
{
    return home.run(UninstallScript::render(dir, comment, keyData, purge,
        EmbeddedScripts::load(QStringLiteral("uninstall.sh"))));
}

QStringList keyLines(const ScriptHome& home)
{
    return QString::fromUtf8(readFile(home.file(".ssh/authorized_keys"))).split('\n', Qt::SkipEmptyParts);
}

} // namespace

class UninstallScriptTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void removesOnlyThisMachinesLineByKeyData()
    {
        ScriptHome home;
        home.write(QStringLiteral(".ssh/authorized_keys"), (otherKey + "\nssh-ed25519 AAAAown me@laptop").toUtf8());
        install(home, QStringLiteral("~/tarnel"));
        QCOMPARE(keyLines(home).size(), 3);
        const auto run = uninstall(home, QStringLiteral("~/tarnel"), false, InstallScript::keyData(ourKey));
        QVERIFY2(run.out.contains("TARNEL_UNINSTALL_OK 1 0"), qPrintable(run.out + run.err));
        QCOMPARE(keyLines(home), (QStringList{otherKey, QStringLiteral("ssh-ed25519 AAAAown me@laptop")}));
        QCOMPARE(fileMode(home.file(".ssh/authorized_keys")), 0600);
        QVERIFY(!QFileInfo::exists(home.file("tarnel/bin/tarnel-receiver")));
        QVERIFY(QFileInfo::exists(home.file("tarnel/shots"))); // no purge: the shots stay
    }

    void withoutKeyDataTheCommentDecides()
    {
        ScriptHome home;
        home.write(QStringLiteral(".ssh/authorized_keys"), (otherKey + "\nssh-ed25519 AAAAown me@laptop\n").toUtf8());
        const auto run = uninstall(home, QStringLiteral("~/tarnel"), false, QString());
        QVERIFY2(run.out.contains("TARNEL_UNINSTALL_OK 1 0"), qPrintable(run.out + run.err));
        QCOMPARE(keyLines(home), QStringList{QStringLiteral("ssh-ed25519 AAAAown me@laptop")});
    }

    void nothingToRemoveLeavesTheFileAsItWas()
    {
        ScriptHome home;
        const QByteArray original = "ssh-ed25519 AAAAown me@laptop"; // no final line break
        home.write(QStringLiteral(".ssh/authorized_keys"), original);
        const auto run = uninstall(home, QStringLiteral("~/tarnel"), true, InstallScript::keyData(ourKey));
        QVERIFY2(run.out.contains("TARNEL_UNINSTALL_OK 0 1"), qPrintable(run.out + run.err));
        QCOMPARE(readFile(home.file(".ssh/authorized_keys")), original);
    }

    void purgeRemovesOnlyWhatTarnelMade()
    {
        ScriptHome home;
        install(home, QStringLiteral("~/tarnel"));
        home.write(QStringLiteral("tarnel/shots/20250101-120000-1.png"), "png");
        home.write(QStringLiteral("tarnel/shots/.20250101-120000-2.png.part"), "part");
        const auto run = uninstall(home, QStringLiteral("~/tarnel"), true, InstallScript::keyData(ourKey));
        QVERIFY2(run.out.contains("TARNEL_UNINSTALL_OK 1 1"), qPrintable(run.out + run.err));
        QVERIFY(!QFileInfo::exists(home.file("tarnel")));
        QVERIFY(QFileInfo(home.path()).isDir());
    }

    void purgeKeepsTheUsersOwnFiles()
    {
        // The user pointed tarnel at a folder that already held their own things.
        ScriptHome home;
        home.write(QStringLiteral("Pictures/holiday.png"), "mine");
        home.write(QStringLiteral("Pictures/shots/notes.txt"), "mine too");
        install(home, QStringLiteral("~/Pictures"));
        home.write(QStringLiteral("Pictures/shots/20250101-120000-1.png"), "png");
        const auto run = uninstall(home, QStringLiteral("~/Pictures"), true, InstallScript::keyData(ourKey));
        QVERIFY2(run.out.contains("TARNEL_UNINSTALL_OK 1 0"), qPrintable(run.out + run.err));
        QCOMPARE(readFile(home.file("Pictures/holiday.png")), QByteArray("mine"));
        QCOMPARE(readFile(home.file("Pictures/shots/notes.txt")), QByteArray("mine too"));
        QVERIFY(!QFileInfo::exists(home.file("Pictures/shots/20250101-120000-1.png")));
        QVERIFY(!QFileInfo::exists(home.file("Pictures/bin")));
        QVERIFY(!QFileInfo::exists(home.file("Pictures/.tarnel")));
    }

    void withoutMarkerTheFolderStays()
    {
        ScriptHome home;
        QDir(home.path()).mkpath(QStringLiteral("data/shots"));
        const auto run = uninstall(home, QStringLiteral("~/data"), true, QString());
        QVERIFY2(run.out.contains("TARNEL_UNINSTALL_OK 0 1"), qPrintable(run.out + run.err));
        QVERIFY(QFileInfo(home.file("data")).isDir()); // empty, but not ours
    }

    void homeAndRootCannotBeRendered()
    {
        const auto tmpl = EmbeddedScripts::load(QStringLiteral("uninstall.sh"));
        for (const char* dir : {"~/", "~", "/", "~/..", "~/a/../..", "/home/x y"}) {
            QString message;
            try {
                UninstallScript::render(QString::fromLatin1(dir), comment, QString(), true, tmpl);
            } catch (const ScriptError& error) {
                message = error.message;
            }
            QCOMPARE(message, QStringLiteral("远程目录只能是 ~/xxx 这种简单路径"));
        }
    }

    void resultLines_data()
    {
        QTest::addColumn<QString>("output");
        QTest::addColumn<int>("removed");
        QTest::addColumn<bool>("purged");
        QTest::addColumn<QString>("failure");
        QTest::newRow("ok") << "noise\nTARNEL_UNINSTALL_OK 2 1\n" << 2 << true << "";
        QTest::newRow("pty line ends") << "TARNEL_UNINSTALL_OK 1 0\r\n" << 1 << false << "";
        QTest::newRow("fail") << "TARNEL_UNINSTALL_FAIL authorized_keys\n" << -1 << false
                              << "服务器端移除失败：authorized_keys";
        QTest::newRow("none") << "bash: sh: not found\n" << -1 << false << "服务器端移除没有返回结果";
        QTest::newRow("prefix only") << "XTARNEL_UNINSTALL_OK 1 1\n" << -1 << false << "服务器端移除没有返回结果";
    }
    void resultLines()
    {
        QFETCH(QString, output);
        QFETCH(int, removed);
        QFETCH(bool, purged);
        QFETCH(QString, failure);
        QString message;
        const auto result = UninstallScript::parse(output, &message);
        QCOMPARE(result.has_value(), removed >= 0);
        if (result) {
            QCOMPARE(result->removedLines, removed);
            QCOMPARE(result->purged, purged);
        }
        QCOMPARE(message, failure);
    }
};

QTEST_GUILESS_MAIN(UninstallScriptTest)
#include "UninstallScriptTest.moc"
