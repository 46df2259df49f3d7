#include "delivery/SSHConfig.h"
#include "platform/ProcessRunner.h"
#include "support/TempDataDir.h"

#include <QFile>
#include <QTest>

namespace {

Server server(const QString& name, const QString& host, int port = 22)
{
    Server s;
    s.name = name;
    s.host = host;
    s.port = port;
    return s;
}

Server device(const QString& alias, const QString& id, const QString& user)
{
    Server s;
    s.name = alias;
    s.host = alias;
    s.deviceID = id;
    s.deviceAlias = alias;
    s.user = user;
    return s;
}

// What ssh itself makes of our file for one Host, as "key -> value(s)".
QMultiMap<QString, QString> resolved(const QString& configPath, const QString& alias)
{
    const CommandResult r = ProcessRunner::run(ProcessRunner::sshPath(),
        { QStringLiteral("-G"), QStringLiteral("-F"), configPath, QStringLiteral("--"), alias }, std::nullopt, 10);
    QMultiMap<QString, QString> options;
    if (r.status != 0) {
        qWarning() << "ssh -G failed:" << r.stderr;
        return options;
    }
    for (const QString& line : r.stdout.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        options.insert(line.section(QLatin1Char(' '), 0, 0), line.section(QLatin1Char(' '), 1));
    return options;
}

} // namespace

class SSHConfigTest : public QObject {
    Q_OBJECT

    TempDataDir data;

    QString writeConfig(const QString& name, const QList<Server>& servers, const SSHConfig::Context& context)
    {
        const QString path = data.file(name);
        QFile file(path);
        file.open(QIODevice::WriteOnly | QIODevice::Truncate);
        file.write(SSHConfig::render(servers, context).text.toUtf8());
        return path;
    }

private Q_SLOTS:
    void sshReadsBackEveryKindOfEntry()
    {
        // A data directory with a blank and a literal percent sign: both must survive ssh's parsing.
        const QString dataDir = data.file(QStringLiteral("my data %h"));
        const SSHConfig::Context context { dataDir, QStringLiteral("/run/ctl"), QStringLiteral("/opt/tarnel/tarnel-net") };

        Server plain = server(QStringLiteral("家里"), QStringLiteral("files.example.org"), 2222);
        plain.user = QStringLiteral("anna");
        Server jumped = server(QStringLiteral("jump"), QStringLiteral("10.0.0.5"));
        jumped.proxyJump = QStringLiteral("ops@bastion.example.org:2200");
        Server v6 = server(QStringLiteral("v6"), QStringLiteral("2001:db8::7"), 22);
        const Server mac = device(QStringLiteral("qx-studio"), QStringLiteral("D3E1-77AA"), QStringLiteral("lee"));
        const QString path = writeConfig(QStringLiteral("all.conf"), { plain, jumped, v6, mac }, context);

        auto o = resolved(path, SSHConfig::alias(plain));
        QCOMPARE(o.value(QStringLiteral("hostname")), QStringLiteral("files.example.org"));
        QCOMPARE(o.value(QStringLiteral("port")), QStringLiteral("2222"));
        QCOMPARE(o.value(QStringLiteral("user")), QStringLiteral("anna"));
        // ssh -G shows some paths before token expansion (the escaped percent sign), some after.
        const QString escapedDir = QString(dataDir).replace(QLatin1Char('%'), QStringLiteral("%%"));
        QCOMPARE(o.value(QStringLiteral("identityfile")), escapedDir + QStringLiteral("/id_ed25519"));
        QVERIFY(o.value(QStringLiteral("userknownhostsfile")).startsWith(dataDir + QStringLiteral("/known_hosts ")));
        for (const QString& option : QStringList { "identitiesonly yes", "stricthostkeychecking accept-new",
                 "batchmode yes", "passwordauthentication no", "forwardagent no", "controlmaster auto", "controlpersist 120" })
            QVERIFY2(o.contains(option.section(' ', 0, 0), option.section(' ', 1)), qPrintable(option));
        QVERIFY(o.value(QStringLiteral("controlpath")).startsWith(QStringLiteral("/run/ctl/cm-")));
        QCOMPARE(o.value(QStringLiteral("controlpath")).size(), QStringLiteral("/run/ctl/cm-").size() + 40);
        QVERIFY(!o.contains(QStringLiteral("proxycommand")));

        o = resolved(path, SSHConfig::alias(jumped));
        QCOMPARE(o.value(QStringLiteral("hostname")), QStringLiteral("10.0.0.5"));
        QCOMPARE(o.value(QStringLiteral("proxycommand")),
            QStringLiteral("/usr/bin/ssh -o BatchMode=yes -W \"[%h]:%p\" -p 2200 -l ops -- bastion.example.org"));

        o = resolved(path, SSHConfig::alias(v6));
        QCOMPARE(o.value(QStringLiteral("hostname")), QStringLiteral("2001:db8::7"));
        QVERIFY(!o.contains(QStringLiteral("user")) || o.value(QStringLiteral("user")) != QStringLiteral("anna"));

        o = resolved(path, QStringLiteral("qx-studio"));
        QCOMPARE(o.value(QStringLiteral("proxycommand")),
            QStringLiteral("\"/opt/tarnel/tarnel-net\" dial --state \"%1/net\" D3E1-77AA 22").arg(escapedDir));
        QCOMPARE(o.value(QStringLiteral("user")), QStringLiteral("lee"));
        QCOMPARE(o.value(QStringLiteral("hostkeyalias")), QStringLiteral("qx-studio"));
        QCOMPARE(o.value(QStringLiteral("userknownhostsfile")), dataDir + QStringLiteral("/known_hosts_devices"));
        QCOMPARE(o.value(QStringLiteral("controlmaster")), QStringLiteral("auto"));
    }

    void hostileValuesAreLeftOut_data()
    {
        QTest::addColumn<Server>("bad");
        const auto withUser = [](QString user) {
            Server s = server(QStringLiteral("u"), QStringLiteral("ok.example"));
            s.user = user;
            return s;
        };
        const auto withJump = [](QString jump) {
            Server s = server(QStringLiteral("j"), QStringLiteral("ok.example"));
            s.proxyJump = jump;
            return s;
        };
        QTest::newRow("line break in host") << server(QStringLiteral("h"), QStringLiteral("a\n  ProxyCommand touch /tmp/x"));
        QTest::newRow("option as host") << server(QStringLiteral("h"), QStringLiteral("-oProxyCommand=x"));
        QTest::newRow("quote in host") << server(QStringLiteral("h"), QStringLiteral("a\"b"));
        QTest::newRow("zone id") << server(QStringLiteral("h"), QStringLiteral("fe80::1%eth0"));
        QTest::newRow("port 0") << server(QStringLiteral("h"), QStringLiteral("ok.example"), 0);
        QTest::newRow("hash in user") << withUser(QStringLiteral("a#b"));
        QTest::newRow("jump with option") << withJump(QStringLiteral("-oProxyCommand=x"));
        QTest::newRow("jump bad port") << withJump(QStringLiteral("jump:99999"));
        QTest::newRow("jump line break") << withJump(QStringLiteral("jump\nHost *"));
        QTest::newRow("device alias") << device(QStringLiteral("qx-Home"), QStringLiteral("id1"), QStringLiteral("u"));
        QTest::newRow("device without user") << device(QStringLiteral("qx-home"), QStringLiteral("id1"), QString());
        QTest::newRow("device id") << device(QStringLiteral("qx-home"), QStringLiteral("id 1"), QStringLiteral("u"));
    }
    void hostileValuesAreLeftOut()
    {
        QFETCH(Server, bad);
        bad.name = QStringLiteral("坏的\n[伪造]");
        const Server good = server(QStringLiteral("好的"), QStringLiteral("good.example"));
        const SSHConfig::Context context { data.path(), QStringLiteral("/run/ctl"), QStringLiteral("/opt/tarnel-net") };
        const auto rendered = SSHConfig::render({ bad, good }, context);
        QCOMPARE(rendered.skipped.size(), 1);
        QVERIFY(!rendered.skipped.first().contains(QLatin1Char('\n')));
        QVERIFY(!rendered.text.contains(SSHConfig::alias(bad) + QLatin1Char('\n')));
        QVERIFY(!SSHConfig::check(bad, context).ok());
        // The rest of the file still parses and holds the good server.
        const QString path = writeConfig(QStringLiteral("hostile.conf"), { bad, good }, context);
        QCOMPARE(resolved(path, SSHConfig::alias(good)).value(QStringLiteral("hostname")), QStringLiteral("good.example"));
    }

    // Two devices under one alias: the first keeps it.
    void oneBlockPerDeviceAlias()
    {
        const Server a = device(QStringLiteral("qx-home"), QStringLiteral("id-a"), QStringLiteral("u"));
        const Server b = device(QStringLiteral("qx-home"), QStringLiteral("id-b"), QStringLiteral("u"));
        const auto twice =
            SSHConfig::render({ a, b }, { data.path(), QStringLiteral("/run/ctl"), QStringLiteral("/opt/tarnel-net") });
        QCOMPARE(twice.text.count(QStringLiteral("Host qx-home")), 1);
        QVERIFY(twice.text.contains(QStringLiteral("id-a")));
        QCOMPARE(twice.skipped.size(), 1);
    }

    // The data folder's path goes into quoted paths, also of a device's ProxyCommand that sh runs.
    void unsafeDataDirectoryWritesNoBlocks_data()
    {
        QTest::addColumn<QString>("dir");
        QTest::newRow("quote") << "/home/x\"y";
        QTest::newRow("command substitution") << "/home/x$(touch pwned)";
        QTest::newRow("backtick") << "/home/x`touch pwned`";
        QTest::newRow("ssh variable") << "/home/${USER}";
        QTest::newRow("shell variable") << "/home/$USER";
        QTest::newRow("backslash") << "/home/x\\";
        QTest::newRow("line break") << "/home/x\ny";
    }
    void unsafeDataDirectoryWritesNoBlocks()
    {
        QFETCH(QString, dir);
        const auto rendered = SSHConfig::render({ server(QStringLiteral("s"), QStringLiteral("a.example")),
                                                    device(QStringLiteral("qx-home"), QStringLiteral("id-a"), QStringLiteral("me")) },
            { dir, QStringLiteral("/run/ctl"), QStringLiteral("/opt/tarnel-net") });
        QVERIFY(!rendered.text.contains(QStringLiteral("Host ")));
        QCOMPARE(rendered.skipped.size(), 2);
    }

    void canonicalJump_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("canonical"); // empty: refused
        QTest::newRow("trimmed") << "  ops@bastion  " << "ops@bastion";
        QTest::newRow("port 22 dropped") << "ops@bastion:22" << "ops@bastion";
        QTest::newRow("port") << "bastion:2200" << "bastion:2200";
        QTest::newRow("ipv6 bare") << "ops@2001:db8::1" << "ops@2001:db8::1";
        QTest::newRow("ipv6 port") << "[2001:db8::1]:2200" << "[2001:db8::1]:2200";
        QTest::newRow("ipv6 brackets port 22") << "[2001:db8::1]:22" << "2001:db8::1";
        QTest::newRow("ssh prefix") << "ssh ops@bastion" << "";
        QTest::newRow("empty port") << "bastion:" << "";
        QTest::newRow("two jumps") << "a,b" << "";
        QTest::newRow("empty user") << "@bastion" << "";
        QTest::newRow("url") << "ssh://bastion" << "";
    }
    void canonicalJump()
    {
        QFETCH(QString, typed);
        QFETCH(QString, canonical);
        QCOMPARE(SSHConfig::canonicalJump(typed).value_or(QString()), canonical);
    }

    void writeIsPrivateAndLogsWhatItLeftOut()
    {
        Server bad = server(QStringLiteral("坏"), QStringLiteral("a b"));
        QVERIFY(SSHConfig::write({ bad, server(QStringLiteral("s"), QStringLiteral("a.example")) }).ok());
        QCOMPARE(fileMode(SSHConfig::path()), 0600);
        QVERIFY(data.logLines().last().contains(QStringLiteral("ssh_config：略过「坏」")));
    }
};

QTEST_GUILESS_MAIN(SSHConfigTest)
#include "SSHConfigTest.moc"
