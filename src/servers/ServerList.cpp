#include "servers/ServerList.h"

#include "servers/SshConfigSync.h"
#include "state/StateStore.h"

ServerList::ServerList(StateStore& state, SshConfigSync& config, QObject* parent)
    : QObject(parent), state(state), config(config)
{
    config.follow(all());
}

const QList<Server>& ServerList::all() const { return state.state().servers; }

std::optional<Server> ServerList::find(const QUuid& id) const
{
    for (const Server& s : all())
        if (s.id == id)
            return s;
    return std::nullopt;
}

void ServerList::save(const std::function<void(QList<Server>&)>& change)
{
    state.update([&](StateFile& file) { change(file.servers); });
    config.follow(all());
    Q_EMIT changed();
}

void ServerList::append(const Server& server)
{
    save([&](QList<Server>& list) { list.append(server); });
}

bool ServerList::modify(const QUuid& id, const std::function<void(Server&)>& change)
{
    if (!find(id))
        return false;
    save([&](QList<Server>& list) {
        for (Server& s : list)
            if (s.id == id)
                change(s);
    });
    return true;
}

void ServerList::erase(const QUuid& id)
{
    save([&](QList<Server>& list) { list.removeIf([&](const Server& s) { return s.id == id; }); });
}

QList<Server> ServerList::otherSetUp(const Server& server) const
{
    QList<Server> others;
    for (const Server& other : all())
        if (other.id != server.id && other.setup.keyInstalled)
            others << other;
    return others;
}
