// tarnel-net serve as the app sees it: the control protocol's commands and reply shapes, the token file,
// the single-instance lock and every way the program ends; dial's failure contract.
#include "support/AccountServiceFixture.h"
#include "support/DeviceKeys.h"
#include "support/NetNodeFixture.h"
#include "support/PeerClient.h"
#include "support/Processes.h"
#include "support/WaitUntil.h"

#include <QFileInfo>
#include <QSslCertificate>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtConcurrent>
#include <QtTest>
#include <csignal>
#include <fcntl.h>
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <sys/stat.h>

namespace {
const QString unknownCommand = QStringLiteral("不认识的命令");
const QString aliasText = QStringLiteral("别名只能是 qx- 加小写字母、数字、短横，最长 24 个字符");
const QString nameText = QStringLiteral("名字 1～40 个字符");

bool isStatusDocument(const QJsonObject& o)
{
    for (const char* key : {"version", "pid", "uptimeSec", "allowInbound", "device", "site", "devicesVersion", "peers"})
        if (!o.contains(QLatin1String(key)))
            return false;
    return o.value(QStringLiteral("device")).toObject().contains(QStringLiteral("alias"));
}

bool oneFailureLine(const NetNodeFixture::DialRun& run)
{
    const QString err = QString::fromUtf8(run.err);
    const bool word = err.contains(QStringLiteral("连不上")) || err.contains(QStringLiteral("不在线")) ||
                      err.contains(QStringLiteral("稍后"));
    return run.exitCode == 1 && run.out.isEmpty() && err.count(QLatin1Char('\n')) == 1 &&
           err.contains(QStringLiteral("tarnel-net")) && word;
}
} // namespace

class NodeTest : public QObject {
    Q_OBJECT
    AccountServiceFixture service{AccountServiceFixture::Options{true, false}};
    QString token;

    // Each machine signs in on its own.
    QString signIn() const { return service.signIn(QStringLiteral("nora"), QStringLiteral("secret1")); }

    // A device of the account played by the test under the certificate `keys` make for its id, once
    // `target` lists it; and its hello.
    bool joinAs(DeviceKeys& keys, const QString& id, const NetNodeFixture& target)
    {
        const QString own = signIn();
        const QJsonObject device{{"id", id}, {"name", id}, {"alias", "qx-" + id}, {"sshUser", "nora"},
                                 {"sshPubKey", "ssh-ed25519 AAAAC3NzaC1lZDI1NTE5AAAAIOM+02 nora@flood"}, {"endpoints", QJsonArray{}}};
        return service.post("api/net/sync", keys.prove(device, id, own), own).status == 200 &&
               waitUntil([&] { return !target.peer(id).isEmpty(); }, Limit::network);
    }
    static QByteArray hello(const QString& kind, const QString& id, const QString& tunnel = {})
    {
        return QJsonDocument(QJsonObject{{"kind", kind}, {"id", id}, {"port", 22}, {"tunnel", tunnel}}).toJson(QJsonDocument::Compact) + '\n';
    }

    std::unique_ptr<NetNodeFixture> node(bool withToken = true, qint64 parentPid = 0, const QString& name = QStringLiteral("Test box"))
    {
        auto fixture = std::make_unique<NetNodeFixture>();
        if (withToken)
            fixture->writeToken(signIn());
        if (!fixture->start({.server = service.url(), .name = name, .parentPid = parentPid}))
            qWarning("serve did not answer: %s", qPrintable(fixture->output()));
        return fixture;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(service.start(), qPrintable(service.error()));
        token = service.signUp(QStringLiteral("nora"), QStringLiteral("secret1"));
        QVERIFY(!token.isEmpty());
    }

    void commandsAnswerInTheirShape_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QString>("error"); // empty: a full status document
        QTest::newRow("status") << QByteArray(R"({"cmd":"status"})") << QString();
        QTest::newRow("allow off") << QByteArray(R"({"cmd":"allow","on":false})") << QString();
        QTest::newRow("netchange") << QByteArray(R"({"cmd":"netchange"})") << QString();
        QTest::newRow("allow without on") << QByteArray(R"({"cmd":"allow"})") << unknownCommand;
        QTest::newRow("unknown") << QByteArray(R"({"cmd":"fly"})") << unknownCommand;
        QTest::newRow("not json") << QByteArray("status please") << unknownCommand;
        QTest::newRow("over 64 KiB") << QByteArray(70 * 1024, 'x') << unknownCommand;
        QTest::newRow("alias in capitals") << QByteArray(R"({"cmd":"rename","name":"Box","alias":"qx-Box"})") << aliasText;
        QTest::newRow("alias too long") << (R"({"cmd":"rename","name":"Box","alias":"qx-)" + QByteArray(25, 'a') + R"("})") << aliasText;
        QTest::newRow("blank name") << QByteArray(R"({"cmd":"rename","name":" \t ","alias":"qx-box"})") << nameText;
        QTest::newRow("41 characters") << (R"({"cmd":"rename","name":")" + QByteArray(41, 'n') + R"(","alias":"qx-box"})") << nameText;
        const QString hiddenText = QStringLiteral("名字里不能有看不见的控制字符、格式字符或换行");
        QTest::newRow("control character") << QByteArray(R"({"cmd":"rename","name":"a\u0007b","alias":"qx-box"})") << hiddenText;
        QTest::newRow("right-to-left override") << QByteArray(R"({"cmd":"rename","name":"a\u202Eb","alias":"qx-box"})") << hiddenText;
    }

    void commandsAnswerInTheirShape()
    {
        QFETCH(QByteArray, line);
        QFETCH(QString, error);
        static auto serve = node();
        const QJsonObject reply = QJsonDocument::fromJson(serve->requestLine(line + '\n')).object();
        if (error.isEmpty())
            QVERIFY2(isStatusDocument(reply), QJsonDocument(reply).toJson().constData());
        else
            QCOMPARE(reply.value(QStringLiteral("error")).toString(), error);
        if (line.contains("allow"))
            QCOMPARE(serve->status().value(QStringLiteral("allowInbound")).toBool(), false);
    }

    void statusIsAnsweredWhileTheServiceIsSlow()
    {
        auto serve = node();
        service.script(QStringLiteral("api/net/rename"),
                       {{"delayMs", 3000}, {"status", 409}, {"body", R"({"error":"别名已经被占用"})"}});
        auto renaming = QtConcurrent::run([&] { return serve->request({{"cmd", "rename"}, {"name", "Box"}, {"alias", "qx-box"}}); });
        QTRY_VERIFY(service.requests().size() > 0 && !renaming.isFinished());
        QElapsedTimer clock;
        clock.start();
        QVERIFY(isStatusDocument(serve->status()));
        QVERIFY(clock.elapsed() < 1000);
        QCOMPARE(renaming.result().value(QStringLiteral("error")).toString(), QStringLiteral("别名已经被占用"));
    }

    void renameGoesThroughTheServiceAndSurvivesARelaunch()
    {
        auto first = node(true, 0, QStringLiteral("Study"));
        auto second = node(true, 0, QStringLiteral("Kitchen"));
        for (auto* serve : {first.get(), second.get()})
            QTRY_VERIFY_WITH_TIMEOUT(serve->siteOk(), 10000);
        const QJsonObject renamed = first->request({{"cmd", "rename"}, {"name", QStringLiteral(" 书房 ")}, {"alias", "qx-study-2"}});
        QCOMPARE(renamed.value(QStringLiteral("device")).toObject().value(QStringLiteral("name")).toString(), QStringLiteral("书房"));
        QCOMPARE(renamed.value(QStringLiteral("device")).toObject().value(QStringLiteral("alias")).toString(), QStringLiteral("qx-study-2"));
        const QJsonObject taken = second->request({{"cmd", "rename"}, {"name", "Kitchen"}, {"alias", "qx-study-2"}});
        QVERIFY(taken.value(QStringLiteral("error")).toString().contains(QStringLiteral("qx-study-2")));

        first->stop();
        QVERIFY(first->start({.server = service.url(), .name = "Another name"}));
        QCOMPARE(first->status().value(QStringLiteral("device")).toObject().value(QStringLiteral("name")).toString(), QStringLiteral("书房"));
    }

    void tokenIsReadWhenItChanges()
    {
        auto serve = node(false);
        QVERIFY(!serve->siteOk());
        serve->writeToken(signIn());
        QTRY_VERIFY_WITH_TIMEOUT(serve->siteOk(), 10000);
        struct stat socketFile {};
        QCOMPARE(::stat(QFile::encodeName(QDir(serve->stateDir()).filePath("net.sock")).constData(), &socketFile), 0);
        QCOMPARE(socketFile.st_mode & 0777, 0600u);
    }

    // A plain former address nobody may serve (anyone can listen there) never gets the token.
    void tokenStaysWithTheConfiguredService()
    {
        // A token of its own: other nodes of this test may sync meanwhile, this one must never show up.
        const QString own = signIn();
        NetNodeFixture serve;
        serve.writeToken(own);
        NetNodeFixture::Options options{.server = AccountServiceFixture::closedURL()};
        options.fallbackServer = service.url().toString();
        QVERIFY2(serve.start(options), qPrintable(serve.output()));
        QTRY_VERIFY_WITH_TIMEOUT(serve.status().value(QStringLiteral("site")).toObject().value(QStringLiteral("lastError"))
                                     .toString().contains(QStringLiteral("连不上账号服务")), 10000);
        for (const QJsonValue& request : service.requests())
            QVERIFY(!request.toObject().value(QStringLiteral("headers")).toObject().value(QStringLiteral("authorization"))
                         .toString().contains(own));
    }

    // Idle connections from strangers, more than the node has descriptors: it does not spin, and with
    // descriptors to spare for its caps it keeps answering the app and syncing, one address getting only
    // a few of them; with none to spare it waits and answers again once the crowd has gone.
    void strangersCannotCrowdThePeerPort_data()
    {
        QTest::addColumn<int>("files");
        QTest::newRow("caps below the limit") << 128;
        QTest::newRow("out of descriptors") << 16;
    }
    void strangersCannotCrowdThePeerPort()
    {
        QFETCH(int, files);
        NetNodeFixture serve;
        serve.writeToken(signIn());
        NetNodeFixture::Options options{.server = service.url()};
        options.launcher = {QStringLiteral("prlimit"), QStringLiteral("--nofile=%1:%1").arg(files), QStringLiteral("--")};
        QVERIFY2(serve.start(options), qPrintable(serve.output()));
        QTRY_VERIFY_WITH_TIMEOUT(serve.siteOk(), 10000);
        const int port = serve.listenPort();
        QVERIFY(port > 0);

        std::vector<std::unique_ptr<QTcpSocket>> crowd;
        for (int address = 2; address < 12; ++address)
            for (int i = 0; i < 20; ++i) {
                auto socket = std::make_unique<QTcpSocket>();
                socket->bind(QHostAddress(QStringLiteral("127.0.0.%1").arg(address)));
                socket->connectToHost(QHostAddress::LocalHost, quint16(port));
                crowd.push_back(std::move(socket));
            }
        const bool plenty = files > 64;
        if (plenty) {
            const auto closedFrom = [&](int address) {
                int closed = 0;
                for (int i = 0; i < 20; ++i)
                    closed += crowd[size_t((address - 2) * 20 + i)]->state() == QAbstractSocket::UnconnectedState;
                return closed;
            };
            // Beyond the first few, one address's connections are closed at once.
            QTRY_VERIFY_WITH_TIMEOUT(closedFrom(2) >= 12, 5000);
        } else {
            // The node's descriptors are gone and its queue of connections full.
            QTRY_VERIFY_WITH_TIMEOUT(std::count_if(crowd.begin(), crowd.end(), [](const auto& socket) {
                return socket->state() == QAbstractSocket::ConnectedState;
            }) >= 50, 5000);
        }

        const pid_t pid = pid_t(serve.process().processId());
        const long long before = processStat(pid)->cpuTicks;
        QElapsedTimer clock;
        clock.start();
        if (plenty) {
            QVERIFY(!serve.status().isEmpty());
            QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
        }
        QTest::qWait(1000); // a window to measure the node's CPU in, the crowd still connected
        const double busy = double(processStat(pid)->cpuTicks - before) / double(::sysconf(_SC_CLK_TCK))
            / (double(clock.elapsed()) / 1000.0);
        QVERIFY2(busy < 0.3, qPrintable(QString::number(busy)));
        if (plenty)
            QVERIFY(serve.siteOk());
        crowd.clear();
        QVERIFY(!serve.status().isEmpty());
        QTRY_VERIFY_WITH_TIMEOUT(serve.siteOk(), 10000);
    }

    // A tunnel a device opened into this machine ends, on both sides, when inbound is turned off, or when
    // that device is removed: the remover's link tells the others at once, long before their own next sync.
    void inboundTunnelsEndWithTheirDevice_data()
    {
        QTest::addColumn<bool>("removal");
        QTest::newRow("inbound off") << false;
        QTest::newRow("device removed") << true;
    }
    void inboundTunnelsEndWithTheirDevice()
    {
        QFETCH(bool, removal);
        QTcpServer sshd;
        QVERIFY(sshd.listen(QHostAddress::LocalHost));
        const QString user = QStringLiteral("tunnels%1").arg(int(removal));
        const QString account = service.signUp(user, QStringLiteral("secret1"));
        const QJsonObject slow{{"syncMs", 600000}, {"sshTarget", QStringLiteral("127.0.0.1:%1").arg(sshd.serverPort())}};
        NetNodeFixture host, guest, remover;
        const std::vector<NetNodeFixture*> nodes{&host, &guest, &remover};
        for (NetNodeFixture* n : nodes) {
            n->writeToken(service.signIn(user, QStringLiteral("secret1"))); // a token serves one device
            QVERIFY2(n->start({.server = service.url(), .config = slow}), qPrintable(n->output()));
        }
        // One more sync each, now that all three are registered; none after that.
        for (NetNodeFixture* n : nodes)
            QTRY_VERIFY_WITH_TIMEOUT(n->siteOk(), 10000);
        for (NetNodeFixture* n : nodes)
            n->request({{"cmd", "netchange"}});
        const auto connected = [](const NetNodeFixture& from, const NetNodeFixture& to) {
            return from.peer(to.deviceId()).value("link").toObject().value("state").toString() == QLatin1String("connected");
        };
        QTRY_VERIFY_WITH_TIMEOUT(connected(guest, host) && connected(remover, host), 20000);

        QProcess dial;
        dial.start(NetNodeFixture::binary(), {QStringLiteral("dial"), QStringLiteral("--state"), guest.stateDir(), host.deviceId(), QStringLiteral("22")});
        QTRY_VERIFY_WITH_TIMEOUT(sshd.hasPendingConnections(), 10000);
        QTcpSocket* inside = sshd.nextPendingConnection();
        dial.write("SSH-2.0-test\r\n");
        QByteArray arrived;
        QTRY_COMPARE_WITH_TIMEOUT(arrived += inside->readAll(), QByteArray("SSH-2.0-test\r\n"), 5000);

        if (removal) {
            const auto removed = service.post(QStringLiteral("api/device/%1/remove").arg(guest.deviceId()), {}, account);
            QCOMPARE(removed.status, 200);
            QVERIFY(!remover.request({{"cmd", "devices"}}).contains(QStringLiteral("error")));
        } else {
            host.request({{"cmd", "allow"}, {"on", false}});
        }
        QTRY_COMPARE_WITH_TIMEOUT(inside->state(), QAbstractSocket::UnconnectedState, 5000);
        // The guest's side does not wait for a link to resume it over: its dial ends too.
        QTRY_COMPARE_WITH_TIMEOUT(dial.state(), QProcess::NotRunning, 5000);
        dial.kill();
        dial.waitForFinished();
        // Nor does a new one get through.
        const auto again = guest.dial(host.deviceId(), 22, "SSH-2.0-test\r\n");
        QCOMPARE(again.exitCode, 1);
        QVERIFY(!sshd.hasPendingConnections());
        if (removal)
            QVERIFY(host.peer(guest.deviceId()).isEmpty());
    }

    void endsCleanly_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<int>("status");
        QTest::newRow("quit") << "quit" << 0;
        QTest::newRow("SIGTERM") << "term" << 0;
        QTest::newRow("the app is gone") << "parent" << 0;
        QTest::newRow("the token is revoked") << "revoked" << 3;
    }

    void endsCleanly()
    {
        QFETCH(QString, how);
        QFETCH(int, status);
        QProcess app;
        app.start(QStringLiteral("sleep"), {QStringLiteral("120")});
        QVERIFY(app.waitForStarted());
        const QString own = service.signUp(QStringLiteral("end-") + QString::number(qHash(how)), QStringLiteral("secret1"));
        auto serve = std::make_unique<NetNodeFixture>();
        serve->writeToken(own);
        QVERIFY(serve->start({.server = service.url(), .parentPid = app.processId()}));
        QElapsedTimer clock;
        clock.start();
        if (how == "quit") {
            QCOMPARE(serve->requestLine(R"({"cmd":"quit"})" "\n"), QByteArray(R"({"ok":true})"));
        } else if (how == "term") {
            ::kill(pid_t(serve->process().processId()), SIGTERM);
        } else if (how == "parent") {
            app.kill();
            app.waitForFinished(); // reaped: its pid is gone
        } else {
            QTRY_VERIFY_WITH_TIMEOUT(serve->siteOk(), 10000);
            service.post(QStringLiteral("api/logout"), {}, own);
        }
        QCOMPARE(serve->waitForExit(10000), status);
        if (how == "quit")
            QVERIFY(clock.elapsed() < 2000);
        QVERIFY(!QFile::exists(QDir(serve->stateDir()).filePath("net.sock")));
        app.kill();
        app.waitForFinished();
    }

    // Removed from the account, a machine is signed out at once; after a fresh sign-in it joins again
    // under a new id and certificate, and the old ones stay refused.
    void aRemovedDeviceRejoinsAsANewOne()
    {
        auto kicked = node();
        QTRY_VERIFY_WITH_TIMEOUT(kicked->siteOk(), 10000);
        const QString oldId = kicked->deviceId();
        QCOMPARE(service.post(QStringLiteral("api/device/%1/remove").arg(oldId), {}, signIn()).status, 200);
        QCOMPARE(kicked->waitForExit(20000), 3);

        kicked->writeToken(signIn());
        QVERIFY(kicked->start({.server = service.url()}));
        QTRY_VERIFY_WITH_TIMEOUT(kicked->siteOk() && kicked->deviceId() != oldId, 20000);
        auto other = node();
        QTRY_VERIFY_WITH_TIMEOUT(!other->peer(kicked->deviceId()).isEmpty(), 20000);
        QVERIFY(other->peer(oldId).isEmpty());
    }

    // Someone with an account of their own reads this machine's certificate (its peer port shows it to
    // anyone) and claims it for a device of theirs: the claim is refused, so removing that device leaves
    // this machine linked and signed in.
    void anotherAccountCannotSignAMachineOut()
    {
        auto victim = node();
        QTRY_VERIFY_WITH_TIMEOUT(victim->siteOk(), 10000);
        const auto certificates = QSslCertificate::fromPath(QDir(victim->stateDir()).filePath("tls-cert.pem"));
        QCOMPARE(certificates.size(), 1);
        const QString stolen = QString::fromLatin1(certificates.first().digest(QCryptographicHash::Sha256).toHex());

        const QString mallory = service.signUp(QStringLiteral("mallory"), QStringLiteral("secret1"));
        const QJsonObject claim{{"id", "dev-mallory-01"}, {"name", "Box"}, {"alias", "qx-box"},
                                {"certSha256", stolen}, {"endpoints", QJsonArray{}}};
        QCOMPARE(service.post(QStringLiteral("api/net/sync"), claim, mallory).status, 400);
        DeviceKeys keys;
        QJsonObject proven = keys.prove(claim, QStringLiteral("mallory"), mallory);
        proven.insert(QStringLiteral("certSha256"), stolen);
        QCOMPARE(service.post(QStringLiteral("api/net/sync"), proven, mallory).status, 400);
        service.post(QStringLiteral("api/device/dev-mallory-01/remove"), {}, mallory);

        service.resetHooks(); // the log keeps the latest requests only: counted from here
        QTRY_VERIFY_WITH_TIMEOUT(service.requestsTo(QStringLiteral("/api/net/sync")).size() >= 3, 10000);
        QCOMPARE(victim->process().state(), QProcess::Running);
        QVERIFY(victim->siteOk());
    }

    // A device of the account that floods this machine with requests to join relay sessions gets them
    // answered one at a time, a few a second, and only a few kept waiting: the machine neither floods the
    // service nor runs out of descriptors.
    void aPeersRelayRequestsAreLimited()
    {
        auto target = node();
        QTRY_VERIFY_WITH_TIMEOUT(target->siteOk(), 10000);
        DeviceKeys keys;
        const QString token = signIn();
        const QJsonObject flooder{{"id", "dev-flood-01"}, {"name", "Flood"}, {"alias", "qx-flood"}, {"sshUser", "nora"},
                                  {"sshPubKey", "ssh-ed25519 AAAAC3NzaC1lZDI1NTE5AAAAIOM+02 nora@flood"},
                                  {"endpoints", QJsonArray{}}};
        QCOMPARE(service.post("api/net/sync", keys.prove(flooder, "flood", token), token).status, 200);
        QTRY_VERIFY_WITH_TIMEOUT(!target->peer("dev-flood-01").isEmpty(), 10000);

        service.resetHooks(); // the log keeps the latest requests only: counted from here
        QByteArray lines = R"({"kind":"link","id":"dev-flood-01","version":"0.1.0","allows":false,"path":"direct"})" "\n";
        for (int i = 0; i < 200; ++i)
            lines += QStringLiteral(R"({"t":"relay","session":"flood-%1"})").arg(i).toLatin1() + '\n';
        lines += R"({"t":"ping","n":7})" "\n";
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, quint16(target->listenPort()));
        QVERIFY(socket.waitForConnected(5000));
        const int fd = int(socket.socketDescriptor());
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
        const timeval patience{10, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
        SSL* tls = SSL_new(keys.context("flood"));
        SSL_set_fd(tls, fd);
        QCOMPARE(SSL_connect(tls), 1);
        QCOMPARE(SSL_write(tls, lines.constData(), int(lines.size())), int(lines.size()));
        QByteArray answers;
        char chunk[4096];
        for (int n = 0; !answers.contains(R"("n":7)") && (n = SSL_read(tls, chunk, sizeof chunk)) > 0;)
            answers.append(chunk, n); // every relay line was read once the ping's answer came
        QVERIFY2(answers.contains(R"("n":7)"), answers.constData());

        const auto floodAsks = [&] {
            const QList<QJsonObject> asks = service.requestsTo("/api/net/relay");
            return std::count_if(asks.cbegin(), asks.cend(), [](const QJsonObject& request) {
                return QByteArray::fromBase64(request.value("body").toString().toLatin1()).contains("flood-");
            });
        };
        // The one answered at once and the four kept waiting, and a few more that came while they were
        // answered; the rest were dropped.
        QTRY_VERIFY_WITH_TIMEOUT(floodAsks() >= 5, 10000);
        const qsizetype drained = service.requestsTo("/api/net/sync").size();
        QTRY_VERIFY_WITH_TIMEOUT(service.requestsTo("/api/net/sync").size() >= drained + 3, 10000);
        QVERIFY2(floodAsks() <= 12, qPrintable(QString::number(floodAsks())));
        SSL_free(tls);
    }

    // Certificates no device of the account has look the account up once: new ones bring the next sync
    // forward at most once per interval, one a sync did not find brings none.
    void unknownCertificatesBringFewSyncs_data()
    {
        QTest::addColumn<bool>("fresh");
        QTest::addColumn<int>("intervalMs");
        QTest::newRow("a new certificate each time") << true << 60000;
        QTest::newRow("one refused certificate again and again") << false << 300;
    }
    void unknownCertificatesBringFewSyncs()
    {
        QFETCH(bool, fresh);
        QFETCH(int, intervalMs);
        NetNodeFixture serve; // alone in an account of its own: no device of it makes it sync
        serve.writeToken(service.signUp(QStringLiteral("alone%1").arg(int(fresh)), QStringLiteral("secret1")));
        QVERIFY(serve.start({.server = service.url(), .config = {{"syncMs", 600000}, {"strangerSyncMs", intervalMs}}}));
        QTRY_VERIFY_WITH_TIMEOUT(serve.siteOk(), Limit::network);
        service.resetHooks();
        const auto syncs = [&] {
            const QList<QJsonObject> all = service.requestsTo(QStringLiteral("/api/net/sync"));
            return std::count_if(all.cbegin(), all.cend(), [&](const QJsonObject& request) {
                return QByteArray::fromBase64(request.value("body").toString().toLatin1()).contains(serve.deviceId().toLatin1());
            });
        };
        DeviceKeys keys;
        int knocks = 0;
        const auto knock = [&] {
            const QString name = QStringLiteral("stranger-%1").arg(fresh ? knocks++ : 0);
            return PeerClient::knock(keys.context(name), serve.listenPort(), hello("link", name));
        };
        QVERIFY(knock());
        QVERIFY(waitUntil([&] { return syncs() == 1; }, Limit::network)); // perhaps a device that just joined
        // Knocking on for longer than the former once a second: no other sync.
        QVERIFY2(!waitUntil([&] { return !knock() || syncs() > 1; }, 3000), qPrintable(serve.output()));
    }

    // A device of the account cannot exhaust a node: large pings it never reads the answers to cost it its
    // link, and tunnels beyond a few are refused while the node keeps descriptors for the app and the
    // service, and gives new ones once they closed.
    void aPeerCannotExhaustTheNode()
    {
        QTcpServer sshd;
        sshd.setListenBacklogSize(256); // the node's connections wait there, never accepted
        QVERIFY(sshd.listen(QHostAddress::LocalHost));
        NetNodeFixture serve;
        serve.writeToken(signIn());
        NetNodeFixture::Options options{.server = service.url()};
        options.config = {{"sshTarget", QStringLiteral("127.0.0.1:%1").arg(sshd.serverPort())}, {"tunnelResumeMs", 500}};
        options.launcher = {QStringLiteral("prlimit"), QStringLiteral("--nofile=128:128"), QStringLiteral("--")};
        QVERIFY2(serve.start(options), qPrintable(serve.output()));
        DeviceKeys keys;
        QVERIFY(joinAs(keys, "dev-many-01", serve));

        PeerClient deaf(keys.context("dev-many-01"), serve.listenPort());
        const QByteArray ping = QJsonDocument(QJsonObject{{"t", "ping"}, {"n", QString(60 * 1024, '7')}}).toJson(QJsonDocument::Compact) + '\n';
        qint64 sent = 0;
        for (bool going = deaf.send(hello("link", "dev-many-01")); going && sent < (64 << 20); going = deaf.send(ping))
            sent += ping.size();
        qInfo("the link went after %lld KB of pings", sent >> 10);
        QVERIFY(sent < (64 << 20));
        QVERIFY2(waitUntil([&] { return serve.output().contains(QStringLiteral("对方不收数据")); }), qPrintable(serve.output()));

        std::vector<std::unique_ptr<PeerClient>> tunnels;
        int opened = 0;
        const auto open = [&] {
            tunnels.push_back(std::make_unique<PeerClient>(keys.context("dev-many-01"), serve.listenPort()));
            tunnels.back()->send(hello("tunnel", "dev-many-01", QStringLiteral("t%1").arg(tunnels.size())));
            const QByteArray answer = tunnels.back()->readLine();
            opened += answer.contains(R"("ok":true)");
            return answer.contains(R"("ok":true)") || QString::fromUtf8(answer).contains(QStringLiteral("通道太多了"));
        };
        for (int i = 0; i < 70; ++i) // far more than the descriptors hold
            QVERIFY2(open(), qPrintable(QStringLiteral("tunnel %1\n").arg(i) + serve.output()));
        qInfo("%d of 70 tunnels opened under 128 descriptors", opened);
        QVERIFY(opened >= 4 && opened < 30);
        QElapsedTimer clock;
        clock.start();
        QVERIFY(isStatusDocument(serve.status()) && clock.elapsed() < 1000);
        service.resetHooks();
        QVERIFY(waitUntil([&] { return !service.requestsTo(QStringLiteral("/api/net/sync")).isEmpty() && serve.siteOk(); }, Limit::network));
        tunnels.clear(); // their connections go; the tunnels close after the resume interval
        opened = 0;
        QVERIFY(waitUntil([&] { return open() && opened > 0; }, Limit::network));
    }

    void oneServePerStateFolder()
    {
        auto first = node();
        QProcess second;
        second.start(NetNodeFixture::binary(), {"serve", "--state", first->stateDir(), "--server", service.url().toString(),
                                                "--token-file", first->tokenPath()});
        QVERIFY(second.waitForFinished(15000));
        QCOMPARE(second.exitCode(), 4);
        QVERIFY(isStatusDocument(first->status()));
    }

    void dialFailsWithOneLine()
    {
        NetNodeFixture idle;
        QVERIFY(oneFailureLine(idle.dial(QStringLiteral("0123456789abcdef"), 22, "SSH-2.0-test\r\n")));
        auto serve = node();
        QVERIFY(oneFailureLine(serve->dial(QStringLiteral("0123456789abcdef"), 22, "SSH-2.0-test\r\n")));
    }
};

QTEST_GUILESS_MAIN(NodeTest)
#include "NodeTest.moc"
