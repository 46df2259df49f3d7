// The device ssh files as ssh itself reads them back: `ssh -G` for the Host blocks, `ssh-keygen -F` for the
// pinned host keys; hostile peer records must not reach either file.
#include "link/LinkSSHConfig.h"
#include "support/PeerRecords.h"
#include "support/TempDataDir.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QString runTool(const QString& program, const QStringList& args, int* exitCode = nullptr)
{
    QProcess tool;
    tool.start(program, args);
    tool.waitForFinished(20000);
    if (exitCode)
        *exitCode = tool.exitCode();
    return QString::fromUtf8(tool.readAllStandardOutput());
}

// What `ssh -G` resolves for a host, keys lower-cased; quotes and ssh's %% escapes undone, as ssh does
// when it uses the values.
QHash<QString, QString> resolved(const QString& configPath, const QString& host)
{
    QHash<QString, QString> options;
    for (const QString& line : runTool(QStringLiteral("ssh"), {"-G", "-F", configPath, "--", host}).split('\n')) {
        QString value = line.section(' ', 1);
        value.remove('"').replace(QStringLiteral("%%"), QStringLiteral("%"));
        options.insert(line.section(' ', 0, 0).toLower(), value);
    }
    return options;
}

} // namespace

class LinkSSHConfigTest : public QObject {
    Q_OBJECT
    QTemporaryDir root;
    PeerDevice good;

    LinkSSHConfig::Locations locations(const QString& data) const
    {
        return {root.filePath(QStringLiteral("bin dir/tarnel-net")), data + QStringLiteral("/net"), data};
    }

private Q_SLOTS:
    void initTestCase()
    {
        good = PeerRecords::usable(QStringLiteral("dev-good.1"), QStringLiteral("qx-good"));
        QVERIFY(!good.hostPubKey.isEmpty());
    }

    void sshReadsBackTheBlockAsMeant_data()
    {
        QTest::addColumn<QString>("dataName");
        QTest::newRow("blank in the path") << "my data";
        QTest::newRow("percent in the path") << "100% data";
    }
    void sshReadsBackTheBlockAsMeant()
    {
        QFETCH(QString, dataName);
        const QString data = root.filePath(dataName);
        QVERIFY(QDir().mkpath(data));
        PeerDevice unpinned = PeerRecords::usable(QStringLiteral("dev-2"), QStringLiteral("qx-other"), QStringLiteral("ann"));
        unpinned.hostPubKey.clear();
        const auto text = LinkSSHConfig::render({good, unpinned}, locations(data));
        QVERIFY(text);
        const QString config = data + QStringLiteral("/ssh_config_devices");
        QVERIFY(writeWholeFile(config, text->toUtf8()));

        const auto options = resolved(config, QStringLiteral("qx-good"));
        QCOMPARE(options.value("proxycommand"),
                 root.filePath("bin dir/tarnel-net") + " dial --state " + data + "/net dev-good.1 22");
        QCOMPARE(options.value("user"), QStringLiteral("lee"));
        QCOMPARE(options.value("hostkeyalias"), QStringLiteral("qx-good"));
        QCOMPARE(options.value("identityfile"), data + "/id_ed25519");
        QCOMPARE(options.value("userknownhostsfile"), data + "/known_hosts_devices");
        QCOMPARE(options.value("stricthostkeychecking"), QStringLiteral("true"));
        QCOMPARE(options.value("forwardagent"), QStringLiteral("no"));
        const auto other = resolved(config, QStringLiteral("qx-other"));
        QCOMPARE(other.value("user"), QStringLiteral("ann"));
        QCOMPARE(other.value("stricthostkeychecking"), QStringLiteral("accept-new"));
    }

    void pathsSshOrTheShellWouldReadOtherwiseAreRefused()
    {
        for (const QString& data : {root.filePath("a\"b"), root.filePath("a$HOME"), QStringLiteral("relative/data")})
            QVERIFY2(!LinkSSHConfig::render({good}, locations(data)), qPrintable(data));
    }

    void blocksAndPinsFollowEachPeersRecord_data()
    {
        QTest::addColumn<PeerDevice>("peer");
        QTest::addColumn<bool>("block");
        QTest::addColumn<bool>("pinned");
        const QStringList key = good.hostPubKey.split(' ');
        auto with = [&](auto change) {
            PeerDevice p = good;
            change(p);
            return p;
        };
        QTest::newRow("usable") << good << true << true;
        QTest::newRow("no login name") << with([](PeerDevice& p) { p.sshUser.clear(); }) << false << true;
        QTest::newRow("bare prefix") << with([](PeerDevice& p) { p.alias = "qx-"; }) << false << false;
        QTest::newRow("upper case alias") << with([](PeerDevice& p) { p.alias = "qx-Home"; }) << false << false;
        QTest::newRow("25 after prefix") << with([](PeerDevice& p) { p.alias = "qx-" + QString(25, 'a'); }) << false << false;
        QTest::newRow("host key without comment") << with([&](PeerDevice& p) { p.hostPubKey = key[0] + ' ' + key[1]; }) << true << true;
        QTest::newRow("host key of one word") << with([&](PeerDevice& p) { p.hostPubKey = key[1]; }) << true << false;
        QTest::newRow("other key type") << with([&](PeerDevice& p) { p.hostPubKey = "rsa " + key[1]; }) << true << false;
        // Hostile records: each would inject a directive, a shell command or a wildcard pin.
        QTest::newRow("id with a line break") << with([](PeerDevice& p) { p.id = "x\nMatch exec \"touch /tmp/pwned\""; }) << false << false;
        QTest::newRow("id with a shell command") << with([](PeerDevice& p) { p.id = "x;touch${IFS}/tmp/pwned"; }) << false << false;
        QTest::newRow("login name with a line break") << with([](PeerDevice& p) { p.sshUser = "lee\nMatch exec \"touch /tmp/pwned\""; }) << false << false;
        QTest::newRow("login name as an option") << with([](PeerDevice& p) { p.sshUser = "-oProxyCommand=sh"; }) << false << false;
        QTest::newRow("wildcard pin after a line break") << with([&](PeerDevice& p) { p.hostPubKey = key[0] + ' ' + key[1] + "\n* " + key[0] + ' ' + key[1]; }) << false << false;
        QTest::newRow("key data not base64") << with([&](PeerDevice& p) { p.hostPubKey = key[0] + " AAAA*,"; }) << false << false;
        QTest::newRow("key data of another type") << with([&](PeerDevice& p) { p.hostPubKey = "ssh-rsa " + key[1]; }) << false << false;
        QTest::newRow("key type with a directive") << with([&](PeerDevice& p) { p.hostPubKey = "ssh-x\rHost " + key[1]; }) << false << false;
    }
    void blocksAndPinsFollowEachPeersRecord()
    {
        QFETCH(PeerDevice, peer);
        QFETCH(bool, block);
        QFETCH(bool, pinned);
        const QString data = root.filePath(QStringLiteral("table"));
        QVERIFY(QDir().mkpath(data));
        PeerDevice neighbour = PeerRecords::usable(QStringLiteral("dev-n"), QStringLiteral("qx-neighbour"));
        const QString config = data + QStringLiteral("/ssh_config_devices");
        const QString known = data + QStringLiteral("/known_hosts_devices");
        QVERIFY(writeWholeFile(config, LinkSSHConfig::render({peer, neighbour}, locations(data)).value_or(QString()).toUtf8()));
        QVERIFY(writeWholeFile(known, LinkSSHConfig::renderKnownHosts({peer, neighbour}).toUtf8()));

        // The well-formed neighbour keeps its block and pin whatever its neighbour holds.
        QVERIFY(resolved(config, QStringLiteral("qx-neighbour")).value("proxycommand").endsWith(" dev-n 22"));
        int found = -1;
        runTool(QStringLiteral("ssh-keygen"), {"-F", "qx-neighbour", "-f", known}, &found);
        QCOMPARE(found, 0);

        const QString host = peer.alias;
        const auto options = resolved(config, host);
        QCOMPARE(options.value("proxycommand").contains(QStringLiteral(" dial --state ")), block);
        QCOMPARE(options.value("stricthostkeychecking"), block ? (pinned ? "true" : "accept-new") : "ask");
        const QString pin = runTool(QStringLiteral("ssh-keygen"), {"-F", host, "-f", known}, &found);
        QCOMPARE(found == 0, pinned);
        if (pinned)
            QVERIFY(pin.contains(peer.hostPubKey.split(' ').value(1)));

        // Nothing injected: every line is the header, blank, a Host line or one of the block's options.
        const QStringList allowed{"Host", "ProxyCommand", "User", "HostKeyAlias", "IdentityFile", "IdentitiesOnly",
            "UserKnownHostsFile", "StrictHostKeyChecking", "ForwardAgent", "ServerAliveInterval", "ServerAliveCountMax",
            "ConnectTimeout", "LogLevel"};
        for (const QString& line : readLines(config))
            QVERIFY2(line.isEmpty() || line.startsWith('#') || allowed.contains(line.trimmed().section(' ', 0, 0)), qPrintable(line));
        QVERIFY(!QFileInfo::exists(QStringLiteral("/tmp/pwned")));
        runTool(QStringLiteral("ssh-keygen"), {"-F", "unrelated.example", "-f", known}, &found);
        QVERIFY(found != 0);
        for (const QString& line : readLines(known))
            QVERIFY2(line.isEmpty() || line.startsWith('#') || line.startsWith("qx-"), qPrintable(line));
    }

    void aliasSlugProposesAUsableAlias_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("alias");
        QTest::newRow("Chinese only") << "书房电脑" << "qx-mac";
        QTest::newRow("40 letters") << QString(20, 'A') + QString(20, 'b') << "qx-" + QString(20, 'a') + "bbbb";
        QTest::newRow("apostrophe and blanks") << "Lee'  box" << "qx-lee-box";
        QTest::newRow("emoji and digits") << "🍎 Box 2 " << "qx-box-2";
        QTest::newRow("cut after a dash") << QString(23, 'a') + " b" << "qx-" + QString(23, 'a') + "-";
    }
    void aliasSlugProposesAUsableAlias()
    {
        QFETCH(QString, name);
        QFETCH(QString, alias);
        QCOMPARE(LinkSSHConfig::aliasSlug(name), alias);
        QVERIFY(LinkSSHConfig::aliasValid(alias));
    }

private:
    static QStringList readLines(const QString& path) { return QString::fromUtf8(readFile(path)).split('\n'); }
};

QTEST_GUILESS_MAIN(LinkSSHConfigTest)
#include "LinkSSHConfigTest.moc"
