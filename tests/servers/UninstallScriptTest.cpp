#include "servers/EmbeddedScripts.h"
#include "servers/InstallScript.h"
#include "servers/UninstallScript.h"
#include "support/ScriptHome.h"
#include "support/TempDataDir.h"

#include <QDir>
#include <QFile>
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
        EmbeddedScripts::load(QStringLiteral("install.sh")), receiver).value());
    QVERIFY2(run.out.contains("TARNEL_INSTALL_OK"), qPrintable(run.out + run.err));
}

ScriptHome::Run uninstall(const ScriptHome& home, const QString& dir, bool purge, const QString& keyData)
{
    return home.run(UninstallScript::render(dir, comment, keyData, purge,
        EmbeddedScripts::load(QStringLiteral("uninstall.sh"))).value());
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

    // Only key data tells this machine's line apart (another machine of the same name carries the same
    // comment): without key data, or with none matching, the file stays byte for byte.
    void unmatchedKeysLeaveTheFileAsItWas()
    {
        const QList<std::pair<QByteArray, QString>> cases {{(otherKey + "\nssh-ed25519 AAAAown me@laptop\n").toUtf8(), QString()},
            {"ssh-ed25519 AAAAown me@laptop", InstallScript::keyData(ourKey)}}; // no final line break
        for (const auto& [keys, keyData] : cases) {
            ScriptHome home;
            home.write(QStringLiteral(".ssh/authorized_keys"), keys);
            const auto run = uninstall(home, QStringLiteral("~/tarnel"), true, keyData);
            QVERIFY2(run.out.contains("TARNEL_UNINSTALL_OK 0 "), qPrintable(run.out + run.err));
            QCOMPARE(readFile(home.file(".ssh/authorized_keys")), keys);
        }
    }

    void purgeRemovesOnlyWhatTarnelMade()
    {
        ScriptHome home;
        install(home, QStringLiteral("~/tarnel"));
        home.write(QStringLiteral("tarnel/shots/20250101-120000-1.png"), "png");
        home.write(QStringLiteral("tarnel/shots/.20250101-120000-2.png.part.x1Y2z3"), "part");
        home.write(QStringLiteral("tarnel/shots/.20250101-120000-3.png.4711.part"), "part of an earlier version");
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

    // Nothing here is provably tarnel's, so every file stays.
    void purgeKeepsWhatIsNotTarnels_data()
    {
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QString>("shotsLinkTo");
        QTest::addColumn<bool>("marker");
        QTest::newRow("look-alike names") << QStringList{"t/shots/2023-05-01 family.jpg", "t/shots/1-2-3.png",
            "t/shots/20240101-000000-1.png.jpg"} << QString() << true;
        QTest::newRow("shots folder links to pictures") << QStringList{"Pictures/20240101-000000-1.png",
            "Pictures/20240101-000000-2.jpg", "Pictures/3-4-5.png"} << "Pictures" << true;
        QTest::newRow("no marker") << QStringList{"t/shots/20240101-000000-1.png"} << QString() << false;
    }
    void purgeKeepsWhatIsNotTarnels()
    {
        QFETCH(QStringList, files);
        QFETCH(QString, shotsLinkTo);
        QFETCH(bool, marker);
        ScriptHome home;
        QDir(home.path()).mkpath(QStringLiteral("t"));
        for (const QString& file : files)
            home.write(file, "mine");
        if (!shotsLinkTo.isEmpty())
            QVERIFY(QFile::link(home.file(shotsLinkTo), home.file("t/shots")));
        if (marker)
            home.write(QStringLiteral("t/.tarnel"), "");
        const auto run = uninstall(home, QStringLiteral("~/t"), true, InstallScript::keyData(ourKey));
        QVERIFY2(run.out.contains("TARNEL_UNINSTALL_OK 0 0"), qPrintable(run.out + run.err));
        for (const QString& file : files)
            QCOMPARE(readFile(home.file(file)), QByteArray("mine"));
    }

    // The home, written another way or reached through a link, is never taken for the base folder.
    void homeIsNeverTheBase_data()
    {
        QTest::addColumn<QString>("base");
        QTest::addColumn<QString>("homeBelow");
        QTest::addColumn<QString>("homeSuffix");
        QTest::newRow("home with a trailing slash") << "{home}" << QString() << "/";
        QTest::newRow("base links to the home") << "~/t" << QString() << QString();
        QTest::newRow("base above the home") << "{home}" << "h" << QString();
    }
    void homeIsNeverTheBase()
    {
        QFETCH(QString, base);
        QFETCH(QString, homeBelow);
        QFETCH(QString, homeSuffix);
        ScriptHome home;
        home.write(QStringLiteral(".tarnel"), "");
        home.write(QStringLiteral("shots/20240101-000000-1.png"), "mine");
        QDir(home.path()).mkpath(QStringLiteral("h"));
        QVERIFY(QFile::link(home.path(), home.file("t")));
        const QString homeDir = (homeBelow.isEmpty() ? home.path() : home.file(homeBelow)) + homeSuffix;
        const auto run = home.run(UninstallScript::render(QString(base).replace("{home}", home.path()), comment,
                                      InstallScript::keyData(ourKey), true,
                                      EmbeddedScripts::load(QStringLiteral("uninstall.sh"))).value(),
            {{QStringLiteral("HOME"), homeDir}});
        QVERIFY2(run.out.contains("TARNEL_UNINSTALL_FAIL badbase"), qPrintable(run.out + run.err));
        QCOMPARE(readFile(home.file("shots/20240101-000000-1.png")), QByteArray("mine"));
        QVERIFY(QFileInfo::exists(home.file(".tarnel")));
    }

    void homeAndRootCannotBeRendered()
    {
        const auto tmpl = EmbeddedScripts::load(QStringLiteral("uninstall.sh"));
        for (const char* dir : {"~/", "~", "/", "~/..", "~/a/../..", "/home/x y"})
            QCOMPARE(UninstallScript::render(QString::fromLatin1(dir), comment, QString(), true, tmpl).failure(),
                     QStringLiteral("远程目录只能是 ~/xxx 这种简单路径"));
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
        const auto result = UninstallScript::parse(output);
        QCOMPARE(result.ok(), removed >= 0);
        if (result.ok()) {
            QCOMPARE(result.value().removedLines, removed);
            QCOMPARE(result.value().purged, purged);
        }
        QCOMPARE(result.failure(), failure);
    }
};

QTEST_GUILESS_MAIN(UninstallScriptTest)
#include "UninstallScriptTest.moc"
