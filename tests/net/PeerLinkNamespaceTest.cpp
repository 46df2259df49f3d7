// Two machines in network namespaces of their own, the account service in this one: with the direct pair
// cut they link through the relay and ssh gets through; after a network change a machine advertises its
// new address at once. Skipped where namespaces cannot be made.
#include "support/AccountServiceFixture.h"
#include "support/NetNamespaces.h"
#include "support/NetNodeFixture.h"
#include "support/SshServerFixture.h"

#include <QtTest>
#include <unistd.h>

class PeerLinkNamespaceTest : public QObject {
    Q_OBJECT
    NetNamespaces rig;
    std::unique_ptr<AccountServiceFixture> service;
    SshServerFixture sshd;
    std::optional<SshServerFixture::Account> login;
    NetNodeFixture a, b;
    QString token;

    bool startNode(NetNodeFixture& node, char machine)
    {
        node.writeToken(service->signIn(QStringLiteral("nsuser"), QStringLiteral("secret1")));
        // Every address of the machine is advertised; the service is synced with on changes only.
        const QJsonObject config{{"listen", "0.0.0.0"}, {"advertise", QJsonArray{}}, {"syncMs", 60000},
                                 {"relayAfterMs", 1000}, {"sshTarget", QStringLiteral("10.77.2.1:%1").arg(sshd.port())}};
        return node.start({.server = service->url(), .sshUser = login->name, .config = config, .launcher = rig.launcher(machine)});
    }

private Q_SLOTS:
    void initTestCase()
    {
        if (geteuid() != 0)
            QSKIP("network namespaces need root");
        if (const QString problem = rig.setUp(); !problem.isEmpty())
            QSKIP(qPrintable("no network namespaces here: " + problem));
        QVERIFY(rig.setDirect(false));
        AccountServiceFixture::Options options{false, false};
        options.host = QStringLiteral("10.77.1.1");
        service = std::make_unique<AccountServiceFixture>(options);
        QVERIFY2(service->start(), qPrintable(service->error()));
        token = service->signUp(QStringLiteral("nsuser"), QStringLiteral("secret1"));
        sshd.setExtraConfig(QStringLiteral("ListenAddress 10.77.2.1"));
        QVERIFY(!sshd.start());
        login = sshd.account(QStringLiteral("tnns"));
        QVERIFY(login);
        QVERIFY(startNode(a, 'a') && startNode(b, 'b'));
        // a's first sync may have come before b registered: once b has, a looks again.
        QTRY_VERIFY_WITH_TIMEOUT(b.siteOk(), 20000);
        a.request({{"cmd", "netchange"}});
        QVERIFY(sshd.authorize(*login, a.publicKeyLine() + '\n' + b.publicKeyLine() + '\n'));
    }

    void relayCarriesSshWhenTheDirectPathIsCut()
    {
        QTRY_COMPARE_WITH_TIMEOUT(a.peer(b.deviceId()).value("link").toObject().value("path").toString(),
                                  QStringLiteral("relay"), 30000);
        QTRY_COMPARE_WITH_TIMEOUT(a.peer(b.deviceId()).value("link").toObject().value("state").toString(),
                                  QStringLiteral("connected"), 30000);
        QProcess ssh;
        ssh.start(QStringLiteral("ssh"), a.sshArguments(b.deviceId(), login->name, QStringLiteral("echo across")));
        QVERIFY(ssh.waitForFinished(30000));
        QCOMPARE(ssh.readAllStandardOutput(), QByteArray("across\n"));
    }

    void netchangeAdvertisesANewAddressAtOnce()
    {
        QVERIFY(rig.setDirect(true));
        QVERIFY(rig.addDirectAddress('a', QStringLiteral("10.77.3.11/24")));
        QVERIFY(!a.request({{"cmd", "netchange"}}).contains("error"));
        // A third device of the account sees what a advertises now (syncs are a minute apart otherwise).
        const QJsonObject probe{{"id", "probe-device-1"}, {"name", "Probe"}, {"alias", "qx-probe"},
                                {"certSha256", QString(64, QLatin1Char('b'))}, {"endpoints", QJsonArray{}}};
        const QString probeToken = service->signIn(QStringLiteral("nsuser"), QStringLiteral("secret1"));
        const auto advertised = [&] {
            for (const QJsonValue& device : service->post("api/net/sync", probe, probeToken).json().value("devices").toArray())
                if (device.toObject().value("id").toString() == a.deviceId())
                    return QJsonDocument(device.toObject().value("endpoints").toArray()).toJson();
            return QByteArray();
        };
        QTRY_VERIFY_WITH_TIMEOUT(advertised().contains("10.77.3.11"), 10000);
    }
};

QTEST_GUILESS_MAIN(PeerLinkNamespaceTest)
#include "PeerLinkNamespaceTest.moc"
