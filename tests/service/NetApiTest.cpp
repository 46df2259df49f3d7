// The account service's device API: what a device may register, who sees whom, renames, removal, and
// the relay that splices two devices' connections.
#include "support/AccountServiceFixture.h"
#include "support/DeviceKeys.h"
#include "support/WaitUntil.h"

#include <QElapsedTimer>
#include <QTcpSocket>
#include <QtTest>

namespace {
QJsonObject device(const QString& id, const QString& alias, const QString& name = QStringLiteral("Box"))
{
    return QJsonObject{{"id", id},
                       {"name", name},
                       {"alias", alias},
                       {"sshUser", "ann"},
                       {"sshPubKey", "ssh-ed25519 AAAAC3NzaC1lZDI1NTE5AAAAIOM+02 ann@box"},
                       {"hostPubKey", "ssh-ed25519 AAAAC3NzaC1lZDI1NTE5AAAAIBV4LU root@box"},
                       {"model", "ThinkPad"},
                       {"osVersion", "Debian 12"},
                       {"appBuild", 42},
                       {"remoteAccess", true},
                       {"version", "0.1.0"},
                       {"endpoints", QJsonArray{QJsonObject{{"host", "127.0.0.1"}, {"port", 47810}}}}};
}

// A service of its own whose accounts each sign in two devices, dev-<user>-0 and dev-<user>-1, and the
// relay's steps as those devices take them.
struct RelayRig {
    AccountServiceFixture service;
    DeviceKeys& keys;
    QMap<QString, QString> signedIn; // device id -> its token

    RelayRig(AccountServiceFixture::Options options, DeviceKeys& keys) : service(std::move(options)), keys(keys) {}
    bool start(const QStringList& users)
    {
        if (!service.start())
            return false;
        for (const QString& user : users) {
            service.signUp(user, QStringLiteral("secret1"));
            for (int i = 0; i < 2; ++i) {
                const QString id = QStringLiteral("dev-%1-%2").arg(user).arg(i);
                signedIn.insert(id, service.signIn(user, QStringLiteral("secret1")));
                if (service.post("api/net/sync", keys.prove(device(id, "qx-relay"), id, signedIn[id]), signedIn[id]).status != 200)
                    return false;
            }
        }
        return true;
    }
    QJsonObject ticket(const QString& id, const QString& peer, const QString& session = {})
    {
        QJsonObject body{{"id", id}, {"peer", peer}, {"fresh", session.isEmpty()}};
        if (!session.isEmpty())
            body.insert("session", session);
        return service.post("api/net/relay", body, signedIn[id]).json();
    }
    static void connectWith(QTcpSocket& socket, const QJsonObject& end, const QString& from)
    {
        socket.bind(QHostAddress(from));
        socket.connectToHost(QHostAddress(end.value("host").toString()), quint16(end.value("port").toInt()));
        socket.write("TARNEL-RELAY " + end.value("ticket").toString().toLatin1() + "\n");
    }
    // Whether the user's two devices get a session through the relay that carries their bytes.
    bool pairs(const QString& user)
    {
        const QJsonObject first = ticket(QStringLiteral("dev-%1-0").arg(user), QStringLiteral("dev-%1-1").arg(user));
        const QJsonObject second = ticket(QStringLiteral("dev-%1-1").arg(user), QStringLiteral("dev-%1-0").arg(user),
                                          first.value("session").toString());
        QTcpSocket left, right;
        connectWith(left, first, QStringLiteral("127.0.0.1"));
        connectWith(right, second, QStringLiteral("127.0.0.1"));
        left.write("ping");
        return waitUntil([&] { return right.bytesAvailable() >= 4; }, 10000) && right.readAll() == "ping";
    }
};

QJsonObject listed(const QJsonObject& reply, const QString& id)
{
    for (const QJsonValue& item : reply.value("devices").toArray())
        if (item.toObject().value("id").toString() == id)
            return item.toObject();
    return {};
}
} // namespace

class NetApiTest : public QObject {
    Q_OBJECT
    AccountServiceFixture service{AccountServiceFixture::Options{false, false}};
    QString ann;
    QMap<QString, QString> tokens; // each of ann's devices signs in on its own
    DeviceKeys keys;                // each device has its own certificate, named after its id unless told

    QString tokenOf(const QString& id)
    {
        if (!tokens.contains(id))
            tokens.insert(id, service.signIn(QStringLiteral("ann"), QStringLiteral("secret1")));
        return tokens.value(id);
    }

    // A sync as tarnel-net sends it, with the proof that the device holds its certificate's key.
    AccountServiceFixture::Reply sync(const QJsonObject& body, const QString& token = {}, const QString& key = {})
    {
        const QString id = body.value("id").toString();
        const QString caller = token.isEmpty() ? tokenOf(id) : token;
        return service.post(QStringLiteral("api/net/sync"), keys.prove(body, key.isEmpty() ? id : key, caller), caller);
    }
    AccountServiceFixture::Reply call(const QString& path, const QJsonObject& body)
    {
        return service.post(path, body, tokenOf(body.value("id").toString()));
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(service.start(), qPrintable(service.error()));
        ann = service.signUp(QStringLiteral("ann"), QStringLiteral("secret1"));
    }

    void badRecordsAreRefused_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QJsonValue>("value");
        QTest::newRow("short id") << "id" << QJsonValue("abc");
        QTest::newRow("id with a slash") << "id" << QJsonValue("dev/../../x");
        QTest::newRow("alias without prefix") << "alias" << QJsonValue("box");
        QTest::newRow("41-character name") << "name" << QJsonValue(QString(41, QLatin1Char('n')));
        QTest::newRow("name with a line break") << "name" << QJsonValue("Box\nHost evil");
        QTest::newRow("name with a right-to-left override") << "name" << QJsonValue(QStringLiteral("Box\u202Egpj.exe"));
        QTest::newRow("name with a bidi isolate") << "name" << QJsonValue(QStringLiteral("\u2067Box\u2069"));
        QTest::newRow("name with stacked combining marks") << "name" << QJsonValue(QStringLiteral("Bo") + QString(8, QChar(0x0301)) + "x");
        QTest::newRow("key with a line break") << "sshPubKey" << QJsonValue("ssh-ed25519 AAAA\nssh-rsa BBBB");
        QTest::newRow("no certificate") << "certSha256" << QJsonValue("");
        // A certificate counts only with the proof that the caller holds its key.
        QTest::newRow("another device's fingerprint") << "certSha256" << QJsonValue(keys.fingerprint("someone"));
        QTest::newRow("no proof") << "proof" << QJsonValue("");
        QTest::newRow("another device's certificate") << "certificate"
                                                      << keys.prove(device("dev-bad-001", "qx-bad"), "someone", ann).value("certificate");
        QTest::newRow("a proof for another sign-in") << "proof"
                                                     << keys.prove(device("dev-bad-000", "qx-bad"), "dev-bad-000", ann).value("proof");
        QTest::newRow("host name endpoint") << "endpoints" << QJsonValue(QJsonArray{QJsonObject{{"host", "evil.example"}, {"port", 22}}});
    }

    void badRecordsAreRefused()
    {
        QFETCH(QString, key);
        QFETCH(QJsonValue, value);
        QJsonObject body = keys.prove(device(QStringLiteral("dev-bad-000"), QStringLiteral("qx-bad")),
                                      QStringLiteral("dev-bad-000"), tokenOf("dev-bad-000"));
        body.insert(key, value);
        const auto reply = service.post(QStringLiteral("api/net/sync"), body, tokenOf("dev-bad-000"));
        QCOMPARE(reply.status, 400);
        // A hidden character is named as the reason, not the length.
        if (value.toString().contains(QChar(0x202E)))
            QCOMPARE(reply.json().value("error").toString(), QStringLiteral("名字里不能有看不见的控制字符、格式字符或换行"));
    }

    // A name is text, counted as the user counts characters: an emoji sequence is one.
    void namesAreTextCountedAsSeen_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("refusal");
        const QString invalid = QStringLiteral("名字里有无效的字符");
        const QString pile = QStringLiteral("名字里叠加的符号太多了");
        const QString invisible = QStringLiteral("名字里没有看得见的字");
        const QString family = QString::fromUcs4(U"\U0001F469\U0001F3FD\u200D\U0001F469\U0001F3FD\u200D\U0001F467\U0001F3FD\u200D\U0001F466\U0001F3FD");
        QTest::newRow("40 emoji") << QString::fromUcs4(U"\U0001F600").repeated(40) << QString();
        QTest::newRow("40 families with skin tones") << family.repeated(40) << QString();
        QTest::newRow("41 emoji") << QString::fromUcs4(U"\U0001F600").repeated(41) << QStringLiteral("名字 1～40 个字符");
        QTest::newRow("flag, keycap, heart") << QString::fromUcs4(U"\U0001F3F3\uFE0F\u200D\U0001F308#\uFE0F\u20E3\u2764\uFE0F") << QString();
        QTest::newRow("joined Devanagari") << QStringLiteral("\u0915\u094D\u200D\u0937") << QString();
        QTest::newRow("lone high surrogate") << QStringLiteral("Box") + QChar(0xD800) << invalid;
        QTest::newRow("noncharacter") << QStringLiteral("Box\uFFFF") << invalid;
        QTest::newRow("private use only") << QStringLiteral("\uE000\uF8FF") << invisible;
        QTest::newRow("unassigned only") << QStringLiteral("\u0378\u0379") << invisible;
        QTest::newRow("joiners piled") << QStringLiteral("Bo\u200D\u200D\u200Dx") << pile;
        QTest::newRow("grapheme joiners piled") << QStringLiteral("Bo\u034F\u034Fx") << pile;
        QTest::newRow("selectors piled") << QStringLiteral("Bo\uFE0F\uFE0E\uFE0Fx") << pile;
        QTest::newRow("13 emoji joined into one") << (QString::fromUcs4(U"\U0001F600\u200D").repeated(12) + QString::fromUcs4(U"\U0001F600")) << pile;
        QTest::newRow("joiner at the end") << QStringLiteral("Box\u200D") << QStringLiteral("名字里不能有看不见的控制字符、格式字符或换行");
    }
    void namesAreTextCountedAsSeen()
    {
        QFETCH(QString, name);
        QFETCH(QString, refusal);
        static int rows = 0; // stored names change only by a rename: each row is a new device
        const QString id = QStringLiteral("dev-name-%1").arg(++rows, 2, 10, QLatin1Char('0'));
        const auto reply = sync(device(id, "qx-name", name)); // JSON carries a lone surrogate as "\ud800"
        QCOMPARE(reply.json().value("error").toString(), refusal);
        if (refusal.isEmpty())
            QCOMPARE(reply.json().value("device").toObject().value("name").toString(), name);
    }

    void signInIsRequired()
    {
        QCOMPARE(service.post("api/net/sync", device("dev-anon-00", "qx-anon"), {}).status, 401);
        const QString cal = service.signUp(QStringLiteral("cal"), QStringLiteral("secret1"));
        QCOMPARE(service.admin({"users", "disable", "cal"}).status, 0);
        QCOMPARE(sync(device("dev-cal-000", "qx-cal"), cal).status, 403);
    }

    void devicesOfOneAccountSeeEachOther()
    {
        QCOMPARE(sync(device("dev-one-000", "qx-box", "One")).status, 200);
        const auto second = sync(device("dev-two-000", "qx-box", "Two"));
        QCOMPARE(second.status, 200);
        // The alias was taken: the second device gets the next free one.
        QCOMPARE(second.json().value("device").toObject().value("alias").toString(), QStringLiteral("qx-box-2"));
        const QJsonObject one = listed(second.json(), "dev-one-000");
        QVERIFY(one.value("online").toBool());
        QCOMPARE(one.value("endpoints").toArray().size(), 1);
        QCOMPARE(one.value("certSha256").toString(), keys.fingerprint("dev-one-000"));
        QVERIFY(listed(second.json(), "dev-two-000").isEmpty());

        // A relaunch with another default name keeps the stored one.
        const auto again = sync(device("dev-one-000", "qx-other", "Renamed by accident"));
        QCOMPARE(again.json().value("device").toObject().value("name").toString(), QStringLiteral("One"));
        QCOMPARE(again.json().value("device").toObject().value("alias").toString(), QStringLiteral("qx-box"));

        const QString bob = service.signUp(QStringLiteral("bob"), QStringLiteral("secret1"));
        const auto stranger = sync(device("dev-bob-000", "qx-box"), bob);
        QCOMPARE(stranger.json().value("devices").toArray().size(), 0);
        // Another account's device answers like a missing one, on every path.
        const QString bobAgain = service.signIn(QStringLiteral("bob"), QStringLiteral("secret1"));
        QCOMPARE(sync(device("dev-one-000", "qx-box"), bobAgain).status, 404);
        QCOMPARE(service.post("api/net/rename", {{"id", "dev-one-000"}, {"name", "x"}, {"alias", "qx-x"}}, bobAgain).status, 404);
        QCOMPARE(service.post("api/net/relay", {{"id", "dev-one-000"}, {"peer", "dev-two-000"}}, bobAgain).status, 404);
        QCOMPARE(service.post("api/device/dev-one-000/remove", {}, bobAgain).status, 404);
        QVERIFY(service.admin({"devices", "list", "ann"}).out.contains("0.1.0\tyes"));
    }

    void renameKeepsAliasesUnique()
    {
        sync(device("dev-ren-001", "qx-ren-a"));
        sync(device("dev-ren-002", "qx-ren-b"));
        const auto taken = call("api/net/rename", {{"id", "dev-ren-002"}, {"name", "B"}, {"alias", "qx-ren-a"}});
        QCOMPARE(taken.status, 409);
        QVERIFY(taken.json().value("error").toString().contains("qx-ren-a"));
        const auto renamed = call("api/net/rename", {{"id", "dev-ren-002"}, {"name", QStringLiteral("书房")}, {"alias", "qx-study"}});
        QCOMPARE(renamed.status, 200);
        QCOMPARE(renamed.json().value("device").toObject().value("name").toString(), QStringLiteral("书房"));
    }

    void removedDevicesAreGone()
    {
        sync(device("dev-gone-01", "qx-gone"));
        QCOMPARE(service.post("api/device/dev-gone-01/remove", {}, ann).status, 200);
        QVERIFY(listed(sync(device("dev-stay-01", "qx-stay")).json(), "dev-gone-01").isEmpty());
        const QString later = service.signIn(QStringLiteral("ann"), QStringLiteral("secret1"));
        QCOMPARE(sync(device("dev-gone-01", "qx-gone"), later).status, 410);
        QCOMPARE(service.post("api/net/rename", {{"id", "dev-gone-01"}, {"name", "x"}, {"alias", "qx-x"}}, later).status, 410);
    }

    // The machine of a removed device is signed out, cannot come back under another id or with its old
    // certificate, and joins again as a new device after a fresh sign-in.
    void aRemovedDeviceStaysOutUntilItSignsInAgain()
    {
        // A sign-in from before the removal that never synced (an older client's) goes with the device.
        const QString older = service.signIn(QStringLiteral("ann"), QStringLiteral("secret1"));
        const qint64 signedInAt = QDateTime::currentSecsSinceEpoch();
        QTRY_VERIFY(QDateTime::currentSecsSinceEpoch() > signedInAt);
        const QString kicked = service.signIn(QStringLiteral("ann"), QStringLiteral("secret1"));
        const QJsonObject record = device("dev-kick-01", "qx-kick");
        QCOMPARE(sync(record, kicked, "b").status, 200);
        QCOMPARE(service.post("api/app/ping", {{"version", "0.1.0"}, {"build", 1}, {"channel", "stable"}}, kicked).status, 200);
        QCOMPARE(service.post("api/device/dev-kick-01/remove", {}, tokenOf("dev-kip-001")).status, 200);

        const auto ping = service.post("api/app/ping", {{"version", "0.1.0"}, {"build", 1}, {"channel", "stable"}}, kicked);
        QCOMPARE(ping.status, 401);
        QCOMPARE(ping.json().value("account").toString(), QStringLiteral("removed"));
        const QJsonObject disguised = device("dev-kick-02", "qx-kick");
        QCOMPARE(sync(disguised, kicked, "c").status, 401);

        QCOMPARE(sync(record, older, "b").status, 401);
        QCOMPARE(service.post("api/app/ping", {{"version", "0.1.0"}, {"build", 1}, {"channel", "stable"}}, older)
                     .json().value("account").toString(), QStringLiteral("removed"));

        const QString fresh = service.signIn(QStringLiteral("ann"), QStringLiteral("secret1"));
        QCOMPARE(sync(record, fresh, "b").status, 410);
        QCOMPARE(sync(device("dev-kick-03", "qx-kick"), fresh, "b").status, 410);
        QCOMPARE(sync(disguised, fresh, "c").status, 200);
        QVERIFY(!listed(sync(device("dev-kip-001", "qx-kip")).json(), "dev-kick-02").isEmpty());
        QVERIFY(listed(sync(device("dev-kip-001", "qx-kip")).json(), "dev-kick-01").isEmpty());
    }

    // A token serves the one device that first synced with it: a copied token adds no device.
    void aTokenServesOneDevice()
    {
        const QString token = service.signIn(QStringLiteral("ann"), QStringLiteral("secret1"));
        QCOMPARE(sync(device("dev-own-001", "qx-own"), token).status, 200);
        QCOMPARE(sync(device("dev-own-001", "qx-own"), token).status, 200);
        QCOMPARE(sync(device("dev-copy-01", "qx-copy"), token).status, 401);
        QCOMPARE(service.post("api/net/relay", {{"id", "dev-copy-01"}, {"peer", "dev-own-001"}}, token).status, 401);
        QVERIFY(listed(sync(device("dev-kip-001", "qx-kip")).json(), "dev-copy-01").isEmpty());
    }

    // A token holds the certificate its device proved: a second machine with the token, the id and a key
    // of its own replaces nothing. The owner's fresh sign-in may give the device a new certificate, and
    // its removal refuses every certificate it used.
    void aTokenHoldsItsDevicesCertificate()
    {
        const QString token = service.signIn(QStringLiteral("ann"), QStringLiteral("secret1"));
        QCOMPARE(sync(device("dev-held-01", "qx-held"), token, "held-a").status, 200);
        QCOMPARE(sync(device("dev-held-01", "qx-held"), token, "held-b").status, 401);
        const auto seen = [&] {
            return listed(sync(device("dev-kip-001", "qx-kip")).json(), "dev-held-01").value("certSha256").toString();
        };
        QCOMPARE(seen(), keys.fingerprint("held-a"));

        const QString again = service.signIn(QStringLiteral("ann"), QStringLiteral("secret1"));
        QCOMPARE(sync(device("dev-held-01", "qx-held"), again, "held-b").status, 200);
        QCOMPARE(seen(), keys.fingerprint("held-b"));
        QCOMPARE(service.post("api/device/dev-held-01/remove", {}, ann).status, 200);
        const QString later = service.signIn(QStringLiteral("ann"), QStringLiteral("secret1"));
        QCOMPARE(sync(device("dev-held-02", "qx-held"), later, "held-a").status, 410);
        QCOMPARE(sync(device("dev-held-03", "qx-held"), later, "held-b").status, 410);
    }

    // A removal touches only its own account: the same machine's certificate stays welcome in another
    // account, and there the removed id is unknown (404) and revokes no sign-in, however old.
    void aRemovalStaysInItsAccount()
    {
        service.signUp(QStringLiteral("dan"), QStringLiteral("secret1"));
        const QString dan = service.signIn(QStringLiteral("dan"), QStringLiteral("secret1"));
        const qint64 signedInAt = QDateTime::currentSecsSinceEpoch();
        QTRY_VERIFY(QDateTime::currentSecsSinceEpoch() > signedInAt);
        QCOMPARE(sync(device("dev-twice-01", "qx-twice"), {}, "twice").status, 200);
        QCOMPARE(service.post("api/device/dev-twice-01/remove", {}, ann).status, 200);

        QCOMPARE(sync(device("dev-twice-01", "qx-twice"), dan, "dan").status, 404);
        QCOMPARE(service.post("api/net/rename", {{"id", "dev-twice-01"}, {"name", "x"}, {"alias", "qx-x"}}, dan).status, 404);
        QCOMPARE(sync(device("dev-twice-02", "qx-twice"), dan, "twice").status, 200);
    }

    // One account holds a bounded number of devices: one more is refused saying why (its sign-in stays
    // good), and the devices it has keep syncing.
    void devicesPerAccountAreBounded()
    {
        service.signUp(QStringLiteral("max"), QStringLiteral("secret1"));
        QStringList signedIn;
        const auto add = [&](int i) {
            signedIn.append(service.signIn(QStringLiteral("max"), QStringLiteral("secret1")));
            return sync(device(QStringLiteral("dev-max-%1").arg(i, 3, 10, QLatin1Char('0')), "qx-max"), signedIn.last(), "max");
        };
        for (int i = 0; i < 100; ++i)
            QCOMPARE(add(i).status, 200);
        const auto refused = add(100);
        QCOMPARE(refused.status, 409);
        QCOMPARE(refused.json().value("error").toString(), QStringLiteral("账号里已经有 100 台设备了，先踢出用不着的设备再加这台"));
        QCOMPARE(sync(device("dev-max-000", "qx-max"), signedIn.first(), "max").status, 200);
    }

    // Idle strangers from many addresses make way for devices with tickets, and one account's devices
    // hold only their own share of the relay's ticketed connections.
    void relayKeepsRoomForTicketsAndAccounts()
    {
        AccountServiceFixture::Options options{false, false};
        options.arguments = QStringList{"--relay-greeting-timeout", "60"};
        RelayRig relayed(options, keys);
        QVERIFY2(relayed.start({"ria", "flo"}), qPrintable(relayed.service.error()));
        const auto ticket = [&](const QString& id, const QString& peer) { return relayed.ticket(id, peer); };
        const auto connectWith = &RelayRig::connectWith;
        const auto pairs = [&](const QString& user) { return relayed.pairs(user); };

        const quint16 port = quint16(ticket("dev-ria-0", "dev-ria-1").value("port").toInt());
        std::vector<std::unique_ptr<QTcpSocket>> crowd;
        for (int address = 10; address < 80; ++address)
            for (int i = 0; i < 8; ++i) {
                crowd.push_back(std::make_unique<QTcpSocket>());
                crowd.back()->bind(QHostAddress(QStringLiteral("127.0.0.%1").arg(address)));
                crowd.back()->connectToHost(QHostAddress::LocalHost, port);
            }
        const auto closed = [&] {
            return std::count_if(crowd.begin(), crowd.end(), [](const auto& socket) {
                return socket->state() == QAbstractSocket::UnconnectedState;
            });
        };
        QTRY_VERIFY2_WITH_TIMEOUT(closed() >= 560 - 512, qPrintable(QString::number(closed())), Limit::network);
        QVERIFY(pairs(QStringLiteral("ria")));

        std::vector<std::unique_ptr<QTcpSocket>> waiting;
        for (int i = 0; i <= 64; ++i) {
            waiting.push_back(std::make_unique<QTcpSocket>());
            connectWith(*waiting.back(), ticket("dev-flo-0", "dev-flo-1"), QStringLiteral("127.0.1.%1").arg(i + 1));
            QVERIFY(waiting.back()->waitForBytesWritten(5000));
        }
        QTRY_COMPARE_WITH_TIMEOUT(waiting.back()->state(), QAbstractSocket::UnconnectedState, 10000);
        QCOMPARE(waiting.front()->state(), QAbstractSocket::ConnectedState);
        QVERIFY(pairs(QStringLiteral("ria")));
    }

    // An account holding many relay places never takes the last few: another account still pairs.
    void relayKeepsRoomForAnAccountWithoutPlaces()
    {
        AccountServiceFixture::Options options;
        options.arguments = QStringList{"--relay-places", "16"};
        RelayRig relayed(options, keys);
        QVERIFY2(relayed.start({"hog", "bea"}), qPrintable(relayed.service.error()));
        std::vector<std::unique_ptr<QTcpSocket>> hogged;
        for (int i = 0; i < 16; ++i) {
            hogged.push_back(std::make_unique<QTcpSocket>());
            RelayRig::connectWith(*hogged.back(), relayed.ticket("dev-hog-0", "dev-hog-1"),
                                  QStringLiteral("127.0.4.%1").arg(i + 1));
        }
        const auto refused = [&] {
            return std::count_if(hogged.begin(), hogged.end(), [](const auto& socket) {
                return socket->state() == QAbstractSocket::UnconnectedState;
            });
        };
        QTRY_COMPARE_WITH_TIMEOUT(refused(), 2, Limit::network);
        QVERIFY(relayed.pairs(QStringLiteral("bea")));
        QCOMPARE(refused(), 2);
    }

    void relaySplicesTheTwoEnds()
    {
        sync(device("dev-rel-001", "qx-rel-a"));
        sync(device("dev-rel-002", "qx-rel-b"));
        const auto first = call("api/net/relay", {{"id", "dev-rel-001"}, {"peer", "dev-rel-002"}}).json();
        const auto second = call("api/net/relay", {{"id", "dev-rel-002"}, {"peer", "dev-rel-001"}}).json();
        QCOMPARE(first.value("session"), second.value("session"));
        QVERIFY(first.value("ticket") != second.value("ticket"));
        QCOMPARE(call("api/net/relay", {{"id", "dev-rel-001"}, {"peer", "dev-bob-000"}}).status, 404);
        // Whoever names another host in the request does not choose where devices dial.
        QByteArray spoofed = AccountServiceFixture::rawPost("api/net/relay", {{"id", "dev-rel-001"}, {"peer", "dev-rel-002"}}, tokenOf("dev-rel-001"));
        spoofed.replace("Host: 127.0.0.1", "Host: relay.attacker.example");
        QCOMPARE(service.raw(spoofed).json().value("host").toString(), QStringLiteral("127.0.0.1"));

        QTcpSocket forged, left, right;
        forged.connectToHost(first.value("host").toString(), quint16(first.value("port").toInt()));
        forged.write("TARNEL-RELAY not-a-ticket\n");
        QVERIFY(forged.waitForDisconnected(10000));

        left.connectToHost(first.value("host").toString(), quint16(first.value("port").toInt()));
        right.connectToHost(second.value("host").toString(), quint16(second.value("port").toInt()));
        left.write("TARNEL-RELAY " + first.value("ticket").toString().toLatin1() + "\nhello ");
        right.write("TARNEL-RELAY " + second.value("ticket").toString().toLatin1() + "\n");
        QTRY_COMPARE_WITH_TIMEOUT(right.bytesAvailable(), qint64(6), 10000);
        QCOMPARE(right.readAll(), QByteArray("hello "));
        right.write("back");
        right.disconnectFromHost();
        QByteArray back;
        QTRY_COMPARE_WITH_TIMEOUT(back += left.readAll(), QByteArray("back"), 10000);
        QVERIFY(left.state() == QAbstractSocket::UnconnectedState || left.waitForDisconnected(10000));
    }

    // An end that gave up its connection, hung up or not, gets a new ticket when it asks again, and the
    // other end is spliced with that new connection, not kept waiting on the old one.
    void relayForgetsAnAbandonedEnd()
    {
        sync(device("dev-aba-001", "qx-aba-a"));
        sync(device("dev-aba-002", "qx-aba-b"));
        const auto ask = [&](const char* id, const char* peer) { return call("api/net/relay", {{"id", id}, {"peer", peer}}).json(); };
        const auto join = [](QTcpSocket& socket, const QJsonObject& ticket, const QByteArray& after) {
            socket.connectToHost(ticket.value("host").toString(), quint16(ticket.value("port").toInt()));
            socket.write("TARNEL-RELAY " + ticket.value("ticket").toString().toLatin1() + "\n" + after);
            QVERIFY(socket.waitForBytesWritten(5000));
        };
        const auto first = ask("dev-aba-001", "dev-aba-002");
        QTcpSocket hungUp, leftWaiting, last, other;
        join(hungUp, first, "first");
        hungUp.disconnectFromHost();
        QJsonObject second;
        QTRY_VERIFY_WITH_TIMEOUT((second = ask("dev-aba-001", "dev-aba-002")).value("ticket") != first.value("ticket"), 5000);
        QCOMPARE(second.value("session"), first.value("session"));
        join(leftWaiting, second, "second");
        QJsonObject third;
        QTRY_VERIFY_WITH_TIMEOUT((third = ask("dev-aba-001", "dev-aba-002")).value("ticket") != second.value("ticket"), 5000);
        join(last, third, "third");
        QVERIFY(leftWaiting.waitForDisconnected(5000)); // replaced by the newer one

        join(other, ask("dev-aba-002", "dev-aba-001"), {});
        QTRY_COMPARE_WITH_TIMEOUT(other.bytesAvailable(), qint64(5), 10000);
        QCOMPARE(other.readAll(), QByteArray("third"));
    }

    // Strangers cannot shut the relay for everyone: a crowd from one address holds only a few
    // connections, a greeting has one deadline however slowly it trickles in, and a paired session
    // that carries nothing is closed.
    void relayWithstandsStrangers()
    {
        AccountServiceFixture::Options options{false, false};
        options.arguments = QStringList{"--relay-greeting-timeout", "3", "--relay-idle-timeout", "1"};
        AccountServiceFixture relayed(options);
        QVERIFY2(relayed.start(), qPrintable(relayed.error()));
        relayed.signUp(QStringLiteral("rita"), QStringLiteral("secret1"));
        QString tokens[2];
        for (int i = 0; i < 2; ++i) {
            tokens[i] = relayed.signIn(QStringLiteral("rita"), QStringLiteral("secret1"));
            const QString id = QStringLiteral("dev-crowd-%1").arg(i);
            QCOMPARE(relayed.post("api/net/sync", keys.prove(device(id, "qx-crowd"), id, tokens[i]), tokens[i]).status, 200);
        }
        QJsonObject ends[2];
        for (int i = 0; i < 2; ++i)
            ends[i] = relayed.post("api/net/relay", {{"id", QStringLiteral("dev-crowd-%1").arg(i)},
                                                     {"peer", QStringLiteral("dev-crowd-%1").arg(1 - i)}}, tokens[i]).json();
        const QHostAddress host(ends[0].value("host").toString());
        const quint16 port = quint16(ends[0].value("port").toInt());

        std::vector<std::unique_ptr<QTcpSocket>> crowd;
        for (int i = 0; i < 300; ++i) {
            crowd.push_back(std::make_unique<QTcpSocket>());
            QVERIFY(crowd.back()->bind(QHostAddress(QStringLiteral("127.0.0.2"))));
            crowd.back()->connectToHost(host, port);
            crowd.back()->waitForConnected(1000); // turned away at once, or held

        }
        QTcpSocket trickle;
        QVERIFY(trickle.bind(QHostAddress(QStringLiteral("127.0.0.3"))));
        trickle.connectToHost(host, port);
        QVERIFY2(trickle.waitForConnected(5000), qPrintable(trickle.errorString()));

        QTcpSocket left, right;
        left.connectToHost(host, port);
        right.connectToHost(host, port);
        left.write("TARNEL-RELAY " + ends[0].value("ticket").toString().toLatin1() + "\nping");
        right.write("TARNEL-RELAY " + ends[1].value("ticket").toString().toLatin1() + "\n");
        QTRY_COMPARE_WITH_TIMEOUT(right.bytesAvailable(), qint64(4), 10000);
        QCOMPARE(right.readAll(), QByteArray("ping"));
        // Most of the crowd was turned away at once.
        int open = 0;
        for (auto& socket : crowd) {
            socket->waitForReadyRead(0);
            open += socket->state() == QAbstractSocket::ConnectedState ? 1 : 0;
        }
        QVERIFY2(open <= 8, qPrintable(QString::number(open)));

        QElapsedTimer clock;
        clock.start();
        while (trickle.state() == QAbstractSocket::ConnectedState && clock.elapsed() < 8000) {
            trickle.write("T");
            trickle.waitForDisconnected(300);
        }
        QVERIFY(trickle.state() != QAbstractSocket::ConnectedState);
        QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));

        QVERIFY(left.state() == QAbstractSocket::UnconnectedState || left.waitForDisconnected(5000));
        QVERIFY(right.state() == QAbstractSocket::UnconnectedState || right.waitForDisconnected(5000));
    }
};

QTEST_GUILESS_MAIN(NetApiTest)
#include "NetApiTest.moc"
