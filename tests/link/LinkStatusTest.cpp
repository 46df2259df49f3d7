// The status document records: lenient decoding, the encoder both sides share, pathLabel.
#include "link/LinkStatus.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QtTest>

Q_DECLARE_METATYPE(PeerDevice)

namespace {
PeerDevice online(std::optional<LinkStatus> link) { return {.online = true, .link = std::move(link)}; }

LinkStatus link(const QString& state, double appRtt = 0, double iceRtt = 0, const QString& path = {},
                const QString& peerPath = {})
{
    return {.state = state, .path = path, .peerPath = peerPath, .iceRttMs = iceRtt, .appRttMs = appRtt};
}
} // namespace

class LinkStatusTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Each document decodes like its well-formed counterpart: mistyped, null and non-object values take
    // their defaults instead of failing.
    void decodesLeniently_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QByteArray>("same");
        QTest::newRow("mistyped pid and inbound") << QByteArray(R"({"pid":"12","allowInbound":1,"version":"1"})")
                                                  << QByteArray(R"({"version":"1"})");
        QTest::newRow("nulls") << QByteArray(R"({"pid":null,"device":null,"site":null,"peers":null})") << QByteArray("{}");
        QTest::newRow("fraction and huge number in integers")
            << QByteArray(R"({"pid":3.5,"uptimeSec":2.5,"peers":[{"appBuild":1e300}]})")
            << QByteArray(R"({"uptimeSec":2.5,"peers":[{}]})");
        QTest::newRow("device not an object") << QByteArray(R"({"device":[1],"pid":7})") << QByteArray(R"({"pid":7})");
        QTest::newRow("device key mistyped") << QByteArray(R"({"device":{"id":"d","name":5}})")
                                             << QByteArray(R"({"device":{"id":"d"}})");
        QTest::newRow("site a number") << QByteArray(R"({"site":3})") << QByteArray("{}");
        QTest::newRow("site key mistyped") << QByteArray(R"({"site":{"ok":true,"lastOkAt":7}})")
                                           << QByteArray(R"({"site":{"ok":true}})");
        QTest::newRow("peers with a null") << QByteArray(R"({"peers":[{"id":"a"},null]})") << QByteArray("{}");
        QTest::newRow("peers an object") << QByteArray(R"({"peers":{"id":"a"}})") << QByteArray("{}");
        QTest::newRow("peer link a string") << QByteArray(R"({"peers":[{"id":"a","link":"connected"}]})")
                                            << QByteArray(R"({"peers":[{"id":"a"}]})");
        QTest::newRow("peer link keys mistyped")
            << QByteArray(R"({"peers":[{"link":{"state":"connected","tunnels":"2","peerAllows":"yes","inboundTunnels":2}}]})")
            << QByteArray(R"({"peers":[{"link":{"state":"connected","inboundTunnels":2}}]})");
    }
    void decodesLeniently()
    {
        QFETCH(QByteArray, json);
        QFETCH(QByteArray, same);
        const auto got = NodeStatus::parse(json);
        const auto want = NodeStatus::parse(same);
        QVERIFY(got && want);
        QCOMPARE(got->toLine(), want->toLine());
        QVERIFY(*got == *want);
    }

    void presentAndAbsentNestedRecords()
    {
        QVERIFY(*NodeStatus::parse("{}") == NodeStatus{});
        QCOMPARE(NodeStatus::parse(R"({"site":{}})")->site, std::optional<SiteStatus>(SiteStatus{}));
        const auto two = NodeStatus::parse(R"({"peers":[{"id":"a"},{"link":{}}]})");
        QCOMPARE(two->peers.size(), 2);
        QCOMPARE(two->peers[0].id, QStringLiteral("a"));
        QVERIFY(!two->peers[0].link);
        QVERIFY(two->peers[1].id.isEmpty() && two->peers[1].link == LinkStatus{});
        for (const QByteArray& bad : {QByteArray(R"([{"pid":1}])"), QByteArray("{"), QByteArray(R"("s")"), QByteArray()})
            QVERIFY(!NodeStatus::parse(bad));
    }

    void encodedDocumentDecodesToItself()
    {
        LinkStatus l{"connected", "relay", "direct", 4.5, 3.25, 180.5, 2, 61, "netchange", true, "0.3", 3, 1, 2};
        NodeStatus n{"0.3", 4242, 12.75, true, SelfDevice{"d0", "书房", "qx-study", "2024-05-01"}, std::nullopt, "v9",
                     {PeerDevice{"p1", "笔记本", "qx-lap", "ann", "ssh-ed25519 AAAA c", "ssh-ed25519 BBBB", "m",
                                 "Debian 12", 57, true, true, "2024-05-02", l},
                      PeerDevice{}}};
        const QJsonObject encoded = n.toJson();
        QVERIFY(!encoded.contains("site")); // absent records are left out
        QVERIFY(!encoded["peers"].toArray()[1].toObject().contains("link"));
        n.site = SiteStatus{true, {}, "2024-05-02T08:00:00Z"};
        QVERIFY(!n.toLine().contains('\n'));
        QVERIFY(*NodeStatus::parse(n.toLine()) == n);
        NodeStatus moved = n;
        moved.peers[0].link->sinceSec = 62;
        QVERIFY(!(moved == n)); // equality reaches into the link
    }

    void isDocument_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<bool>("document");
        QTest::newRow("status") << QByteArray(R"({"version":"1","peers":[]})") << true;
        QTest::newRow("empty error") << QByteArray(R"({"error":""})") << false;
        QTest::newRow("error beside status keys") << QByteArray(R"({"error":"x","peers":[]})") << false;
        QTest::newRow("quit's reply") << QByteArray(R"({"ok":true})") << false;
    }
    void isDocument()
    {
        QFETCH(QByteArray, json);
        QFETCH(bool, document);
        QCOMPARE(NodeStatus::isDocument(QJsonDocument::fromJson(json).object()), document);
    }

    void pathLabel_data()
    {
        QTest::addColumn<PeerDevice>("peer");
        QTest::addColumn<QString>("label");
        PeerDevice offline = online(link("connected", 5));
        offline.online = false;
        QTest::newRow("offline with a connected link") << offline << "离线";
        QTest::newRow("online, no link") << online(std::nullopt) << "在线 · 还没建连";
        QTest::newRow("ice rtt, half rounds up") << online(link("connected", 0, 12.5)) << "直连 · 13 ms";
        QTest::newRow("app rtt first") << online(link("connected", 7.4, 30)) << "直连 · 7 ms";
        QTest::newRow("no rtt") << online(link("connected")) << "直连";
        QTest::newRow("negative rtt") << online(link("connected", -3)) << "直连";
        QTest::newRow("peer side relayed") << online(link("connected", 40.4, 0, "direct", "relay")) << "中转 · 40 ms";
        QTest::newRow("this side relayed") << online(link("connected", 0, 0, "relay")) << "中转";
        QTest::newRow("Relay is not relay") << online(link("connected", 0, 0, "Relay")) << "直连";
        QTest::newRow("rtt beyond whole numbers") << online(link("connected", 1e300)) << "直连";
        QTest::newRow("new") << online(link("new")) << "正在连接…";
        QTest::newRow("connecting") << online(link("connecting")) << "正在连接…";
        QTest::newRow("disconnected") << online(link("disconnected")) << "连接中断，正在重连…";
        QTest::newRow("other state") << online(link("Connected")) << "在线 · Connected";
    }
    void pathLabel()
    {
        QFETCH(PeerDevice, peer);
        QFETCH(QString, label);
        QCOMPARE(peer.pathLabel(), label);
    }
};

QTEST_APPLESS_MAIN(LinkStatusTest)
#include "LinkStatusTest.moc"
