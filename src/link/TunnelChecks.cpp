#include "link/TunnelChecks.h"

#include "link/LinkSSHConfig.h"
#include "platform/ProcessRunner.h"
#include "state/Clock.h"
#include "state/Log.h"

#include <QPointer>
#include <QRegularExpression>
#include <QTextBoundaryFinder>
#include <algorithm>

namespace {

// The first `count` user-perceived characters.
QString leftGraphemes(const QString& text, int count)
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    int seen = 0;
    qsizetype end = 0;
    while (seen < count) {
        const qsizetype next = finder.toNextBoundary();
        if (next < 0)
            return text;
        end = next;
        ++seen;
    }
    return text.left(end);
}

// ssh's warning about a changed host key starts with a line of "@" and names the key only further down.
bool changedHostKey(const QStringList& lines)
{
    for (const QString& line : lines) {
        const QString lower = line.toLower();
        if (lower.contains(QLatin1String("remote host identification has changed")) ||
            lower.startsWith(QLatin1String("host key verification failed")))
            return true;
    }
    return false;
}

QString pathOf(const LinkStatus& link) { return link.relayed() ? QStringLiteral("relay") : QStringLiteral("direct"); }

QStringList sortedIDs(const QSet<QString>& ids)
{
    QStringList list(ids.begin(), ids.end());
    list.sort();
    return list;
}

} // namespace

TunnelChecks::TunnelChecks(QObject* parent) : QObject(parent)
{
    runner = [](const QStringList& args, double timeout) { return ProcessRunner::ssh(args, std::nullopt, timeout); };
}

QStringList TunnelChecks::checkArguments(const QString& configPath, const QString& alias)
{
    return {
        QStringLiteral("-F"), configPath,
        QStringLiteral("-T"),
        QStringLiteral("-o"), QStringLiteral("BatchMode=yes"),
        QStringLiteral("-o"), QStringLiteral("ConnectTimeout=25"),
        QStringLiteral("-o"), QStringLiteral("ClearAllForwardings=yes"),
        QStringLiteral("-o"), QStringLiteral("ControlMaster=no"),
        QStringLiteral("-o"), QStringLiteral("ControlPath=none"),
        QStringLiteral("-o"), QStringLiteral("RemoteCommand=none"),
        QStringLiteral("-o"), QStringLiteral("RequestTTY=no"),
        QStringLiteral("--"), alias,
        QStringLiteral("true"),
    };
}

TunnelChecks::Classified TunnelChecks::classify(const CommandResult& result)
{
    static const QRegularExpression breaks(QStringLiteral("[\\n\\r\\x{0B}\\x{0C}\\x{85}\\x{2028}\\x{2029}]"));
    const QStringList lines = result.stderr.split(breaks, Qt::SkipEmptyParts);
    const QString text = lines.isEmpty() ? QStringLiteral("退出码 %1").arg(result.status) : lines.first();
    const QString lower = text.toLower();
    Classified c{{}, false, text};
    if (lower.contains(QLatin1String("permission denied"))) {
        c.message = QStringLiteral("对方还没允许你免密登录：请他在那台 tarnel 的「设备」页，点你这台下面的「允许它免密登录这台电脑」");
        c.needsKey = true;
    } else if (lower.contains(QLatin1String("host key")) || changedHostKey(lines)) {
        c.message = QStringLiteral("对方电脑的主机钥匙和记录不一致，为安全起见没有连");
    } else if (result.timedOut) {
        c.message = QStringLiteral("对方没有响应（超时），等几秒再试");
    } else if (lower.contains(QLatin1String("tarnel-net")) || text.contains(QStringLiteral("连不上")) ||
               text.contains(QStringLiteral("不在线")) || text.contains(QStringLiteral("稍后"))) {
        c.message = QStringLiteral("两台之间的连接还没建好，等几秒再点一次");
    } else {
        c.message = QStringLiteral("没连上：") + leftGraphemes(text, 100);
    }
    return c;
}

void TunnelChecks::set(const QString& id, const Tunnel& tunnel)
{
    if (states.contains(id) && states.value(id) == tunnel)
        return;
    states.insert(id, tunnel);
    Q_EMIT changed();
}

void TunnelChecks::open(const PeerDevice& peer, bool automatic)
{
    const QString& id = peer.id;
    if (!automatic) {
        if (!wantedIDs.contains(id)) {
            wantedIDs.insert(id);
            saveWanted(sortedIDs(wantedIDs));
        }
        autoBackoff.insert(id, 0);
    }
    if (!peer.online)
        return set(id, Tunnel::failed(QStringLiteral("对方不在线"), false));
    if (!peer.remoteAccess)
        return set(id, Tunnel::failed(QStringLiteral("对方没允许被连接：请他在那台 tarnel 的「设备」页拨开「允许其他设备连接这台电脑」"), false));
    if (!peer.link || peer.link->state != QLatin1String("connected"))
        return set(id, Tunnel::failed(QStringLiteral("两台之间的连接还没建好，等几秒再点"), false));
    // Without its own Host block ssh would dial the alias as a host name, with the user's own keys.
    if (!LinkSSHConfig::hasBlock(peer))
        return set(id, Tunnel::failed(QStringLiteral("这台设备的信息还不完整（别名 / 登录名），等它上线后再试"), false));

    set(id, Tunnel::checking());
    const QString path = pathOf(*peer.link);
    // A close while it runs does not cancel it: its outcome is what ssh to the machine does now.
    runner(checkArguments(configPath(), peer.alias), checkTimeoutSeconds)
        .then(this, [this, peer, path, automatic](const CommandResult& result) { finished(peer, path, automatic, result); });
}

void TunnelChecks::finished(const PeerDevice& peer, const QString& path, bool automatic, const CommandResult& result)
{
    if (result.status == 0) {
        // The link may have changed paths while ssh ran: the outcome names the one it has now.
        if (!linkNow)
            return opened(peer, linkPaths.value(peer.id, path), automatic);
        linkNow(peer.id).then(this, [this, peer, path, automatic](const std::optional<LinkStatus>& now) {
            opened(peer, now && now->state == QLatin1String("connected") ? pathOf(*now) : linkPaths.value(peer.id, path),
                   automatic);
        });
        return;
    }
    const Classified c = classify(result);
    set(peer.id, Tunnel::failed(c.message, c.needsKey));
    Log::write(QStringLiteral("设备互联：打通 %1 失败：%2").arg(peer.plainName(), PeerDevice::plain(leftGraphemes(c.text, 120))));
}

void TunnelChecks::opened(const PeerDevice& peer, const QString& path, bool automatic)
{
    set(peer.id, Tunnel::open(path, Clock::instance().now()));
    autoBackoff.insert(peer.id, 0);
    Log::write(QStringLiteral("设备互联：SSH 已打通 → %1（%2%3）")
                   .arg(peer.plainName(), path == QLatin1String("relay") ? QStringLiteral("中转") : QStringLiteral("直连"),
                        automatic ? QStringLiteral("，自动恢复") : QString()));
    onOpened(peer);
}

void TunnelChecks::close(const PeerDevice& peer)
{
    set(peer.id, Tunnel::idle());
    if (wantedIDs.remove(peer.id)) {
        saveWanted(sortedIDs(wantedIDs));
        Q_EMIT changed();
    }
    Log::write(QStringLiteral("设备互联：已断开（收起）→ ") + peer.plainName());
}

void TunnelChecks::reconcile(const QList<PeerDevice>& peers)
{
    const QDateTime now = Clock::instance().now();
    for (const PeerDevice& peer : peers) {
        const Tunnel current = states.value(peer.id);
        const bool linked = peer.online && peer.link && peer.link->state == QLatin1String("connected");
        if (linked)
            linkPaths.insert(peer.id, pathOf(*peer.link));
        else
            linkPaths.remove(peer.id);
        // An open machine's path follows its link, so a later loss names the path it had.
        if (linked && current.kind == Tunnel::Kind::open && current.path != pathOf(*peer.link))
            set(peer.id, Tunnel::open(pathOf(*peer.link), current.at));
        if (!linked) {
            if (current.kind == Tunnel::Kind::open) {
                set(peer.id, Tunnel::reconnecting(current.path, now));
                Log::write(QStringLiteral("设备互联：到「%1」的链路断了，等恢复后自动重新打通").arg(peer.plainName()));
            }
            continue;
        }
        if (!wantedIDs.contains(peer.id))
            continue;
        if (current.kind == Tunnel::Kind::open || current.kind == Tunnel::Kind::checking ||
            (current.kind == Tunnel::Kind::failed && current.needsKey))
            continue;
        const double old = autoBackoff.value(peer.id, 0);
        const auto last = autoOpenAt.constFind(peer.id);
        if (last != autoOpenAt.constEnd() && last->msecsTo(now) / 1000.0 < old)
            continue;
        autoOpenAt.insert(peer.id, now);
        autoBackoff.insert(peer.id, std::min(std::max(2 * old, 8.0), 60.0));
        Log::write(QStringLiteral("设备互联：链路已恢复，自动重新打通 → ") + peer.plainName());
        open(peer, true);
    }
}
