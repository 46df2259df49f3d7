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
    QList<Server> list = latest;
    if (replacing)
        for (Server& s : list)
            if (s.id == replacing->id)
                s = *replacing;
    return SSHConfig::write(list);
}
