#include "ui/devices/DeviceCardModel.h"

#include "delivery/HotkeySpec.h"
#include "servers/ConnectFlow.h"
#include "ui/shell/FlashOverlay.h"

namespace {
using Kind = Tunnel::Kind;
using StatusKind = ServerRegistry::Status::Kind;
const QString relay = QStringLiteral("relay");
} // namespace

bool DeviceCardModel::relayed(const PeerDevice& peer) { return peer.link && peer.link->relayed(); }

QString DeviceCardModel::displayName() const { return facts.peer.shownName(); }

QString DeviceCardModel::dotRole() const
{
    const PeerDevice& p = facts.peer;
    if (!p.online)
        return QStringLiteral("gray");
    if (!p.link || p.link->state != QLatin1String("connected"))
        return QStringLiteral("orange");
    return relayed(p) ? QStringLiteral("yellow") : QStringLiteral("green");
}

QString DeviceCardModel::statusLine() const
{
    const PeerDevice& p = facts.peer;
    QStringList parts{p.pathLabel()};
    if (!p.sshUser.isEmpty())
        parts << QStringLiteral("登录名 ") + p.sshUser;
    if (!p.model.isEmpty())
        parts << p.model;
    if (p.appBuild >= 1)
        parts << QStringLiteral("tarnel 构建 ") + QString::number(p.appBuild);
    return parts.join(QStringLiteral(" · "));
}

QList<DeviceCardModel::Text> DeviceCardModel::badges() const
{
    QList<Text> list;
    if (facts.keyAuthorized)
        list.append({QStringLiteral("可免密登录这台"), QStringLiteral("green"),
            QStringLiteral("它的钥匙已在这台电脑的 authorized_keys 里，它可以免密登录这台电脑")});
    if (facts.peer.link && facts.peer.link->inboundTunnels >= 1) {
        const QString n = QString::number(facts.peer.link->inboundTunnels);
        list.append({QStringLiteral("正连着这台 · ") + n + QStringLiteral(" 条会话"), QStringLiteral("accent"),
            QStringLiteral("它此刻有 ") + n + QStringLiteral(" 条 SSH 会话连在这台电脑上（经 tarnel 的通道）")});
    }
    return list;
}

DeviceCardModel::Action DeviceCardModel::action() const
{
    switch (facts.tunnel.kind) {
    case Kind::checking: return Action::busy;
    case Kind::open:
    case Kind::reconnecting: return Action::close;
    case Kind::idle:
    case Kind::failed: break;
    }
    return Action::open;
}

QString DeviceCardModel::openTooltip() const
{
    return facts.peer.online ? QStringLiteral("经 tarnel 的通道、用你的钥匙登一次对方电脑，成功就给你命令")
                             : QStringLiteral("对方不在线");
}

QString DeviceCardModel::busyText() const
{
    return facts.wanted ? QStringLiteral("正在重新打通…") : QStringLiteral("正在打通…");
}

std::optional<DeviceCardModel::Text> DeviceCardModel::detail() const
{
    const Tunnel& t = facts.tunnel;
    const PeerDevice& p = facts.peer;
    switch (t.kind) {
    case Kind::open: {
        const bool viaRelay = p.link ? relayed(p) : t.path == relay;
        return Text{QStringLiteral("SSH 已打通（") + (viaRelay ? QStringLiteral("经中转") : QStringLiteral("直连"))
                + QStringLiteral("）。在任何终端里粘这条命令就能登进「") + displayName()
                + QStringLiteral("」，用的是你这台的钥匙，不用密码："),
            QStringLiteral("green"), QStringLiteral("checkmark.circle.fill")};
    }
    case Kind::reconnecting:
        return Text{QStringLiteral("和「") + displayName() + QStringLiteral("」的连接断了（之前是")
                + (t.path == relay ? QStringLiteral("中转") : QStringLiteral("直连")) + QStringLiteral("，")
                + FlashOverlay::time(t.at)
                + QStringLiteral(" 起）。tarnel 正在重连，通了会自动重新打通，不用你点；正开着的 ssh 会话多数能接着用。"),
            QStringLiteral("orange"), QStringLiteral("arrow.triangle.2.circlepath")};
    case Kind::failed:
        return Text{t.message, QStringLiteral("orange"), QStringLiteral("exclamationmark.triangle")};
    case Kind::idle:
    case Kind::checking:
        if (!p.online)
            return std::nullopt;
        if (p.link && p.link->state == QLatin1String("connected") && relayed(p))
            return Text{QStringLiteral("当前经中转连接，后台会继续尝试直连，通了会自动切过去。"), QStringLiteral("secondary"), {}};
        if (!p.remoteAccess)
            return Text{QStringLiteral("对方还没允许被连接（要连它时才需要他拨开开关）。"), QStringLiteral("secondary"), {}};
        return std::nullopt;
    }
    return std::nullopt;
}

std::optional<QString> DeviceCardModel::failedHint() const
{
    if (facts.tunnel.kind != Kind::failed)
        return std::nullopt;
    if (facts.tunnel.needsKey)
        return QStringLiteral("也就是说：对方要在他那台 tarnel 里「允许你免密登录」一次，之后就永久免密了。");
    if (facts.wanted)
        return QStringLiteral("会自动再试，不用一直点。");
    return std::nullopt;
}

QString DeviceCardModel::includeNote() const
{
    return QStringLiteral("这条命令固定不变：别名 ") + facts.peer.alias
        + QStringLiteral(" 跟着设备走，直连 / 中转由 tarnel 在背后自动切换。链路断了会自动重新打通；点「断开」只是收起这里。");
}

QString DeviceCardModel::includeHint() const
{
    return QStringLiteral("想以后在任何终端直接敲 `ssh ") + facts.peer.alias
        + QStringLiteral("`（不带 -F）？一次性在 ~/.ssh/config 顶部加一行 Include 就行。");
}

QString DeviceCardModel::keepNote() const
{
    return QStringLiteral("链路断了（换 Wi-Fi、合盖）会自动重新打通；点「断开」只是收起这里。");
}

std::optional<DeviceCardModel::Text> DeviceCardModel::syncLine() const
{
    if (facts.destination) {
        const bool ready = facts.destinationStatus.kind == StatusKind::connected;
        return Text{syncText(*facts.destination, facts.destinationStatus, facts.hotkeyPaste),
            ready ? QStringLiteral("secondary") : QStringLiteral("orange"), {}};
    }
    if (facts.tunnel.kind != Kind::open)
        return std::nullopt;
    // Making it a destination happens at once when the connection opens: without one, that was refused
    // or the user switched the sync off since.
    if (facts.syncRefusal)
        return Text{*facts.syncRefusal, QStringLiteral("orange"), {}};
    return Text{QStringLiteral("截图同步关"), QStringLiteral("secondary"), {}};
}

QString DeviceCardModel::syncText(const Server& server, const ServerRegistry::Status& status, const QString& hotkeyPaste)
{
    switch (status.kind) {
    case StatusKind::unknown: return QStringLiteral("截图同步：等待检测…");
    case StatusKind::connecting:
        return QStringLiteral("截图同步：") + ConnectFlow::stageText(status.stage) + QStringLiteral("…");
    case StatusKind::failed: return QStringLiteral("截图同步没就绪：") + status.message;
    case StatusKind::connected: break;
    }
    QString shots;
    if (server.remoteDir.startsWith(QLatin1String("~/")))
        shots = server.remoteDir;
    else
        shots = server.setup.remoteDirAbsolute.value_or(server.remoteDir);
    shots += QStringLiteral("/shots");
    const QString suffix = server.remoteDir == QLatin1String("~/tarnel") ? QStringLiteral("（它桌面上的 tarnel 替身能看到）") : QString();
    const QString hotkey = HotkeySpec::parseOr(hotkeyPaste, QStringLiteral("⌥⌘3")).desktopText();
    return QStringLiteral("截图同步已就绪：Ctrl+C 的截图会传到它的 ") + shots + suffix
        + QStringLiteral("，在 ssh 进它的终端里按 ") + hotkey + QStringLiteral(" 粘出来的就是这条路径，在哪台上都一样");
}

DeviceCardModel::Border DeviceCardModel::border() const
{
    switch (facts.tunnel.kind) {
    case Kind::open: return {QStringLiteral("green"), 0.6};
    case Kind::reconnecting: return {QStringLiteral("yellow"), 0.7};
    default: break;
    }
    return {QStringLiteral("separator"), 1.0};
}
