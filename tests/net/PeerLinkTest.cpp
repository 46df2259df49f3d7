// Two tarnel-net serve instances of one account, the account service and a real sshd on loopback: they
// find each other, link over pinned mutual TLS (directly, or through the service's relay when no direct
// address answers), and ssh reaches the other machine's sshd through dial. Strangers are refused.
#include "support/AccountServiceFixture.h"
#include "support/DelayProxy.h"
#include "support/DeviceKeys.h"
#include "support/EchoSession.h"
#include "support/NetNodeFixture.h"
#include "support/PeerClient.h"
#include "support/ShotStream.h"
#include "support/SshServerFixture.h"
#include "support/WaitUntil.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>
#include <csignal>

namespace {
QJsonObject linkOf(const QJsonObject& peer) { return peer.value(QStringLiteral("link")).toObject(); }
} // namespace

class PeerLinkTest : public QObject {
    Q_OBJECT
    AccountServiceFixture service{AccountServiceFixture::Options{false, false}};
    SshServerFixture sshd;
    std::optional<SshServerFixture::Account> login;
    NetNodeFixture a, b;

    // Both on the shared service, or on `own`.
    bool startPair(NetNodeFixture& first, NetNodeFixture& second, const QString& user, const QJsonObject& config = {},
                   const AccountServiceFixture* own = nullptr)
    {
        const AccountServiceFixture& at = own ? *own : service;
        at.signUp(user, QStringLiteral("secret1"));
        QJsonObject merged = config;
        merged.insert(QStringLiteral("sshTarget"), QStringLiteral("127.0.0.1:%1").arg(sshd.port()));
        for (NetNodeFixture* node : {&first, &second}) {
            node->writeToken(at.signIn(user, QStringLiteral("secret1"))); // each machine signs in
            if (!node->start({.server = at.url(), .sshUser = login->name, .config = merged}))
                return false;
        }
        return sshd.authorize(*login, first.publicKeyLine() + '\n' + second.publicKeyLine() + '\n');
    }

    static bool linked(const NetNodeFixture& from, const NetNodeFixture& to, const QString& path)
    {
        const QJsonObject link = linkOf(from.peer(to.deviceId()));
        return link.value(QStringLiteral("state")).toString() == QLatin1String("connected") &&
               link.value(QStringLiteral("path")).toString() == path && link.value(QStringLiteral("appRttMs")).toDouble() > 0;
    }

    QByteArray sshThrough(const NetNodeFixture& from, const NetNodeFixture& to, const QString& command)
    {
        QProcess ssh;
        ssh.start(QStringLiteral("ssh"), from.sshArguments(to.deviceId(), login->name, command));
        ssh.waitForFinished(30000);
        return ssh.exitCode() == 0 ? ssh.readAllStandardOutput() : "ssh failed: " + ssh.readAllStandardError();
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(service.start(), qPrintable(service.error()));
        const auto problem = sshd.start();
        QVERIFY2(!problem, problem ? qPrintable(*problem) : "");
        login = sshd.account(QStringLiteral("tnnet"));
        QVERIFY(login);
        QVERIFY(startPair(a, b, QStringLiteral("pair")));
    }

    void devicesFindAndLinkEachOther()
    {
        QTRY_VERIFY_WITH_TIMEOUT(linked(a, b, QStringLiteral("direct")) && linked(b, a, QStringLiteral("direct")), 20000);
        const QJsonObject seen = a.peer(b.deviceId());
        QVERIFY(seen.value(QStringLiteral("online")).toBool());
        QCOMPARE(seen.value(QStringLiteral("sshUser")).toString(), login->name);
        QCOMPARE(seen.value(QStringLiteral("sshPubKey")).toString(), b.publicKeyLine());
        QVERIFY(linkOf(seen).value(QStringLiteral("peerAllows")).toBool());
        QCOMPARE(seen.value(QStringLiteral("appBuild")).toInt(), 42);
        QVERIFY(a.siteOk());
    }

    void sshReachesThePeerThroughDial()
    {
        QTRY_VERIFY_WITH_TIMEOUT(linked(a, b, QStringLiteral("direct")), 20000);
        QCOMPARE(sshThrough(a, b, QStringLiteral("echo hello")), QByteArray("hello\n"));
        const auto idle = [&] {
            return linkOf(a.peer(b.deviceId())).value("tunnels").toInt() == 0 &&
                   linkOf(b.peer(a.deviceId())).value("tunnels").toInt() == 0;
        };
        // That tunnel may still be counted on one side: the counts below must be the session's own.
        QTRY_VERIFY_WITH_TIMEOUT(idle(), 10000);

        // While a session runs, both sides count its tunnel.
        QProcess session;
        session.start(QStringLiteral("ssh"), a.sshArguments(b.deviceId(), login->name, QStringLiteral("cat")));
        QTRY_VERIFY_WITH_TIMEOUT(linkOf(a.peer(b.deviceId())).value("outboundTunnels").toInt() == 1 &&
                                     linkOf(b.peer(a.deviceId())).value("inboundTunnels").toInt() == 1,
                                 30000);
        session.write("through the tunnel\n");
        session.closeWriteChannel();
        QVERIFY(session.waitForFinished(20000));
        QCOMPARE(session.readAllStandardOutput(), QByteArray("through the tunnel\n"));
        QTRY_VERIFY_WITH_TIMEOUT(idle(), 10000);
    }

    void dialIsRefused_data()
    {
        QTest::addColumn<int>("port");
        QTest::addColumn<bool>("inbound");
        QTest::newRow("another port") << 23 << true;
        QTest::newRow("inbound off") << 22 << false;
    }

    void dialIsRefused()
    {
        QFETCH(int, port);
        QFETCH(bool, inbound);
        QTRY_VERIFY_WITH_TIMEOUT(linked(a, b, QStringLiteral("direct")), 20000);
        b.request({{"cmd", "allow"}, {"on", inbound}});
        QTRY_COMPARE_WITH_TIMEOUT(linkOf(a.peer(b.deviceId())).value("peerAllows").toBool(), inbound, 10000);
        const auto run = a.dial(b.deviceId(), port, "SSH-2.0-test\r\n");
        b.request({{"cmd", "allow"}, {"on", true}});
        QCOMPARE(run.exitCode, 1);
        QVERIFY(run.out.isEmpty());
        QVERIFY2(run.err.contains("tarnel-net"), run.err.constData());
    }

    void strangersAreRefused_data()
    {
        QTest::addColumn<QString>("who");
        QTest::newRow("the device itself") << "self";
        QTest::newRow("a device of another account") << "other";
        QTest::newRow("a forged certificate") << "forged";
        // The device itself asking to resume a tunnel the peer does not have, or opening one it can resume.
        QTest::newRow("a resume of a tunnel that is gone") << "resume";
        QTest::newRow("a tunnel that can resume") << "resumable";
    }

    void strangersAreRefused()
    {
        QFETCH(QString, who);
        QTRY_VERIFY_WITH_TIMEOUT(linked(a, b, QStringLiteral("direct")), 20000);
        QTemporaryDir keys;
        QString cert = QDir(a.stateDir()).filePath("tls-cert.pem"); // the device itself, unless replaced below
        QString key = QDir(a.stateDir()).filePath("tls-key.pem");
        NetNodeFixture stranger;
        if (who == "other") {
            stranger.writeToken(service.signUp(QStringLiteral("stranger"), QStringLiteral("secret1")));
            QVERIFY(stranger.start({.server = service.url()}));
            cert = QDir(stranger.stateDir()).filePath("tls-cert.pem");
            key = QDir(stranger.stateDir()).filePath("tls-key.pem");
        } else if (who == "forged") {
            // Same subject as the real device, another key.
            cert = keys.filePath("cert.pem");
            key = keys.filePath("key.pem");
            QProcess openssl;
            openssl.start("openssl", {"req", "-x509", "-newkey", "ed25519", "-nodes", "-keyout", key, "-out", cert, "-days", "2",
                                      "-subj", "/CN=tarnel-net " + a.deviceId()});
            QVERIFY(openssl.waitForFinished(30000) && openssl.exitCode() == 0);
        }
        QProcess client;
        client.start("openssl", {"s_client", "-quiet", "-connect", "127.0.0.1:" + QString::number(b.listenPort()), "-cert", cert,
                                 "-key", key});
        QVERIFY(client.waitForStarted());
        const QByteArray more = who == "resume" ? R"(,"tunnel":"gone","got":0)" : who == "resumable" ? R"(,"tunnel":"t1")" : "";
        client.write(R"({"kind":"tunnel","id":")" + a.deviceId().toLatin1() + R"(","port":22)" + more + "}\n");
        const bool answered = client.waitForReadyRead(5000) || client.bytesAvailable() > 0;
        const QByteArray reply = client.readAll();
        client.kill();
        client.waitForFinished();
        if (who == "self") // as a peer of an earlier build asks: a tunnel that ends with its connection
            QVERIFY2(reply.startsWith(R"({"ok":true})"), reply.constData());
        else if (who == "resume")
            QVERIFY2(reply.contains("这条通道已经关了"), reply.constData());
        else if (who == "resumable")
            QVERIFY2(reply.startsWith(R"({"end":false,"got":0,"ok":true,"tunnel":"t1"})"), reply.constData());
        else
            QVERIFY2(!answered || !reply.contains("ok"), reply.constData());
    }

    // A client whose certificate the account does not list, or a device of the account without an ssh key
    // (the others leave it out), keeps saying hello to one machine: the link and a session over it go on
    // untouched on both sides.
    void strangersLeaveALinkAlone_data()
    {
        QTest::addColumn<QString>("id");
        QTest::newRow("a stranger's hellos") << "dev-stranger-01";
        QTest::newRow("a device without an ssh key dialing") << "dev-keyless-01";
    }
    void strangersLeaveALinkAlone()
    {
        QFETCH(QString, id);
        QTRY_VERIFY_WITH_TIMEOUT(linked(a, b, QStringLiteral("direct")) && linked(b, a, QStringLiteral("direct")), 20000);
        DeviceKeys keys;
        if (id.contains("keyless")) {
            const QString token = service.signIn(QStringLiteral("pair"), QStringLiteral("secret1"));
            const QJsonObject device{{"id", id}, {"name", "No key"}, {"alias", "qx-no-key"}, {"endpoints", QJsonArray{}}};
            QCOMPARE(service.post(QStringLiteral("api/net/sync"), keys.prove(device, id, token), token).status, 200);
        }
        EchoSession session(a.sshArguments(b.deviceId(), login->name, QStringLiteral("cat")));
        QVERIFY(session.started());
        // A lost link, or a tunnel's connection lost and taken up again.
        const auto breaks = [&] {
            const QString both = a.output() + b.output();
            return both.count(QStringLiteral("断了")) + both.count(QStringLiteral("接着传")) +
                   linkOf(a.peer(b.deviceId())).value("restarts").toInt() + linkOf(b.peer(a.deviceId())).value("restarts").toInt();
        };
        const qsizetype before = breaks();
        const QByteArray hello = QJsonDocument(QJsonObject{{"kind", "link"}, {"id", id}}).toJson(QJsonDocument::Compact) + '\n';
        // The fault showed within a few seconds of the first hello.
        const bool shaken = waitUntil([&] {
            PeerClient::knock(keys.context(id), b.listenPort(), hello);
            if (session.echoedAll(0))
                session.sendRandom(64 << 10);
            return breaks() != before;
        }, 8000);
        QVERIFY2(!shaken, qPrintable((a.output() + b.output()).split('\n').filter(QRegularExpression("断了|接着传")).join('\n')));
        QVERIFY2(session.echoedAll(Limit::network) && session.sentSize() > 0, qPrintable(session.mismatch()));
    }

    // Strangers from many addresses fill the room for connections not yet identified, all but the part
    // kept for the addresses the account's devices advertise: the devices still link directly.
    void devicesLinkDirectlyPastACrowd()
    {
        NetNodeFixture c, d;
        service.signUp(QStringLiteral("crowded"), QStringLiteral("secret1"));
        std::vector<std::unique_ptr<QTcpSocket>> crowd;
        for (NetNodeFixture* node : {&c, &d}) {
            node->writeToken(service.signIn(QStringLiteral("crowded"), QStringLiteral("secret1")));
            QVERIFY(node->start({.server = service.url(), .sshUser = login->name}));
            for (int address = 2; address < 22; ++address)
                for (int i = 0; i < 8; ++i) {
                    crowd.push_back(std::make_unique<QTcpSocket>());
                    crowd.back()->bind(QHostAddress(QStringLiteral("127.0.0.%1").arg(address)));
                    crowd.back()->connectToHost(QHostAddress::LocalHost, quint16(node->listenPort()));
                }
        }
        // Well before the crowd's connections time out (10 s), and before the relay's turn.
        QTRY_VERIFY_WITH_TIMEOUT(linked(c, d, QStringLiteral("direct")) && linked(d, c, QStringLiteral("direct")), 8000);
    }

    // The peer stops answering (stopped), so the link goes: an ssh session's tunnel waits and goes on
    // over the next link with every byte once and in order, more than a window's worth sent meanwhile.
    // Away longer than the resume interval, the tunnel closes on both sides and the session ends.
    void tunnelOutlivesItsLinkForTheResumeInterval()
    {
        NetNodeFixture e, f;
        QVERIFY(startPair(e, f, QStringLiteral("resume"), {{"pingMs", 300}, {"tunnelResumeMs", 6000}}));
        QTRY_VERIFY_WITH_TIMEOUT(linked(e, f, QStringLiteral("direct")), 20000);
        EchoSession session(e.sshArguments(f.deviceId(), login->name, QStringLiteral("cat")));
        QVERIFY(session.started());
        session.sendRandom(3 << 20);
        QVERIFY2(session.echoedAll(Limit::network), qPrintable(session.mismatch()));

        const auto pause = [&](bool stop) { ::kill(pid_t(f.process().processId()), stop ? SIGSTOP : SIGCONT); };
        pause(true);
        QVERIFY2(waitUntil([&] { return e.output().contains(QStringLiteral("1 条通道等它接上")); }, Limit::network),
                 qPrintable(e.output()));
        session.sendRandom(6 << 20);
        pause(false);
        QVERIFY2(session.echoedAll(Limit::network), qPrintable(session.mismatch() + e.output() + f.output()));
        QVERIFY(waitUntil([&] { return e.output().contains(QStringLiteral("的通道接上了")); }));
        QCOMPARE(session.process().state(), QProcess::Running);

        pause(true);
        QVERIFY2(session.ended(Limit::network), qPrintable(e.output()));
        QVERIFY2(waitUntil([&] { return e.output().contains(QStringLiteral("6 秒内没有接上")); }), qPrintable(e.output()));
        pause(false);
        QTRY_VERIFY_WITH_TIMEOUT(linkOf(f.peer(e.deviceId())).value("inboundTunnels").toInt() == 0, Limit::network);
        // Its own interval or the opener's notice, whichever reaches it first once it runs again.
        QVERIFY2(waitUntil([&] { return f.output().contains(QStringLiteral("之间的一条通道关了")); }), qPrintable(f.output()));
    }

    // A peer that stops answering shows as broken once a ping goes unanswered, before the link is given up
    // (no restart counted yet); answering again, it is linked as before.
    void aSilentPeerShowsBrokenBeforeTheLinkIsGivenUp()
    {
        NetNodeFixture e, f;
        QVERIFY(startPair(e, f, QStringLiteral("silent"), {{"pingMs", 3000}}));
        QTRY_VERIFY_WITH_TIMEOUT(linked(e, f, QStringLiteral("direct")), 20000);
        const int restarts = linkOf(e.peer(f.deviceId())).value("restarts").toInt();
        ::kill(pid_t(f.process().processId()), SIGSTOP);
        QJsonObject shown;
        const bool broken = waitUntil([&] {
            shown = linkOf(e.peer(f.deviceId()));
            return shown.value("state").toString() != QLatin1String("connected");
        }, Limit::network);
        ::kill(pid_t(f.process().processId()), SIGCONT);
        QVERIFY2(broken, qPrintable(e.output()));
        QVERIFY2(shown.value("state").toString() == QLatin1String("disconnected") &&
                     shown.value("trigger").toString() == QStringLiteral("对方没有回应") &&
                     shown.value("restarts").toInt() == restarts,
                 qPrintable(QJsonDocument(shown).toJson() + e.output()));
        QTRY_VERIFY_WITH_TIMEOUT(linked(e, f, QStringLiteral("direct")), Limit::network);
    }

    // A machine that quits says so on its way out: the other lists it offline at once and ends the sessions
    // between them, which would otherwise wait out the resume interval (kept for cuts).
    void aMachineThatQuitsIsGoneAtOnce()
    {
        NetNodeFixture e, f;
        QVERIFY(startPair(e, f, QStringLiteral("leaves"), {{"pingMs", 1000}}));
        QTRY_VERIFY_WITH_TIMEOUT(linked(e, f, QStringLiteral("direct")) && linked(f, e, QStringLiteral("direct")), 20000);
        EchoSession session(f.sshArguments(e.deviceId(), login->name, QStringLiteral("cat")));
        QVERIFY(session.started());
        session.sendRandom(1024);
        QVERIFY2(session.echoedAll(Limit::network), qPrintable(session.mismatch()));
        QTRY_COMPARE_WITH_TIMEOUT(linkOf(e.peer(f.deviceId())).value("inboundTunnels").toInt(), 1, Limit::network);

        QCOMPARE(f.request({{"cmd", "quit"}}).value("ok").toBool(), true);
        QCOMPARE(f.waitForExit(), 0);
        QVERIFY2(waitUntil([&] {
            const QJsonObject peer = e.peer(f.deviceId());
            return !peer.value("online").toBool() && linkOf(peer).value("inboundTunnels").toInt() == 0;
        }, Limit::local), qPrintable(e.output()));
        QVERIFY2(waitUntil([&] { return e.output().contains(QStringLiteral("退出了，关掉和它之间的 1 条通道")); }),
                 qPrintable(e.output()));
        const NetNodeFixture::DialRun run = e.dial(f.deviceId(), 22, "SSH-2.0-test\r\n");
        QVERIFY2(run.err.contains("不在线"), run.err.constData());
    }

    // Tunnels on the relay whose machine went without a word wait for it, and say so, as direct ones do.
    void tunnelsOnTheRelayWaitForAMachineThatWent()
    {
        NetNodeFixture c, d;
        QVERIFY(startPair(c, d, QStringLiteral("vanishes"),
                          {{"listen", "127.0.0.2"}, {"advertise", QJsonArray{"127.0.0.3"}}, {"relayAfterMs", 300}}));
        QTRY_VERIFY_WITH_TIMEOUT(linked(c, d, QStringLiteral("relay")), 30000);
        EchoSession session(c.sshArguments(d.deviceId(), login->name, QStringLiteral("cat")));
        QVERIFY(session.started());
        session.sendRandom(1024);
        QVERIFY2(session.echoedAll(Limit::network), qPrintable(session.mismatch()));
        ::kill(pid_t(d.process().processId()), SIGKILL);
        QVERIFY2(waitUntil([&] { return c.output().contains(QStringLiteral("1 条通道等它接上")); }, Limit::network),
                 qPrintable(c.output()));
    }

    // A tunnel that rides the relay while the link is direct (the address the peer advertises does not
    // answer this side) waits for the next link no longer than one on the direct path: the peer stopped,
    // the session ends after the resume interval.
    void aTunnelOnTheRelayWaitsAsLongAsADirectOne()
    {
        NetNodeFixture e, f;
        QJsonObject config{{"pingMs", 300}, {"tunnelResumeMs", 6000}};
        QVERIFY(startPair(e, f, QStringLiteral("relaywait"), config));
        NetNodeFixture& dialer = e.deviceId() < f.deviceId() ? e : f; // the one that connects out
        NetNodeFixture& opener = &dialer == &e ? f : e;
        dialer.stop();
        config.insert("advertise", QJsonArray{"127.0.0.3"});
        config.insert("sshTarget", QStringLiteral("127.0.0.1:%1").arg(sshd.port()));
        QVERIFY(dialer.start({.server = service.url(), .sshUser = login->name, .config = config}));
        QTRY_VERIFY_WITH_TIMEOUT(linked(opener, dialer, QStringLiteral("direct")), Limit::network);
        EchoSession session(opener.sshArguments(dialer.deviceId(), login->name, QStringLiteral("cat")));
        QVERIFY(session.started());
        session.send("through the relay\n");
        QVERIFY2(session.echoedAll(Limit::network), qPrintable(session.mismatch() + opener.output()));

        ::kill(pid_t(dialer.process().processId()), SIGSTOP);
        const bool ended = session.ended(Limit::network);
        ::kill(pid_t(dialer.process().processId()), SIGCONT);
        QVERIFY2(ended, qPrintable(opener.output()));
        QVERIFY2(waitUntil([&] { return opener.output().contains(QStringLiteral("6 秒内没有接上")); }), qPrintable(opener.output()));
    }

    void relayCarriesTheLinkWhenNoDirectAddressAnswers()
    {
        NetNodeFixture c, d;
        // Both listen on one loopback address and advertise another where nothing listens.
        QVERIFY(startPair(c, d, QStringLiteral("relayed"),
                          {{"listen", "127.0.0.2"}, {"advertise", QJsonArray{"127.0.0.3"}}, {"relayAfterMs", 300}}));
        QTRY_VERIFY_WITH_TIMEOUT(linked(c, d, QStringLiteral("relay")) && linked(d, c, QStringLiteral("relay")), 30000);
        QCOMPARE(sshThrough(d, c, QStringLiteral("echo relayed")), QByteArray("relayed\n"));
        QCOMPARE(sshThrough(c, d, QStringLiteral("echo back")), QByteArray("back\n"));
    }

    // Both machines copy while their link moves from a far relay back to the direct path, which answers
    // again: every shot arrives, also one whose tunnel was asked for over the relay just before the move.
    void shotsArriveWhileTheLinkMovesBackToDirect()
    {
        // A service of its own whose relay sits far away, behind a delaying proxy on another address.
        DelayProxy farRelay;
        QVERIFY(farRelay.listen(QHostAddress(QStringLiteral("127.0.0.2"))));
        farRelay.forwardTo(QHostAddress::LocalHost, farRelay.port());
        AccountServiceFixture::Options options{false, false};
        options.arguments = QStringList{"--relay-listen", QStringLiteral("127.0.0.1:%1").arg(farRelay.port()),
                                        "--relay-host", "127.0.0.2"};
        AccountServiceFixture relayed(options);
        QVERIFY2(relayed.start(), qPrintable(relayed.error()));
        NetNodeFixture c, d;
        // Both advertise an address where nothing answers until the direct path returns.
        QVERIFY(startPair(c, d, QStringLiteral("returns"),
                          {{"advertise", QJsonArray{"127.0.0.3"}}, {"relayAfterMs", 300}, {"pingMs", 1000},
                           {"directProbeMs", 300}, {"maxDirectProbeMs", 300}},
                          &relayed));
        QTRY_VERIFY_WITH_TIMEOUT(linked(c, d, QStringLiteral("relay")), Limit::network);
        QElapsedTimer clock;
        clock.start();
        ShotStream fromC(c, d.deviceId(), login->name, clock), fromD(d, c.deviceId(), login->name, clock);
        fromC.start(500);
        fromD.start(500);
        QVERIFY(waitUntil([&] { return fromC.arrivedSince(0) >= 2 && fromD.arrivedSince(0) >= 2; }, Limit::network));

        // The direct path returns just as a shot asks for its tunnel over the relay, now far away: its
        // connection to the relay comes right before the request to the other machine.
        farRelay.setDelayMs(150);
        const int before = farRelay.connections();
        QVERIFY(waitUntil([&] { return farRelay.connections() > before; }));
        DelayProxy directToC, directToD;
        QVERIFY(directToC.listen(QHostAddress(QStringLiteral("127.0.0.3")), quint16(c.listenPort())) &&
                directToD.listen(QHostAddress(QStringLiteral("127.0.0.3")), quint16(d.listenPort())));
        directToC.forwardTo(QHostAddress::LocalHost, quint16(c.listenPort()));
        directToD.forwardTo(QHostAddress::LocalHost, quint16(d.listenPort()));
        QVERIFY2(waitUntil([&] { return linked(c, d, QStringLiteral("direct")); }, Limit::network), qPrintable(c.output()));
        const qint64 directAt = clock.elapsed();
        QVERIFY(waitUntil([&] { return fromC.arrivedSince(directAt) >= 2 && fromD.arrivedSince(directAt) >= 2; }, Limit::network));
        fromC.stop();
        fromD.stop();
        QVERIFY(waitUntil([&] { return fromC.settled() && fromD.settled(); }, Limit::ssh));
        QCOMPARE(fromC.lostSince(0), 0);
        QCOMPARE(fromD.lostSince(0), 0);
    }

    // A machine whose program starts again (the app restarted, or it signed in again), here on a new port,
    // knocks: the other, waiting on the relay, learns where it is now and comes straight to it directly,
    // also while its dial of an old address that accepts and never answers is still under way.
    void aRestartedMachineIsReachedDirectlyAtOnce()
    {
        NetNodeFixture c, d;
        const QJsonObject config{{"relayAfterMs", 1000}, {"maxBackoffMs", 30000}, {"syncMs", 60000}, {"pingMs", 1000},
                                 {"advertise", QJsonArray{"127.0.0.1", "127.0.0.2"}}};
        QVERIFY(startPair(c, d, QStringLiteral("restarts"), config));
        QTRY_VERIFY_WITH_TIMEOUT(linked(c, d, QStringLiteral("direct")), 20000);
        NetNodeFixture& restarted = c.deviceId() > d.deviceId() ? c : d; // the one that does not connect out
        NetNodeFixture& other = &restarted == &c ? d : c;
        QTcpServer silent;
        QVERIFY(silent.listen(QHostAddress(QStringLiteral("127.0.0.2")), quint16(restarted.listenPort())));
        QJsonObject again = config;
        again.insert("sshTarget", QStringLiteral("127.0.0.1:%1").arg(sshd.port()));
        const qsizetype tries = other.output().count(QStringLiteral("经中转连接"));
        restarted.stop();
        // The other waits on the relay by now.
        QTRY_VERIFY_WITH_TIMEOUT(other.output().count(QStringLiteral("经中转连接")) > tries, 10000);

        QElapsedTimer clock;
        clock.start();
        QVERIFY(restarted.start({.server = service.url(), .sshUser = login->name, .config = again}));
        QString firstPath;
        QVERIFY(QTest::qWaitFor([&] {
            const QJsonObject link = linkOf(other.peer(restarted.deviceId()));
            firstPath = link.value("path").toString();
            return link.value("state") == QLatin1String("connected");
        }, 5000));
        qInfo("linked again %lld ms after the restart", clock.elapsed());
        QCOMPARE(firstPath, QStringLiteral("direct"));
    }

    // A program paused long enough for the service to count it offline is linked again as soon as it
    // resumes: from then on the other lists it online, not only after its next sync. A machine signed out
    // as long (the app stops its program and drops the token) that signs in again is online on the other and
    // linked within 5 s, as a new machine is, though the other syncs only once a minute and backs off.
    void aResumedMachineIsOnlineWhileLinked()
    {
        NetNodeFixture c, d, e, f;
        const auto join = [&](NetNodeFixture& node, const QString& user, QJsonObject config) {
            node.writeToken(service.signIn(user, QStringLiteral("secret1")));
            config.insert("sshTarget", QStringLiteral("127.0.0.1:%1").arg(sshd.port()));
            config.insert("pingMs", 1000);
            return node.start({.server = service.url(), .sshUser = login->name, .config = config});
        };
        service.signUp(QStringLiteral("paused"), QStringLiteral("secret1"));
        service.signUp(QStringLiteral("signout"), QStringLiteral("secret1"));
        QVERIFY(join(c, "paused", {{"syncMs", 10000}}) && join(d, "paused", {{"syncMs", 500}}));
        // The one signing out has the larger id: the other does not connect out to it, only its knock helps.
        NetNodeFixture& away = e.deviceId() > f.deviceId() ? e : f;
        NetNodeFixture& stays = &away == &e ? f : e;
        const QJsonObject awayConfig{{"syncMs", 500}, {"maxBackoffMs", 30000}};
        QVERIFY(join(stays, "signout", {{"syncMs", 60000}, {"maxBackoffMs", 30000}}) && join(away, "signout", awayConfig));
        QTRY_VERIFY_WITH_TIMEOUT(linked(c, d, QStringLiteral("direct")) && linked(stays, away, QStringLiteral("direct")), 20000);
        const int port = away.listenPort();

        ::kill(pid_t(d.process().processId()), SIGSTOP);
        QCOMPARE(away.request({{"cmd", "quit"}}).value("ok").toBool(), true);
        QCOMPARE(away.waitForExit(), 0);
        QFile::remove(away.tokenPath());
        // The other syncs once a minute: it is asked to now and then, to learn sooner that the service counts
        // the machine offline.
        QElapsedTimer asked;
        asked.start();
        const bool offline = waitUntil([&] {
            if (asked.elapsed() > 5000) {
                stays.request({{"cmd", "devices"}});
                asked.restart();
            }
            return !c.peer(d.deviceId()).value("online").toBool() && !stays.peer(away.deviceId()).value("online").toBool();
        }, 90000);
        ::kill(pid_t(d.process().processId()), SIGCONT);
        QVERIFY(offline);
        QVERIFY(QTest::qWaitFor([&] { return linkOf(c.peer(d.deviceId())).value("state") == QLatin1String("connected"); }, 20000));
        QVERIFY(c.peer(d.deviceId()).value("online").toBool());

        QElapsedTimer clock;
        clock.start();
        QJsonObject again = awayConfig;
        again.insert("port", port); // the app's program listens on its usual port
        QVERIFY(join(away, "signout", again)); // a fresh sign-in of the same device
        QVERIFY2(waitUntil([&] {
            const QJsonObject peer = stays.peer(away.deviceId());
            return peer.value("online").toBool() && linkOf(peer).value("state") == QLatin1String("connected");
        }, 5000), qPrintable(stays.output()));
        qInfo("signed in again: online and linked on the other after %lld ms", clock.elapsed());
    }
};

QTEST_GUILESS_MAIN(PeerLinkTest)
#include "PeerLinkTest.moc"
