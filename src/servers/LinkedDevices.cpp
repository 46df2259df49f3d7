#include "servers/LinkedDevices.h"

#include "delivery/SSHConfig.h"
#include "state/Clock.h"

std::optional<LinkedDevices::Peer> LinkedDevices::withAlias(const QString& host) const
{
    if (peers)
        for (const Peer& peer : peers())
            if (!peer.alias.isEmpty() && peer.alias.compare(host, Qt::CaseInsensitive) == 0)
                return peer;
    return std::nullopt;
}

Outcome<Server> LinkedDevices::record(const Peer& peer, const QString& remoteDir)
{
    if (!SSHConfig::isValidDeviceAlias(peer.alias) || !SSHConfig::isValidDeviceID(peer.id) || peer.sshUser.isEmpty()
        || !SSHConfig::isValidDeviceUser(peer.sshUser))
        return Outcome<Server>::failure(QStringLiteral("这台设备的信息还不完整（别名 / 登录名），等它上线后再试"));
    Server s;
    s.name = peer.displayName();
    s.host = peer.alias;
    s.user = peer.sshUser;
    s.matchKeywords = {peer.alias};
    s.remoteDir = remoteDir;
    s.deviceID = peer.id;
    s.deviceAlias = peer.alias;
    s.addedAt = Clock::instance().now().toUTC();
    return Outcome<Server>::success(s);
}
