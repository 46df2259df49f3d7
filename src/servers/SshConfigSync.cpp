#include "servers/SshConfigSync.h"

#include "delivery/SSHConfig.h"

void SshConfigSync::follow(const QList<Server>& servers)
{
    std::lock_guard lock(mutex);
    latest = servers;
}

Outcome<> SshConfigSync::write(const std::optional<Server>& replacing)
{
    std::lock_guard lock(mutex);
    if (replacing)
        underWay.insert(replacing->id, *replacing);
    QList<Server> list = latest;
    for (Server& s : list)
        if (const auto attempt = underWay.constFind(s.id); attempt != underWay.cend())
            s = *attempt;
    return SSHConfig::write(list);
}

void SshConfigSync::settle(const QUuid& id)
{
    std::lock_guard lock(mutex);
    underWay.remove(id);
}
