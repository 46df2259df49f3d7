// The status document records: lenient decoding, the encoder both sides share, pathLabel.
#include "link/LinkStatus.h"

#include <QJsonDocument>
#include <QtTest>
#include <functional>

Q_DECLARE_METATYPE(std::function<void(NodeStatus&)>)
Q_DECLARE_METATYPE(PeerDevice)

namespace {
using Edit = std::function<void(NodeStatus&)>;

PeerDevice peerWithId(const QString& id)
{
    PeerDevice p;
    p.id = id;
    return p;
}

PeerDevice onlinePeer(std::optional<LinkStatus> link)
{
    PeerDevice p;
    p.online = true;
    p.link = std::move(link);
    return p;
}

LinkStatus link(const QString& state, double appRtt = 0, double iceRtt = 0, const QString& path = {},
                const QString& peerPath = {})
{
    LinkStatus l;
    l.state = state;
    l.appRttMs = appRtt;
    l.iceRttMs = iceRtt;
    l.path = path;
    l.peerPath = peerPath;
    return l;
}
} // namespace

class LinkStatusTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void decodesLeniently_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<Edit>("expected"); // applied to a default document
        QTest::newRow("empty object") << QByteArray("{}") << Edit([](NodeStatus&) {});
        QTest::newRow("mistyped pid and inbound")
            << QByteArray(R"({"pid":"12","allowInbound":1,"version":"1.0"})")
            << Edit([](NodeStatus& n) { n.version = "1.0"; });
        QTest::newRow("nulls") << QByteArray(R"({"pid":null,"device":null,"site":null,"peers":null})")
                               << Edit([](NodeStatus&) {});
        QTest::newRow("fractional and oversized integers")
            << QByteArray(R"({"pid":3.5,"uptimeSec":2.5,"peers":[{"appBuild":1e300}]})")
            << Edit([](NodeStatus& n) {
                   n.uptimeSec = 2.5;
                   n.peers = {PeerDevice{}};
               });
        QTest::newRow("device not an object") << QByteArray(R"({"device":[1],"pid":7})")
                                              << Edit([](NodeStatus& n) { n.pid = 7; });
        QTest::newRow("device with a mistyped key")
            << QByteArray(R"({"device":{"id":"d1","name":5,"alias":"qx-a"}})") << Edit([](NodeStatus& n) {
                   n.device.id = "d1";
                   n.device.alias = "qx-a";
               });
        QTest::newRow("site empty object") << QByteArray(R"({"site":{}})")
                                           << Edit([](NodeStatus& n) { n.site = SiteStatus{}; });
        QTest::newRow("site a number") << QByteArray(R"({"site":3})") << Edit([](NodeStatus&) {});
        QTest::newRow("site fields") << QByteArray(R"({"site":{"ok":true,"lastError":"x","lastOkAt":7}})")
                                     << Edit([](NodeStatus& n) { n.site = SiteStatus{true, "x", {}}; });
        QTest::newRow("peers with a null element")
            << QByteArray(R"({"peers":[{"id":"a"},null]})") << Edit([](NodeStatus&) {});
        QTest::newRow("peers with a number element")
            << QByteArray(R"({"peers":[1,{"id":"a"}]})") << Edit([](NodeStatus&) {});
        QTest::newRow("peers an object") << QByteArray(R"({"peers":{"id":"a"}})") << Edit([](NodeStatus&) {});
        QTest::newRow("peer with id and empty peer")
            << QByteArray(R"({"peers":[{"id":"a"},{}]})")
            << Edit([](NodeStatus& n) { n.peers = {peerWithId("a"), PeerDevice{}}; });
        QTest::newRow("peer link a string")
            << QByteArray(R"({"peers":[{"id":"a","link":"connected"}]})")
            << Edit([](NodeStatus& n) { n.peers = {peerWithId("a")}; });
        QTest::newRow("peer link empty object") << QByteArray(R"({"peers":[{"id":"a","link":{}}]})")
                                                << Edit([](NodeStatus& n) {
                                                       PeerDevice p = peerWithId("a");
                                                       p.link = LinkStatus{};
                                                       n.peers = {p};
                                                   });
        QTest::newRow("peer link mistyped fields")
            << QByteArray(R"({"peers":[{"online":true,"link":{"state":"connected","tunnels":"2",)"
                          R"("inboundTunnels":2,"peerAllows":"yes","appRttMs":"9"}}]})")
            << Edit([](NodeStatus& n) {
                   LinkStatus l = link("connected");
                   l.inboundTunnels = 2;
                   n.peers = {onlinePeer(l)};
               });
    }
    void decodesLeniently()
    {
        QFETCH(QByteArray, json);
        QFETCH(Edit, expected);
        NodeStatus want;
        expected(want);
        const std::optional<NodeStatus> got = NodeStatus::parse(json);
        QVERIFY(got);
        QCOMPARE(got->toLine(), want.toLine()); // readable on failure
        QVERIFY(*got == want);
    }

    void topLevelMustBeAnObject_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("array") << QByteArray(R"([{"pid":1}])");
        QTest::newRow("not json") << QByteArray("{");
        QTest::newRow("string") << QByteArray(R"("status")");
        QTest::newRow("empty") << QByteArray();
    }
    void topLevelMustBeAnObject()
    {
        QFETCH(QByteArray, bytes);
        QVERIFY(!NodeStatus::parse(bytes));
    }

    void encodedDocumentDecodesToItself()
    {
        NodeStatus n;
        n.version = "0.3";
        n.pid = 4242;
        n.uptimeSec = 12.75;
        n.allowInbound = true;
        n.device = SelfDevice{"d0", "书房", "qx-study", "2024-05-01T10:00:00Z"};
        n.devicesVersion = "v9";
        LinkStatus l = link("connected", 3.25, 4.5, "relay", "direct");
        l.connectMs = 180.5;
        l.restarts = 2;
        l.sinceSec = 61;
        l.trigger = "netchange";
        l.peerAllows = true;
        l.peerVersion = "0.3";
        l.tunnels = 3;
        l.inboundTunnels = 1;
        l.outboundTunnels = 2;
        PeerDevice full{"p1", "笔记本", "qx-lap", "ann", "ssh-ed25519 AAAA c", "ssh-ed25519 BBBB", "m",
                        "Debian 12", 57, true, true, "2024-05-02", l};
        n.peers = {full, peerWithId("p2")};

        const QJsonObject noSite = n.toJson();
        QVERIFY(!noSite.contains("site"));
        QVERIFY(!noSite["peers"].toArray()[1].toObject().contains("link"));
        QCOMPARE(noSite["peers"].toArray()[0].toObject()["link"].toObject().size(), 14);
        QCOMPARE(noSite["peers"].toArray()[0].toObject().size(), 13);

        n.site = SiteStatus{true, {}, "2024-05-02T08:00:00Z"};
        QVERIFY(!n.toLine().contains('\n'));
        const std::optional<NodeStatus> back = NodeStatus::parse(n.toLine());
        QVERIFY(back);
        QVERIFY(*back == n);

        NodeStatus moved = n;
        moved.peers[0].link->sinceSec = 62; // equality covers every field of the link
        QVERIFY(!(moved == n));
    }

    void isDocument_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<bool>("document");
        QTest::newRow("status") << QByteArray(R"({"version":"1","peers":[]})") << true;
        QTest::newRow("only peers") << QByteArray(R"({"peers":[]})") << true;
        QTest::newRow("error text") << QByteArray(R"({"error":"bad alias"})") << false;
        QTest::newRow("empty error") << QByteArray(R"({"error":""})") << false;
        QTest::newRow("error beside status keys") << QByteArray(R"({"error":"x","peers":[]})") << false;
        QTest::newRow("empty object") << QByteArray("{}") << false;
        QTest::newRow("unrelated object") << QByteArray(R"({"ok":true})") << false;
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
        PeerDevice offline = onlinePeer(link("connected", 5));
        offline.online = false;
        QTest::newRow("offline with a connected link") << offline << "离线";
        QTest::newRow("offline without link") << PeerDevice{} << "离线";
        QTest::newRow("online, no link") << onlinePeer(std::nullopt) << "在线 · 还没建连";
        QTest::newRow("ice rtt rounds half up") << onlinePeer(link("connected", 0, 12.5)) << "直连 · 13 ms";
        QTest::newRow("app rtt preferred") << onlinePeer(link("connected", 7.4, 30)) << "直连 · 7 ms";
        QTest::newRow("no rtt") << onlinePeer(link("connected")) << "直连";
        QTest::newRow("negative rtt ignored") << onlinePeer(link("connected", -3, 0)) << "直连";
        QTest::newRow("peer side relayed") << onlinePeer(link("connected", 40.4, 0, "direct", "relay"))
                                           << "中转 · 40 ms";
        QTest::newRow("this side relayed") << onlinePeer(link("connected", 0, 0, "relay")) << "中转";
        QTest::newRow("relay compared exactly") << onlinePeer(link("connected", 0, 0, "Relay")) << "直连";
        QTest::newRow("rtt beyond whole numbers") << onlinePeer(link("connected", 1e300)) << "直连";
        QTest::newRow("new") << onlinePeer(link("new")) << "正在连接…";
        QTest::newRow("checking") << onlinePeer(link("checking")) << "正在连接…";
        QTest::newRow("connecting") << onlinePeer(link("connecting")) << "正在连接…";
        QTest::newRow("disconnected") << onlinePeer(link("disconnected")) << "连接中断，正在重连…";
        QTest::newRow("empty state") << onlinePeer(link("")) << "在线 · ";
        QTest::newRow("other state") << onlinePeer(link("failed")) << "在线 · failed";
        QTest::newRow("state compared exactly") << onlinePeer(link("Connected")) << "在线 · Connected";
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
