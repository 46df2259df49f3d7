// The account service's device API: what a device may register, who sees whom, renames, removal, and
// the relay that splices two devices' connections.
#include "support/AccountServiceFixture.h"

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
                       {"certSha256", QString(64, QLatin1Char('a'))},
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

    AccountServiceFixture::Reply sync(const QJsonObject& body, const QString& token = {})
    {
        return service.post(QStringLiteral("api/net/sync"), body, token.isEmpty() ? ann : token);
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
        QCOMPARE(one.value("certSha256").toString(), QString(64, QLatin1Char('a')));
        QVERIFY(listed(second.json(), "dev-two-000").isEmpty());

        // A relaunch with another default name keeps the stored one.
        const auto again = sync(device("dev-one-000", "qx-other", "Renamed by accident"));
        QCOMPARE(again.json().value("device").toObject().value("name").toString(), QStringLiteral("One"));
        QCOMPARE(again.json().value("device").toObject().value("alias").toString(), QStringLiteral("qx-box"));

        const QString bob = service.signUp(QStringLiteral("bob"), QStringLiteral("secret1"));
        const auto stranger = sync(device("dev-bob-000", "qx-box"), bob);
        QCOMPARE(stranger.json().value("devices").toArray().size(), 0);
        QCOMPARE(sync(device("dev-one-000", "qx-box"), bob).status, 409);
        QVERIFY(service.admin({"devices", "list", "ann"}).out.contains("0.1.0\tyes"));
    }

    void renameKeepsAliasesUnique()
    {
        sync(device("dev-ren-001", "qx-ren-a"));
        sync(device("dev-ren-002", "qx-ren-b"));
        const auto taken = service.post("api/net/rename", {{"id", "dev-ren-002"}, {"name", "B"}, {"alias", "qx-ren-a"}}, ann);
        QCOMPARE(taken.status, 409);
        QVERIFY(taken.json().value("error").toString().contains("qx-ren-a"));
        const auto renamed = service.post("api/net/rename", {{"id", "dev-ren-002"}, {"name", QStringLiteral("书房")}, {"alias", "qx-study"}}, ann);
        QCOMPARE(renamed.status, 200);
        QCOMPARE(renamed.json().value("device").toObject().value("name").toString(), QStringLiteral("书房"));
    }

    void removedDevicesAreGone()
    {
        sync(device("dev-gone-01", "qx-gone"));
        QCOMPARE(service.post("api/device/dev-gone-01/remove", {}, ann).status, 200);
        QVERIFY(listed(sync(device("dev-stay-01", "qx-stay")).json(), "dev-gone-01").isEmpty());
        QCOMPARE(sync(device("dev-gone-01", "qx-gone")).status, 410);
        QCOMPARE(service.post("api/net/rename", {{"id", "dev-gone-01"}, {"name", "x"}, {"alias", "qx-x"}}, ann).status, 410);
    }

    void relaySplicesTheTwoEnds()
    {
        sync(device("dev-rel-001", "qx-rel-a"));
        sync(device("dev-rel-002", "qx-rel-b"));
        const auto first = service.post("api/net/relay", {{"id", "dev-rel-001"}, {"peer", "dev-rel-002"}}, ann).json();
        const auto second = service.post("api/net/relay", {{"id", "dev-rel-002"}, {"peer", "dev-rel-001"}}, ann).json();
        QCOMPARE(first.value("session"), second.value("session"));
        QVERIFY(first.value("ticket") != second.value("ticket"));
        QCOMPARE(service.post("api/net/relay", {{"id", "dev-rel-001"}, {"peer", "dev-bob-000"}}, ann).status, 404);
        // Whoever names another host in the request does not choose where devices dial.
        QByteArray spoofed = AccountServiceFixture::rawPost("api/net/relay", {{"id", "dev-rel-001"}, {"peer", "dev-rel-002"}}, ann);
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
};

QTEST_GUILESS_MAIN(NetApiTest)
#include "NetApiTest.moc"
