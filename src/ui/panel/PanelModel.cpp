#include "ui/panel/PanelModel.h"

#include "delivery/HotkeySpec.h"

#include <QRegularExpression>

namespace {
const QString defaultPaste = QStringLiteral("⌥⌘3");
const QString gateConsequence = QStringLiteral("。登录前不监听截图、不上传，快捷键也不响应。");
}

QString PanelModel::defaultPasteHotkey() { return HotkeySpec::parseOr(defaultPaste, defaultPaste).desktopText(); }

int PanelModel::connectedCount() const
{
    int count = 0;
    for (const Server& server : facts.servers)
        if (server.enabled && server.setup.keyInstalled &&
            facts.statuses.value(server.id, ServerRegistry::Status::Kind::unknown) == ServerRegistry::Status::Kind::connected)
            ++count;
    return count;
}

QStringList PanelModel::unreachable() const
{
    QStringList out;
    for (const Server& server : facts.servers)
        if (server.enabled && server.setup.keyInstalled && facts.failures.contains(server.id)) {
            // The message's lead ("钥匙被拒", "连不上") is the reason; the rest is in the tooltip.
            const QString message = facts.failures.value(server.id);
            const qsizetype end = message.indexOf(QRegularExpression(QStringLiteral("[：（]")));
            out << server.name + QLatin1Char(' ') + (end > 0 ? message.left(end) : message);
        }
    return out;
}

QStringList PanelModel::unreachableReasons() const
{
    QStringList out;
    for (const Server& server : facts.servers)
        if (server.enabled && server.setup.keyInstalled && facts.failures.contains(server.id))
            out << server.name + QStringLiteral("：") + facts.failures.value(server.id);
    return out;
}

QStringList PanelModel::inboundNames() const
{
    QStringList names;
    for (const PanelPeer& peer : facts.link.peers)
        if (peer.hasLink && peer.inboundTunnels > 0)
            names << peer.displayName();
    return names;
}

QString PanelModel::pasteHotkey() const
{
    return HotkeySpec::parseOr(facts.settings.hotkeyPaste, defaultPaste).desktopText();
}

QString PanelModel::segmentLabel(PanelTab tab) const
{
    switch (tab) {
    case PanelTab::shots: return QStringLiteral("截图 %1").arg(facts.todayCount);
    case PanelTab::servers: {
        int plain = 0;
        for (const Server& server : facts.servers)
            if (!server.isDevice())
                ++plain;
        return QStringLiteral("服务器 %1").arg(plain);
    }
    case PanelTab::devices: return QStringLiteral("设备 %1").arg(facts.link.peers.size());
    }
    return {};
}

StatusLook PanelModel::status() const
{
    if (facts.paused)
        return {QStringLiteral("已暂停上传"), QStringLiteral("gray"), QStringLiteral("已暂停上传：Ctrl+C 的截图不存也不传")};
    // Nothing is watched while the account gate is closed, whatever is connected.
    if (facts.gateReason)
        return {QStringLiteral("没在监听"), QStringLiteral("gray"), *facts.gateReason + gateConsequence};
    if (const QStringList down = unreachable(); !down.isEmpty()) {
        const int n = connectedCount();
        const QString lead = n >= 1 ? QStringLiteral("监听中 · %1 台已连接 · ").arg(n) : QString();
        return {lead + down.join(QStringLiteral("、")), QStringLiteral("red"), unreachableReasons().join(QLatin1Char('\n'))};
    }
    if (const int n = connectedCount(); n >= 1)
        return {QStringLiteral("监听中 · %1 台已连接").arg(n), QStringLiteral("green"),
                QStringLiteral("截图会同步到已连接的 %1 台服务器 / 设备").arg(n)};
    if (const QString names = inboundNames().join(QStringLiteral("、")); !names.isEmpty())
        return {QStringLiteral("被连接中 · ") + names, QStringLiteral("accent"),
                names + QStringLiteral(" 正 SSH 连着这台电脑；这台没连服务器或设备，截图只存本机")};
    // Names the default hot key whatever is configured.
    return {QStringLiteral("待机"), QStringLiteral("yellow"),
            QStringLiteral("这台没连服务器或设备，截图只存本机（%1 粘本地路径）；要同步就去「服务器」或「设备」页连一台")
                .arg(defaultPasteHotkey())};
}

QString PanelModel::pasteHintLead() const { return pasteHotkey() + QStringLiteral(" 粘 "); }

std::optional<QString> PanelModel::pasteHintChosen() const
{
    if (!facts.chosenNumber)
        return std::nullopt;
    return QStringLiteral("截图%1").arg(*facts.chosenNumber);
}

QString PanelModel::pasteHintLatest() const { return QStringLiteral("最新一张"); }

QList<std::pair<QString, QString>> PanelModel::pasteHintShortForms() const
{
    const QString what = facts.chosenNumber ? QStringLiteral("#%1").arg(*facts.chosenNumber) : QStringLiteral("最新");
    return {{pasteHotkey() + QStringLiteral(" 粘 "), what}, {pasteHotkey() + QLatin1Char(' '), what}};
}

QString PanelModel::serversHeader() const
{
    if (const int n = connectedCount(); n >= 1)
        return QStringLiteral("%1 台已连接").arg(n);
    for (const Server& server : facts.servers)
        if (!server.isDevice())
            return QStringLiteral("没有连上的服务器");
    return QStringLiteral("先连一台服务器");
}

QString PanelModel::devicesHeader() const
{
    if (!facts.link.available)
        return QStringLiteral("设备互联不可用");
    if (facts.link.peers.isEmpty())
        return QStringLiteral("在另一台电脑上登录同一账号");
    int online = 0, direct = 0;
    for (const PanelPeer& peer : facts.link.peers) {
        if (peer.online)
            ++online;
        if (peer.hasLink && peer.linkState == QLatin1String("connected") && peer.path != QLatin1String("relay") &&
            peer.peerPath != QLatin1String("relay"))
            ++direct;
    }
    QString text = QStringLiteral("%1 台在线 · %2 台直连").arg(online).arg(direct);
    if (facts.settings.remoteAccess)
        text += QStringLiteral(" · 这台可被连接");
    return text;
}

std::optional<GateBarLook> PanelModel::gateBar() const
{
    if (!facts.gateReason)
        return std::nullopt;
    return GateBarLook{
        facts.accountDisabled ? QStringLiteral("lock.slash.fill") : QStringLiteral("person.crop.circle.badge.exclamationmark"),
        *facts.gateReason + gateConsequence,
        facts.accountDisabled ? QStringLiteral("查看") : QStringLiteral("登录 / 注册"),
    };
}

EmptyPageLook PanelModel::emptyPage() const
{
    EmptyPageLook look;
    if (const QStringList names = inboundNames(); !names.isEmpty())
        look.inbound = names.join(QStringLiteral("、")) + QStringLiteral(" 正 SSH 连着这台电脑");
    if (const int n = connectedCount(); n >= 1)
        look.connectedHint = QStringLiteral("已连着 %1 台服务器，截完到终端里按 %2 粘路径").arg(n).arg(pasteHotkey());
    return look;
}

QString PanelModel::pauseLabel() const
{
    return facts.paused ? QStringLiteral("▶\uFE0E 继续上传") : QStringLiteral("⏸ 暂停上传");
}
