// The account service's device API: what a device may register, who sees whom, renames, removal, and
// the relay that splices two devices' connections.
#include "support/AccountServiceFixture.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QTcpSocket>
#include <QtTest>

namespace {
// Each device has its own certificate.
QString certificateOf(const QString& id)
{
    return QString::fromLatin1(QCryptographicHash::hash(id.toUtf8(), QCryptographicHash::Sha256).toHex());
}

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
                       {"certSha256", certificateOf(id)},
                       {"endpoints", QJsonArray{QJsonObject{{"host", "127.0.0.1"}, {"port", 47810}}}}};
}

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

    QString tokenOf(const QString& id)
    {
        if (!tokens.contains(id))
            tokens.insert(id, service.signIn(QStringLiteral("ann"), QStringLiteral("secret1")));
        return tokens.value(id);
    }

    AccountServiceFixture::Reply sync(const QJsonObject& body, const QString& token = {})
    {
        return service.post(QStringLiteral("api/net/sync"), body,
                            token.isEmpty() ? tokenOf(body.value("id").toString()) : token);
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
        QTest::newRow("host name endpoint") << "endpoints" << QJsonValue(QJsonArray{QJsonObject{{"host", "evil.example"}, {"port", 22}}});
    }

    void badRecordsAreRefused()
    {
        QFETCH(QString, key);
        QFETCH(QJsonValue, value);
        QJsonObject body = device(QStringLiteral("dev-bad-000"), QStringLiteral("qx-bad"));
        body.insert(key, value);
        QCOMPARE(sync(body).status, 400);
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
        QCOMPARE(one.value("certSha256").toString(), certificateOf("dev-one-000"));
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
        QJsonObject record = device("dev-kick-01", "qx-kick");
        record.insert("certSha256", QString(64, QLatin1Char('b')));
        QCOMPARE(sync(record, kicked).status, 200);
        QCOMPARE(service.post("api/app/ping", {{"version", "0.1.0"}, {"build", 1}, {"channel", "stable"}}, kicked).status, 200);
        QCOMPARE(service.post("api/device/dev-kick-01/remove", {}, tokenOf("dev-kip-001")).status, 200);

        const auto ping = service.post("api/app/ping", {{"version", "0.1.0"}, {"build", 1}, {"channel", "stable"}}, kicked);
        QCOMPARE(ping.status, 401);
        QCOMPARE(ping.json().value("account").toString(), QStringLiteral("removed"));
        QJsonObject disguised = device("dev-kick-02", "qx-kick");
        disguised.insert("certSha256", QString(64, QLatin1Char('c')));
        QCOMPARE(sync(disguised, kicked).status, 401);

        QCOMPARE(sync(record, older).status, 401);
        QCOMPARE(service.post("api/app/ping", {{"version", "0.1.0"}, {"build", 1}, {"channel", "stable"}}, older)
                     .json().value("account").toString(), QStringLiteral("removed"));

        const QString fresh = service.signIn(QStringLiteral("ann"), QStringLiteral("secret1"));
        QCOMPARE(sync(record, fresh).status, 410);
        QJsonObject oldCertificate = device("dev-kick-03", "qx-kick");
        oldCertificate.insert("certSha256", QString(64, QLatin1Char('b')));
        QCOMPARE(sync(oldCertificate, fresh).status, 410);
        QCOMPARE(sync(disguised, fresh).status, 200);
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
            QCOMPARE(relayed.post("api/net/sync", device(QStringLiteral("dev-crowd-%1").arg(i), "qx-crowd"), tokens[i]).status, 200);
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
