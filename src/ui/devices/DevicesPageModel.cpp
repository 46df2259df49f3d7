#include "ui/devices/DevicesPageModel.h"

#include "link/RemoteLogin.h"
#include "ui/shell/FlashOverlay.h"

#include <algorithm>

QString DevicesPageModel::selfName() const { return facts.status ? facts.status->device.name : facts.hostName; }

std::optional<QString> DevicesPageModel::selfAlias() const
{
    if (facts.status && !facts.status->device.alias.isEmpty())
        return facts.status->device.alias;
    return std::nullopt;
}

QString DevicesPageModel::selfStatusLine() const
{
    if (!linkRunning())
        return facts.helper.label();
    int online = 0;
    QStringList inbound;
    for (const PeerDevice& p : facts.peers) {
        if (p.online)
            ++online;
        if (p.link && p.link->inboundTunnels >= 1)
            inbound << p.shownName();
    }
    QString line = QStringLiteral("设备互联运行中 · 账号下另有 ") + QString::number(facts.peers.size())
        + QStringLiteral(" 台设备，") + QString::number(online) + QStringLiteral(" 台在线");
    if (facts.status && facts.status->site && !facts.status->site->ok)
        line += QStringLiteral("；官网：") + facts.status->site->lastError;
    if (!inbound.isEmpty())
        line += QStringLiteral("；此刻 ") + inbound.join(QStringLiteral("、")) + QStringLiteral(" 正连着这台电脑");
    return line;
}

QString DevicesPageModel::helpLine() const
{
    return facts.remoteAccess
        ? QStringLiteral("开着时接着电源不会自动睡眠；合上盖子仍会断。只想从这台连别人、不让别人连进来，可以不开。")
        : QStringLiteral("想让别的设备连进这台电脑，拨开右上角的开关，按两步做好即可；只想从这台连别人，不用开。");
}

QList<PeerDevice> DevicesPageModel::onlinePeers() const
{
    QList<PeerDevice> list;
    for (const PeerDevice& p : facts.peers)
        if (p.online)
            list << p;
    return list;
}

QList<PeerDevice> DevicesPageModel::offlinePeers() const
{
    QList<PeerDevice> list;
    for (const PeerDevice& p : facts.peers)
        if (!p.online)
            list << p;
    return list;
}

QString DevicesPageModel::onlineHeader() const
{
    return QStringLiteral("其他在线设备 ") + QString::number(onlinePeers().size());
}

QString DevicesPageModel::emptyTitle() const
{
    return facts.peers.isEmpty() ? QStringLiteral("还没有别的设备") : QStringLiteral("别的设备都不在线");
}

QString DevicesPageModel::emptyHint() const
{
    return facts.peers.isEmpty() ? QStringLiteral("在家里 / 办公室的另一台电脑装上 tarnel，登录同一个账号，它就会出现在这里")
                                 : QStringLiteral("对方开着 tarnel 并联网后，会自动出现在这里");
}

QString DevicesPageModel::offlineSummary() const
{
    return QStringLiteral("另有 ") + QString::number(offlinePeers().size())
        + QStringLiteral(" 台离线，不显示（对方开着 tarnel 并联网就会出现；30 天没上线会自动清掉）");
}

QString DevicesPageModel::offlineState(const PeerDevice& peer)
{
    if (peer.lastSeen.isEmpty())
        return QStringLiteral("离线");
    QString seen = peer.lastSeen.left(16);
    seen.replace(QLatin1Char('T'), QLatin1Char(' '));
    return QStringLiteral("离线 · 最后在线 ") + seen;
}

QString DevicesPageModel::kickTitle(const PeerDevice& peer)
{
    return QStringLiteral("踢出「") + peer.shownName() + QStringLiteral("」？");
}

QString DevicesPageModel::kickMessage()
{
    return QStringLiteral("它会被退出登录，不能再连接你账号下的设备。它的钥匙如果已经加进过哪台电脑，请到那台的 ~/.ssh/authorized_keys 里把那一行删掉。");
}

QString DevicesPageModel::kickedNotice(const PeerDevice& peer)
{
    return QStringLiteral("已踢出「") + peer.shownName() + QStringLiteral("」");
}

DevicesPageModel::Text DevicesPageModel::footer() const
{
    if (!facts.notice.isEmpty())
        return {facts.notice, QStringLiteral("secondary")};
    if (facts.lastError)
        return {*facts.lastError, QStringLiteral("orange")};
    QString text = facts.helper.label();
    if (facts.lastPollAt)
        text += QStringLiteral(" · ") + FlashOverlay::time(*facts.lastPollAt) + QStringLiteral(" 更新");
    return {text, QStringLiteral("secondary")};
}

QList<PeerDevice> DevicesPageModel::keyLinesForOthers() const
{
    QList<PeerDevice> list;
    for (const PeerDevice& p : facts.peers)
        if (p.online && !p.sshPubKey.isEmpty())
            list << p;
    return list;
}

int DevicesPageModel::allowedCount() const
{
    int n = 0;
    for (const PeerDevice& p : keyLinesForOthers())
        if (facts.authorizedKeyIDs.contains(p.id))
            ++n;
    return n;
}

bool DevicesPageModel::wizardComplete() const
{
    const QList<PeerDevice> keyed = keyLinesForOthers();
    return facts.sshdListening && !keyed.isEmpty() && allowedCount() == keyed.size();
}

QString DevicesPageModel::doneSummary() const
{
    return QStringLiteral("别的设备已能连进这台电脑：远程登录已打开 · 已允许 ") + QString::number(keyLinesForOthers().size())
        + QStringLiteral(" 台免密登录");
}

QString DevicesPageModel::wizardHeader() const
{
    return wizardComplete() ? QStringLiteral("让别的设备能连进来的两步（都做好了）")
                            : QStringLiteral("让别的设备能连进来，还差两步（这两步系统要你自己点，tarnel 不代劳）");
}

QString DevicesPageModel::stepOneTitle() const
{
    return facts.sshdListening ? QStringLiteral("① 远程登录已打开 ✓") : QStringLiteral("① 打开「远程登录」");
}

QString DevicesPageModel::stepOneText() const
{
    if (facts.sshdListening)
        return QStringLiteral("已检测到这台电脑的远程登录（ssh 服务器）开着。");
    if (facts.sharingPanel)
        return QStringLiteral("在系统设置的「共享」里打开「远程登录」（ssh 服务器）。");
    return QStringLiteral("这台电脑没有「共享」设置面板：在终端里运行下面这条命令打开 ssh 服务器（远程登录）：\n")
        + RemoteLogin::enableCommand;
}

QString DevicesPageModel::stepOneButton() const
{
    if (!facts.sharingPanel)
        return facts.sshdListening ? QString() : QStringLiteral("复制命令");
    return facts.sshdListening ? QStringLiteral("去系统设置") : QStringLiteral("去系统设置 → 共享");
}

QString DevicesPageModel::stepOneDot() const
{
    return facts.sshdListening ? QStringLiteral("green") : QStringLiteral("orange");
}

QString DevicesPageModel::stepTwoDot() const
{
    const QList<PeerDevice> keyed = keyLinesForOthers();
    if (keyed.isEmpty())
        return QStringLiteral("gray");
    return allowedCount() == keyed.size() ? QStringLiteral("green") : QStringLiteral("orange");
}

QString DevicesPageModel::stepTwoTitle() const
{
    const QList<PeerDevice> keyed = keyLinesForOthers();
    if (keyed.isEmpty())
        return QStringLiteral("② 允许其他设备免密登录这台电脑");
    return QStringLiteral("② 允许其他设备免密登录这台电脑（") + QString::number(allowedCount()) + QLatin1Char('/')
        + QString::number(keyed.size()) + QStringLiteral(" 台已允许）");
}

QString DevicesPageModel::stepTwoText()
{
    return QStringLiteral("每台要连进来的设备做一次：把它的钥匙加进这台电脑的钥匙清单（~/.ssh/authorized_keys）。tarnel 不替你改这个文件——点「允许…」会给你一条命令，到终端里粘贴回车就好，做完这里自动打勾。");
}

QList<DevicesPageModel::KeyRow> DevicesPageModel::keyRows() const
{
    QList<KeyRow> rows;
    for (const PeerDevice& p : keyLinesForOthers()) {
        const bool allowed = facts.authorizedKeyIDs.contains(p.id);
        rows.append({p, allowed, allowed ? QStringLiteral("已可免密登录这台电脑") : QStringLiteral("还没允许"),
            allowed ? QStringLiteral("查看…") : QStringLiteral("允许它免密登录…")});
    }
    return rows;
}

std::optional<QString> DevicesPageModel::stepTwoMissing() const
{
    if (!keyLinesForOthers().isEmpty())
        return std::nullopt;
    if (facts.peers.isEmpty())
        return QStringLiteral("另一台设备登录同一账号后，会出现在这里。");
    // Only an online machine reports its key: with none online, being offline is the reason.
    if (std::none_of(facts.peers.begin(), facts.peers.end(), [](const PeerDevice& p) { return p.online; }))
        return QStringLiteral("对方现在不在线；它上线后会出现在这里。");
    return QStringLiteral("对方的 tarnel 版本太旧，还没上报钥匙；它更新后会出现在这里。");
}
