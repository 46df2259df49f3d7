#include "ui/panel/PanelModel.h"

#include <QTest>

using Kind = ServerRegistry::Status::Kind;

namespace {
Server destination(const QString& name, bool enabled = true, bool key = true, bool device = false)
{
    Server s;
    s.name = name;
    s.enabled = enabled;
    s.setup.keyInstalled = key;
    if (device)
        s.deviceID = QStringLiteral("dev-") + name;
    return s;
}

PanelPeer peer(const QString& name, const QString& alias, bool online, int inbound = 0, const QString& state = {},
               const QString& path = {})
{
    PanelPeer p;
    p.name = name;
    p.alias = alias;
    p.online = online;
    p.hasLink = !state.isEmpty() || inbound > 0;
    p.linkState = state;
    p.path = path;
    p.inboundTunnels = inbound;
    return p;
}

// The facts of a named situation.
PanelFacts situation(const QString& name)
{
    PanelFacts f;
    const auto add = [&f](const Server& s, std::optional<Kind> kind) {
        f.servers << s;
        if (kind)
            f.statuses.insert(s.id, *kind);
    };
    if (name == QLatin1String("one server connected") || name == QLatin1String("paused") ||
        name == QLatin1String("gate closed")) {
        add(destination(QStringLiteral("a")), Kind::connected);
    } else if (name == QLatin1String("only a linked machine connected")) {
        add(destination(QStringLiteral("mac"), true, true, true), Kind::connected);
    } else if (name == QLatin1String("nothing counts")) {
        add(destination(QStringLiteral("off"), false), Kind::connected); // switched off
        add(destination(QStringLiteral("nokey"), true, false), Kind::connected);
        add(destination(QStringLiteral("nostatus")), std::nullopt);
        add(destination(QStringLiteral("failed")), Kind::failed);
    } else if (name == QLatin1String("uploads find one refused") || name == QLatin1String("uploads find all out of reach")) {
        const bool both = name == QLatin1String("uploads find all out of reach");
        const Server a = destination(QStringLiteral("a")), b = destination(QStringLiteral("127.0.0.1"));
        add(a, both ? Kind::failed : Kind::connected);
        add(b, Kind::failed);
        f.failures.insert(b.id, QStringLiteral("钥匙被拒：点「重新连接」重新装接收器"));
        if (both)
            f.failures.insert(a.id, QStringLiteral("连不上（超时）"));
        add(destination(QStringLiteral("off"), false), Kind::failed); // switched off: not its trouble now
        f.failures.insert(f.servers.last().id, QStringLiteral("连不上（超时）"));
    } else if (name == QLatin1String("linked machine not connected")) {
        add(destination(QStringLiteral("mac"), true, true, true), Kind::connecting);
    } else if (name == QLatin1String("inbound")) {
        f.link.available = true;
        f.link.peers = {peer(QStringLiteral("书房"), QStringLiteral("qx-a"), true, 1, QStringLiteral("connected")),
                        peer(QString(), QStringLiteral("qx-b"), true, 2, QStringLiteral("connected")),
                        peer(QStringLiteral("idle"), QStringLiteral("qx-c"), true, 0, QStringLiteral("connected"))};
    }
    f.paused = name == QLatin1String("paused");
    if (name == QLatin1String("gate closed"))
        f.gateReason = QStringLiteral("还没登录 tarnel 账号");
    f.settings.hotkeyPaste = QStringLiteral("⌃⌥5");
    return f;
}
} // namespace

class PanelModelTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void status_data()
    {
        QTest::addColumn<QString>("situation");
        QTest::addColumn<StatusLook>("look");
        QTest::addColumn<QString>("serversHeader");
        const QString idle =
            QStringLiteral("这台没连服务器或设备，截图只存本机（Alt+Super+3 粘本地路径）；要同步就去「服务器」或「设备」页连一台");
        const StatusLook listening{"监听中 · 1 台已连接", "green", "截图会同步到已连接的 1 台服务器 / 设备"};
        QTest::newRow("paused wins over connected")
            << "paused" << StatusLook{"已暂停上传", "gray", "已暂停上传：Ctrl+C 的截图不存也不传"} << "1 台已连接";
        QTest::newRow("gate closed is not listening")
            << "gate closed" << StatusLook{"没在监听", "gray", "还没登录 tarnel 账号。登录前不监听截图、不上传，快捷键也不响应。"}
            << "1 台已连接";
        QTest::newRow("one server connected") << "one server connected" << listening << "1 台已连接";
        QTest::newRow("a linked machine counts like a server") << "only a linked machine connected" << listening << "1 台已连接";
        // Off, without key, without a status or failed: none is connected; one plain server is listed.
        QTest::newRow("nothing counts") << "nothing counts" << StatusLook{"待机", "yellow", idle} << "没有连上的服务器";
        // A set-up destination that cannot be reached is named with the reason; the tooltip has the whole message.
        QTest::newRow("uploads find one refused")
            << "uploads find one refused"
            << StatusLook{"监听中 · 1 台已连接 · 127.0.0.1 钥匙被拒", "red", "127.0.0.1：钥匙被拒：点「重新连接」重新装接收器"}
            << "1 台已连接";
        QTest::newRow("uploads find all out of reach")
            << "uploads find all out of reach"
            << StatusLook{"a 连不上、127.0.0.1 钥匙被拒", "red", "a：连不上（超时）\n127.0.0.1：钥匙被拒：点「重新连接」重新装接收器"}
            << "没有连上的服务器";
        QTest::newRow("no plain server at all")
            << "linked machine not connected" << StatusLook{"待机", "yellow", idle} << "先连一台服务器";
        QTest::newRow("inbound sessions, by name or alias")
            << "inbound"
            << StatusLook{"被连接中 · 书房、qx-b", "accent", "书房、qx-b 正 SSH 连着这台电脑；这台没连服务器或设备，截图只存本机"}
            << "先连一台服务器";
    }

    void status()
    {
        QFETCH(QString, situation);
        const PanelModel model(::situation(situation));
        QTEST(model.status(), "look");
        QTEST(model.serversHeader(), "serversHeader");
    }

    // The picker counts today's shots, plain servers only, and every peer online or not.
    void segmentLabels()
    {
        PanelFacts f = situation(QStringLiteral("only a linked machine connected"));
        f.todayCount = 0;
        f.link.peers = {peer(QStringLiteral("a"), QStringLiteral("qx-a"), true), peer(QStringLiteral("b"), QStringLiteral("qx-b"), false)};
        const PanelModel model(f);
        QCOMPARE(model.segmentLabel(PanelTab::shots), QStringLiteral("截图 0"));
        QCOMPARE(model.segmentLabel(PanelTab::servers), QStringLiteral("服务器 0"));
        QCOMPARE(model.segmentLabel(PanelTab::devices), QStringLiteral("设备 2"));
    }

    void devicesHeader_data()
    {
        QTest::addColumn<bool>("available");
        QTest::addColumn<bool>("remoteAccess");
        QTest::addColumn<QString>("text");
        QTest::newRow("no link program") << false << true << "设备互联不可用";
        QTest::newRow("direct and relayed") << true << false << "2 台在线 · 1 台直连";
        QTest::newRow("open to others") << true << true << "2 台在线 · 1 台直连 · 这台可被连接";
    }

    void devicesHeader()
    {
        QFETCH(bool, available);
        QFETCH(bool, remoteAccess);
        PanelFacts f;
        f.link.available = available;
        f.settings.remoteAccess = remoteAccess;
        PanelPeer theirRelay = peer(QStringLiteral("c"), QStringLiteral("qx-c"), false, 0, QStringLiteral("connected"));
        theirRelay.peerPath = QStringLiteral("relay");
        f.link.peers = {peer(QStringLiteral("a"), QStringLiteral("qx-a"), true, 0, QStringLiteral("connected"), QStringLiteral("relay")),
                        peer(QStringLiteral("b"), QStringLiteral("qx-b"), true, 0, QStringLiteral("connected")),
                        peer(QStringLiteral("d"), QStringLiteral("qx-d"), false), theirRelay};
        QTEST(PanelModel(f).devicesHeader(), "text");
        f.link.peers.clear();
        QCOMPARE(PanelModel(f).devicesHeader(),
                 available ? QStringLiteral("在另一台电脑上登录同一账号") : QStringLiteral("设备互联不可用"));
    }

    void pasteHint_data()
    {
        QTest::addColumn<QString>("hotkey");
        QTest::addColumn<QString>("lead");
        QTest::addColumn<QString>("emptyPageHint");
        QTest::newRow("configured") << "⌃⌥5" << "Ctrl+Alt+5 粘 " << "已连着 1 台服务器，截完到终端里按 Ctrl+Alt+5 粘路径";
        QTest::newRow("does not parse") << "⇧Q" << "Alt+Super+3 粘 " << "已连着 1 台服务器，截完到终端里按 Alt+Super+3 粘路径";
    }

    void pasteHint()
    {
        QFETCH(QString, hotkey);
        PanelFacts f = situation(QStringLiteral("one server connected"));
        f.settings.hotkeyPaste = hotkey;
        QTEST(PanelModel(f).pasteHintLead(), "lead");
        QTEST(PanelModel(f).emptyPage().connectedHint.value_or(QString()), "emptyPageHint");
    }

    void gateBar_data()
    {
        QTest::addColumn<std::optional<QString>>("reason");
        QTest::addColumn<bool>("disabled");
        QTest::addColumn<std::optional<GateBarLook>>("look");
        QTest::newRow("open") << std::optional<QString>() << false << std::optional<GateBarLook>();
        QTest::newRow("signed out")
            << std::optional<QString>(QStringLiteral("还没登录 tarnel 账号")) << false
            << std::optional<GateBarLook>(GateBarLook{QStringLiteral("person.crop.circle.badge.exclamationmark"),
                                                       QStringLiteral("还没登录 tarnel 账号。登录前不监听截图、不上传，快捷键也不响应。"),
                                                       QStringLiteral("登录 / 注册")});
        QTest::newRow("disabled")
            << std::optional<QString>(QStringLiteral("你的账号已停用，请联系管理员")) << true
            << std::optional<GateBarLook>(GateBarLook{QStringLiteral("lock.slash.fill"),
                                                       QStringLiteral("你的账号已停用，请联系管理员。登录前不监听截图、不上传，快捷键也不响应。"),
                                                       QStringLiteral("查看")});
    }

    void gateBar()
    {
        QFETCH(std::optional<QString>, reason);
        QFETCH(bool, disabled);
        PanelFacts f;
        f.gateReason = reason;
        f.accountDisabled = disabled;
        QTEST(PanelModel(f).gateBar(), "look");
    }

    // Nobody connected: the way to the servers page instead of the paste line; inbound sessions named.
    void emptyPage()
    {
        const EmptyPageLook look = PanelModel(situation(QStringLiteral("inbound"))).emptyPage();
        QCOMPARE(look.inbound, QStringLiteral("书房、qx-b 正 SSH 连着这台电脑"));
        QCOMPARE(look.connectedHint, std::nullopt);
    }
};

QTEST_GUILESS_MAIN(PanelModelTest)
#include "PanelModelTest.moc"
