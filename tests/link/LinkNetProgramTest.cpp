// The link manager with the real tarnel-net and a real account service on loopback; the device ssh files
// taking plain ssh from one real tarnel-net machine to the other.
#include "account/QXServer.h"
#include "link/LinkManager.h"
#include "link/LinkSSHConfig.h"
#include "state/Paths.h"
#include "support/AccountServiceFixture.h"
#include "support/AwaitFuture.h"
#include "support/FakeLinkProgram.h"
#include "support/FakeNetworkMonitor.h"
#include "support/FakeSleepInhibitor.h"
#include "support/NetNodeFixture.h"
#include "support/PeerRecords.h"
#include "support/SshServerFixture.h"
#include "support/TempDataDir.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QtTest>

class LinkNetProgramTest : public QObject {
    Q_OBJECT
    TempDataDir data;
    AccountServiceFixture service;
    FakeSleepInhibitor inhibitor;
    FakeNetworkMonitor network;

private Q_SLOTS:
    void initTestCase() { QVERIFY2(service.start(), qPrintable(service.error())); }

    void runsTalksToAndStopsTheLinkProgram()
    {
        const QString program = QStringLiteral(TARNEL_BINARY_DIR "/bin/tarnel-net");
        if (!QFileInfo(program).isExecutable())
            QSKIP("tarnel-net is not built");
        const QString token = service.signUp(QStringLiteral("linker"), QStringLiteral("pw-123456"));
        QVERIFY(!token.isEmpty());
        QXServer::useURLs(service.url(), QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(AccountServiceFixture::closedPort())));
        // Peers only on loopback, on any free port.
        QDir().mkpath(Paths::netDirectory());
        QFile config(Paths::netDirectory() + QStringLiteral("/config.json"));
        QVERIFY(config.open(QIODevice::WriteOnly));
        config.write(QJsonDocument(QJsonObject{{"listen", "127.0.0.1"}, {"port", 0}, {"advertise", QJsonArray{"127.0.0.1"}}})
                         .toJson());
        config.close();

        LinkManager link(inhibitor, network);
        link.programPath = [program] { return std::optional<QString>(program); };
        link.tokenProvider = [token] { return std::optional<QString>(token); };
        link.start();
        QTRY_VERIFY_WITH_TIMEOUT(link.status() && link.status()->site && link.status()->site->ok, 15000);
        const qint64 pid = link.helper().pid;
        QCOMPARE(link.status()->pid, pid);
        QVERIFY(!link.status()->device.id.isEmpty());

        const auto renamed = awaitFuture(link.rename(QStringLiteral(" 书房 "), QStringLiteral("qx-study")));
        QVERIFY(renamed);
        QVERIFY2(renamed->ok(), qPrintable(renamed->failure()));
        QTRY_COMPARE(link.status()->device.name, QStringLiteral("书房"));
        link.setAllowInbound(true);
        QTRY_VERIFY(link.status()->allowInbound);

        link.stop(QStringLiteral("测试"));
        QTRY_VERIFY_WITH_TIMEOUT(!processAlive(pid), 3000); // it obeys quit well before SIGKILL
        QVERIFY(readFile(LinkManager::logPath()).size() > 0);
    }

    void deviceFilesTakeSshToTheOtherMachine()
    {
        if (!QFileInfo(NetNodeFixture::binary()).isExecutable())
            QSKIP("tarnel-net is not built");
        SshServerFixture sshd;
        const auto problem = sshd.start();
        QVERIFY2(!problem, problem ? qPrintable(*problem) : "");
        const auto login = sshd.account(QStringLiteral("tnfiles"));
        QVERIFY(login);
        const QString token = service.signUp(QStringLiteral("files"), QStringLiteral("pw-123456"));
        NetNodeFixture nodes[2];
        QString keys;
        for (NetNodeFixture& node : nodes) {
            node.writeToken(token);
            NetNodeFixture::Options options;
            options.server = service.url();
            options.sshUser = login->name;
            options.hostKeyFile = sshd.hostKeyPublicPath();
            options.config = {{"sshTarget", QStringLiteral("127.0.0.1:%1").arg(sshd.port())}};
            QVERIFY(node.start(options));
            keys += QString::fromUtf8(readFile(node.publicKeyPath()));
        }
        QVERIFY(sshd.authorize(*login, keys));

        for (const auto& [from, to] : {std::pair{&nodes[0], &nodes[1]}, std::pair{&nodes[1], &nodes[0]}}) {
            const auto peers = [&] { return NodeStatus::decode(from->status()).peers; };
            QTRY_VERIFY_WITH_TIMEOUT(peers().size() == 1 && peers()[0].link && peers()[0].link->state == "connected", 20000);
            const PeerDevice other = peers()[0];
            QCOMPARE(other.id, to->deviceId());
            const QString config = from->dataDir() + QStringLiteral("/ssh_config_devices");
            const QString knownHosts = from->dataDir() + QStringLiteral("/known_hosts_devices");
            QFile(config).remove();
            QVERIFY(writeFile(config, LinkSSHConfig::render({other}, {NetNodeFixture::binary(), from->stateDir(), from->dataDir()})));
            QVERIFY(writeFile(knownHosts, LinkSSHConfig::renderKnownHosts({other})));
            QCOMPARE(sshTrue(config, other.alias), 0);

            // The pin holds: another host key under the alias is refused.
            PeerDevice impostor = other;
            impostor.hostPubKey = PeerRecords::freshKeyLine();
            QVERIFY(writeFile(knownHosts, LinkSSHConfig::renderKnownHosts({impostor})));
            QVERIFY(sshTrue(config, other.alias) != 0);
        }
    }

private:
    static bool writeFile(const QString& path, const std::optional<QString>& text)
    {
        QFile file(path);
        return text && file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(text->toUtf8()) >= 0;
    }

    static int sshTrue(const QString& config, const QString& alias)
    {
        QProcess ssh;
        ssh.start(QStringLiteral("ssh"), {"-F", config, "-o", "BatchMode=yes", alias, "true"});
        if (!ssh.waitForFinished(30000))
            return -1;
        if (ssh.exitCode() != 0)
            qWarning() << "ssh:" << ssh.readAllStandardError();
        return ssh.exitCode();
    }
};

QTEST_GUILESS_MAIN(LinkNetProgramTest)
#include "LinkNetProgramTest.moc"
