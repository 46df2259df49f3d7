// The texts and choices of a peer's card on the devices page.
#include "ui/devices/DeviceCardModel.h"

#include <QtTest>

Q_DECLARE_METATYPE(PeerDevice)
Q_DECLARE_METATYPE(Tunnel)

namespace {
using Kind = Tunnel::Kind;

PeerDevice peer(bool online, std::optional<QString> state = std::nullopt, const QString& path = QString())
{
    PeerDevice p{.id = "p1", .alias = "qx-den", .remoteAccess = true, .online = online};
    if (state)
        p.link = LinkStatus{.state = *state, .path = path};
    return p;
}

DeviceCardFacts factsOf(const PeerDevice& device, const Tunnel& state = {}) { return {.peer = device, .tunnel = state}; }

Tunnel tunnel(Kind kind, const QString& path = QString())
{
    return {kind, path, QDateTime(QDate(2025, 3, 14), QTime(9, 5, 7)), QStringLiteral("对方不在线"), false};
}
} // namespace

class DeviceCardModelTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void dotAndStatusLine_data()
    {
        QTest::addColumn<PeerDevice>("device");
        QTest::addColumn<QString>("dot");
        QTest::addColumn<QString>("line");
        PeerDevice full = peer(true, QStringLiteral("connected"));
        full.sshUser = QStringLiteral("lee");
        full.model = QStringLiteral("ThinkPad X1");
        full.appBuild = 42;
        QTest::newRow("offline") << peer(false, QStringLiteral("connected")) << "gray" << "离线";
        QTest::newRow("online, no link") << peer(true) << "orange" << "在线 · 还没建连";
        QTest::newRow("connecting") << peer(true, QStringLiteral("checking")) << "orange" << "正在连接…";
        QTest::newRow("relayed") << peer(true, QStringLiteral("connected"), QStringLiteral("relay")) << "yellow" << "中转";
        QTest::newRow("every part") << full << "green" << "直连 · 登录名 lee · ThinkPad X1 · tarnel 构建 42";
    }
    void dotAndStatusLine()
    {
        QFETCH(PeerDevice, device);
        QFETCH(QString, dot);
        QFETCH(QString, line);
        const DeviceCardModel model(factsOf(device));
        QCOMPARE(model.dotRole(), dot);
        QCOMPARE(model.statusLine(), line);
    }

    void eachTunnelStateShowsItsActionAndDetail_data()
    {
        QTest::addColumn<PeerDevice>("device");
        QTest::addColumn<Tunnel>("state");
        QTest::addColumn<bool>("wanted");
        QTest::addColumn<int>("action");
        QTest::addColumn<QString>("detail");
        QTest::addColumn<QString>("hint");
        const PeerDevice direct = peer(true, QStringLiteral("connected"));
        const PeerDevice relayed = peer(true, QStringLiteral("connected"), QStringLiteral("relay"));
        PeerDevice closed = peer(true);
        closed.remoteAccess = false;
        Tunnel needsKey = tunnel(Kind::failed);
        needsKey.needsKey = true;
        const int open = int(DeviceCardModel::Action::open), busy = int(DeviceCardModel::Action::busy),
                  close = int(DeviceCardModel::Action::close);
        QTest::newRow("open, name empty") << direct << tunnel(Kind::open) << false << close
            << "SSH 已打通（直连）。在任何终端里粘这条命令就能登进「qx-den」，用的是你这台的钥匙，不用密码：" << "";
        QTest::newRow("open, relay known only to the tunnel") << peer(true) << tunnel(Kind::open, QStringLiteral("relay"))
            << false << close << "SSH 已打通（经中转）。在任何终端里粘这条命令就能登进「qx-den」，用的是你这台的钥匙，不用密码："
            << "";
        QTest::newRow("reconnecting") << direct << tunnel(Kind::reconnecting, QStringLiteral("relay")) << true << close
            << "和「qx-den」的连接断了（之前是中转，09:05:07 起）。tarnel 正在重连，通了会自动重新打通，不用你点；正开着的 ssh 会话多数能接着用。"
            << "";
        QTest::newRow("checking again") << direct << tunnel(Kind::checking) << true << busy << "" << "";
        QTest::newRow("failed, key missing") << direct << needsKey << true << open << "对方不在线"
            << "也就是说：对方要在他那台 tarnel 里「允许你免密登录」一次，之后就永久免密了。";
        QTest::newRow("failed, wanted") << direct << tunnel(Kind::failed) << true << open << "对方不在线" << "会自动再试，不用一直点。";
        QTest::newRow("failed, not wanted") << direct << tunnel(Kind::failed) << false << open << "对方不在线" << "";
        QTest::newRow("idle on the relay") << relayed << tunnel(Kind::idle) << false << open
            << "当前经中转连接，后台会继续尝试直连，通了会自动切过去。" << "";
        QTest::newRow("idle, inbound off") << closed << tunnel(Kind::idle) << false << open
            << "对方还没允许被连接（要连它时才需要他拨开开关）。" << "";
        QTest::newRow("idle, offline: no hint") << peer(false) << tunnel(Kind::idle) << false << open << "" << "";
    }
    void eachTunnelStateShowsItsActionAndDetail()
    {
        QFETCH(PeerDevice, device);
        QFETCH(Tunnel, state);
        QFETCH(bool, wanted);
        QFETCH(QString, detail);
        QFETCH(QString, hint);
        QFETCH(int, action);
        DeviceCardFacts facts = factsOf(device, state);
        facts.wanted = wanted;
        const DeviceCardModel model(facts);
        QCOMPARE(int(model.action()), action);
        QCOMPARE(model.detail() ? model.detail()->text : QString(), detail);
        QCOMPARE(model.failedHint().value_or(QString()), hint);
        if (state.kind == Kind::checking)
            QCOMPARE(model.busyText(), QStringLiteral("正在重新打通…"));
    }

    void badgesCountInboundSessions()
    {
        DeviceCardFacts facts = factsOf(peer(true, QStringLiteral("connected")));
        facts.peer.link->inboundTunnels = 2;
        facts.keyAuthorized = true;
        const auto badges = DeviceCardModel(facts).badges();
        QCOMPARE(badges.size(), 2);
        QCOMPARE(badges[0].text, QStringLiteral("可免密登录这台"));
        QCOMPARE(badges[1].text, QStringLiteral("正连着这台 · 2 条会话"));
        QCOMPARE(badges[1].tooltip, QStringLiteral("它此刻有 2 条 SSH 会话连在这台电脑上（经 tarnel 的通道）"));
        facts.peer.link->inboundTunnels = 0;
        facts.keyAuthorized = false;
        QVERIFY(DeviceCardModel(facts).badges().isEmpty());
    }

    void syncText_data()
    {
        QTest::addColumn<QString>("remoteDir");
        QTest::addColumn<QString>("absolute");
        QTest::addColumn<QString>("hotkey");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("text");
        const QString tail = QStringLiteral("，在 ssh 进它的终端里按 Alt+Super+3 粘出来的就是这条路径，在哪台上都一样");
        const int connected = int(ServerRegistry::Status::Kind::connected);
        QTest::newRow("home tarnel") << "~/tarnel" << "/home/lee/tarnel" << "⌥⌘3" << connected
            << QStringLiteral("截图同步已就绪：Ctrl+C 的截图会传到它的 ~/tarnel/shots（它桌面上的 tarnel 替身能看到）") + tail;
        QTest::newRow("absolute recorded") << "shots-here" << "/srv/shots-here" << "nonsense" << connected
            << QStringLiteral("截图同步已就绪：Ctrl+C 的截图会传到它的 /srv/shots-here/shots") + tail;
        QTest::newRow("nothing recorded") << "/data/t" << "" << "⌥⌘3" << connected
            << QStringLiteral("截图同步已就绪：Ctrl+C 的截图会传到它的 /data/t/shots") + tail;
        QTest::newRow("unknown") << "~/tarnel" << "" << "⌥⌘3" << int(ServerRegistry::Status::Kind::unknown)
            << "截图同步：等待检测…";
        QTest::newRow("failed") << "~/tarnel" << "" << "⌥⌘3" << int(ServerRegistry::Status::Kind::failed)
            << "截图同步没就绪：连不上";
    }
    void syncText()
    {
        QFETCH(QString, remoteDir);
        QFETCH(QString, absolute);
        QFETCH(int, status);
        QFETCH(QString, hotkey);
        QFETCH(QString, text);
        Server server;
        server.remoteDir = remoteDir;
        if (!absolute.isEmpty())
            server.setup.remoteDirAbsolute = absolute;
        ServerRegistry::Status s;
        s.kind = ServerRegistry::Status::Kind(status);
        s.message = QStringLiteral("连不上");
        QCOMPARE(DeviceCardModel::syncText(server, s, hotkey), text);
    }

    void syncRowWithoutDestinationSaysWhy()
    {
        DeviceCardFacts facts = factsOf(peer(true, QStringLiteral("connected")), tunnel(Kind::open));
        QCOMPARE(DeviceCardModel(facts).syncLine()->text, QStringLiteral("截图同步关"));
        facts.syncRefusal = QStringLiteral("这台设备的信息还不完整（别名 / 登录名），等它上线后再试");
        QCOMPARE(DeviceCardModel(facts).syncLine()->text, *facts.syncRefusal);
        QCOMPARE(DeviceCardModel(facts).syncLine()->role, QStringLiteral("orange"));
        facts.tunnel = tunnel(Kind::idle);
        QVERIFY(!DeviceCardModel(facts).syncLine());
    }
};

QTEST_GUILESS_MAIN(DeviceCardModelTest)
#include "DeviceCardModelTest.moc"
