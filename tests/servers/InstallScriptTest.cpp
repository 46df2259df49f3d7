#include "servers/EmbeddedScripts.h"
#include "servers/InstallScript.h"
#include "support/ScriptHome.h"
#include "support/TempDataDir.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>

namespace {

const QString receiver = QStringLiteral("\n#!/bin/sh\nTARNEL_RECEIVER_VERSION=3\necho receiver \"$@\"\n\n");
const QString ourKey = QStringLiteral("ssh-ed25519 AAAAC3NzaC1lZDI1NTE5AAAAIOurKeyDataOurKeyDataOurKeyData0 tarnel@desk");
const QString otherKey = QStringLiteral("ssh-ed25519 AAAAC3NzaC1lZDI1NTE5AAAAIOtherMachineOtherMachineOther0 tarnel@desk");
const QString comment = QStringLiteral("tarnel@desk");

QString errorOf(const Outcome<QString>& rendered) { return rendered.ok() ? QStringLiteral("<rendered>") : rendered.failure(); }

Outcome<QString> renderInstall(const QString& dir, const QString& line = ourKey)
{
    return InstallScript::render({dir, line, comment}, EmbeddedScripts::load(QStringLiteral("install.sh")), receiver);
}

} // namespace

class InstallScriptTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // The directory check is RemoteDir's (tested there); these rows prove render applies it.
    void refusals_data()
    {
        QTest::addColumn<QString>("dir");
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("message");
        const QString badDir = QStringLiteral("远程目录只能是 ~/xxx 这种简单路径");
        QTest::newRow("backtick") << "~/`touch x`" << ourKey << badDir;
        QTest::newRow("placeholder key") << "~/tarnel" << QStringLiteral("ssh-ed25519 AAAA… tarnel@desk")
                                         << QStringLiteral("本机钥匙的公钥行不对");
        QTest::newRow("rsa key") << "~/tarnel" << QStringLiteral("ssh-rsa AAAAB3Nza tarnel@desk")
                                 << QStringLiteral("本机钥匙的公钥行不对");
        QTest::newRow("key with options") << "~/tarnel"
                                          << QStringLiteral("command=\"x\" ssh-ed25519 AAAA tarnel@desk")
                                          << QStringLiteral("本机钥匙的公钥行不对");
        QTest::newRow("key line break") << "~/tarnel" << ourKey + "\nssh-ed25519 AAAA tarnel@x"
                                        << QStringLiteral("本机钥匙的公钥行不对");
    }
    void refusals()
    {
        QFETCH(QString, dir);
        QFETCH(QString, line);
        QFETCH(QString, message);
        QCOMPARE(errorOf(renderInstall(dir, line)), message);
    }

    void missingTextsAndHeredocEnd()
    {
        QVERIFY(!EmbeddedScripts::load(QStringLiteral("../CMakeLists.txt")));
        const auto tmpl = EmbeddedScripts::load(QStringLiteral("install.sh"));
        QCOMPARE(errorOf(InstallScript::render({"~/t", ourKey, "tarnel@ bad"}, tmpl, receiver)),
            QStringLiteral("本机钥匙的注释不对"));
        QCOMPARE(errorOf(InstallScript::render({"~/t", ourKey, comment}, std::nullopt, receiver)),
            QStringLiteral("找不到内嵌的脚本：install.sh"));
        QCOMPARE(errorOf(InstallScript::render({"~/t", ourKey, comment}, tmpl, std::nullopt)),
            QStringLiteral("找不到内嵌的脚本：tarnel-receiver"));
        QCOMPARE(errorOf(InstallScript::render({"~/t", ourKey, comment}, tmpl, "a\nTARNEL_RECEIVER_EOF\nb")),
            QStringLiteral("接收器里不能出现 heredoc 结束符"));
        const auto device = EmbeddedScripts::load(QStringLiteral("install-device.sh"));
        QCOMPARE(errorOf(InstallScript::renderDevice("~/t", device, "x TARNEL_RECEIVER_EOF")),
            QStringLiteral("接收器里不能出现 heredoc 结束符"));
        QCOMPARE(errorOf(InstallScript::renderDevice("~/t", std::nullopt, receiver)),
            QStringLiteral("找不到内嵌的脚本：install-device.sh"));
        QCOMPARE(errorOf(InstallScript::renderDevice("~/`reboot`", device, receiver)), QStringLiteral("远程目录只能是 ~/xxx 这种简单路径"));
    }

    void installPutsReceiverAndRestrictedLine()
    {
        ScriptHome home;
        home.write(QStringLiteral(".ssh/authorized_keys"),
            (QStringLiteral("ssh-ed25519 AAAAuserOwnKey me@laptop\n") + otherKey + "\n" + ourKey).toUtf8());
        const ScriptHome::Run first = home.run(renderInstall(QStringLiteral("~/shots-base")).value());
        QCOMPARE(first.status, 0);
        const QString abs = QFileInfo(home.file("shots-base")).canonicalFilePath();
        QVERIFY2(first.out.contains("TARNEL_INSTALL_OK 3 " + abs + "\n"), qPrintable(first.out + first.err));
        QVERIFY(first.out.startsWith("TARNEL_HOSTNAME "));
        QCOMPARE(readFile(home.file("shots-base/bin/tarnel-receiver")),
            QByteArray("#!/bin/sh\nTARNEL_RECEIVER_VERSION=3\necho receiver \"$@\"\n"));
        QCOMPARE(fileMode(home.file("shots-base/bin/tarnel-receiver")), 0755);
        QVERIFY(QFileInfo::exists(home.file("shots-base/.tarnel")));
        QVERIFY(QFileInfo(home.file("shots-base/shots")).isDir());
        QCOMPARE(fileMode(home.file(".ssh")), 0700);
        QCOMPARE(fileMode(home.file(".ssh/authorized_keys")), 0600);

        // A second run replaces our own line and leaves the user's and another machine's lines alone, even
        // though that machine's key carries the same comment.
        QCOMPARE(home.run(renderInstall(QStringLiteral("~/shots-base")).value()).status, 0);
        const QStringList lines = QString::fromUtf8(readFile(home.file(".ssh/authorized_keys")))
                                      .split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines, (QStringList{QStringLiteral("ssh-ed25519 AAAAuserOwnKey me@laptop"), otherKey,
                            "restrict,command=\"" + abs + "/bin/tarnel-receiver\" " + ourKey}));
    }

    void installDeviceLeavesSshAlone()
    {
        ScriptHome home;
        const QString script = InstallScript::renderDevice(QStringLiteral("~/tarnel"),
            EmbeddedScripts::load(QStringLiteral("install-device.sh")), receiver).value();
        const ScriptHome::Run run = home.run(script);
        QCOMPARE(run.status, 0);
        QVERIFY2(run.out.contains("TARNEL_INSTALL_OK 3 /"), qPrintable(run.out + run.err));
        QVERIFY(readFile(home.file("tarnel/bin/tarnel-receiver")).startsWith("#!/bin/sh\n")); // trimmed to run
        QVERIFY(!QFileInfo::exists(home.file(".ssh")));
    }

    void installNeverWritesThroughALink_data()
    {
        QTest::addColumn<QString>("plantedAt");
        QTest::addColumn<QString>("result");
        QTest::newRow("temporary receiver name") << "t/bin/tarnel-receiver.new" << "TARNEL_INSTALL_OK";
        QTest::newRow("marker") << "t/.tarnel" << "TARNEL_INSTALL_FAIL marker";
    }
    void installNeverWritesThroughALink()
    {
        QFETCH(QString, plantedAt);
        QFETCH(QString, result);
        ScriptHome home;
        home.write(QStringLiteral("outside"), "mine");
        QFile::setPermissions(home.file("outside"), QFile::ReadOwner | QFile::WriteOwner);
        QDir(home.path()).mkpath(QStringLiteral("t/bin"));
        QVERIFY(QFile::link(home.file("outside"), home.file(plantedAt)));
        const auto run = home.run(renderInstall(QStringLiteral("~/t")).value());
        QVERIFY2(run.out.contains(result), qPrintable(run.out + run.err));
        QCOMPARE(readFile(home.file("outside")), QByteArray("mine"));
        QCOMPARE(fileMode(home.file("outside")), 0600);
        if (run.status == 0)
            QVERIFY(!QFileInfo(home.file("t/bin/tarnel-receiver")).isSymLink());
    }

    void homeWithASpaceIsRefused()
    {
        ScriptHome home;
        QDir(home.path()).mkpath(QStringLiteral("a b"));
        const auto run = home.run(renderInstall(QStringLiteral("~/t")).value(), {{QStringLiteral("HOME"), home.file("a b")}});
        const auto installed = InstallScript::parse(run.out);
        QVERIFY(installed && !installed->ok());
        QCOMPARE(installed->failure(), "服务器上的目录路径里有空格或特殊字符（" + home.file("a b/t")
                + "），tarnel 用不了：换一个路径只含字母、数字和 ._- 的目录");
        QVERIFY(!QFileInfo::exists(home.file("a b/.ssh/authorized_keys")));
    }

    void resultLines_data()
    {
        QTest::addColumn<QString>("output");
        QTest::addColumn<QString>("base");
        QTest::addColumn<QString>("failure");
        QTest::newRow("ok") << "TARNEL_HOSTNAME h\nTARNEL_INSTALL_OK 3 /home/me/t\r\n" << "/home/me/t" << "";
        QTest::newRow("base with a space") << "TARNEL_INSTALL_OK 3 /home/a b/t\n" << ""
                                           << "服务器端报回的目录不安全，没有采用";
        QTest::newRow("fail") << "TARNEL_INSTALL_FAIL mkdir\n" << "" << "服务器端安装失败：mkdir";
    }
    void resultLines()
    {
        QFETCH(QString, output);
        QFETCH(QString, base);
        QFETCH(QString, failure);
        const auto installed = InstallScript::parse(output);
        QCOMPARE(installed && installed->ok() ? installed->value().base : QString(), base);
        QCOMPARE(installed && !installed->ok() ? installed->failure() : QString(), failure);
    }

    void failureIsReported()
    {
        ScriptHome home;
        home.write(QStringLiteral("blocked"), "a file where a folder should be");
        const ScriptHome::Run run = home.run(renderInstall(QStringLiteral("~/blocked")).value());
        QVERIFY(run.status != 0);
        QVERIFY2(run.out.contains("TARNEL_INSTALL_FAIL mkdir"), qPrintable(run.out));
        QVERIFY(!run.out.contains("TARNEL_INSTALL_OK"));
        QVERIFY(!QFileInfo::exists(home.file(".ssh/authorized_keys")));
    }
};

QTEST_GUILESS_MAIN(InstallScriptTest)
#include "InstallScriptTest.moc"
