#pragma once

#include "state/Server.h"

#include <QObject>
#include <QUuid>
#include <functional>
#include <optional>

class SshConfigSync;
class StateStore;

// The saved destinations (state.json). Every change is saved at once and handed to ssh_config's keeper.
// Main thread only.
class ServerList : public QObject {
    Q_OBJECT
public:
    ServerList(StateStore& state, SshConfigSync& config, QObject* parent = nullptr);

    const QList<Server>& all() const;
    std::optional<Server> find(const QUuid& id) const;

    void append(const Server& server);
    // Changes the entry with this id and saves; false when there is none.
    bool modify(const QUuid& id, const std::function<void(Server&)>& change);
    void erase(const QUuid& id);

    // The entries other than `server` whose key is installed.
    QList<Server> otherSetUp(const Server& server) const;

Q_SIGNALS:
    void changed();

private:
    void save(const std::function<void(QList<Server>&)>& change);

    StateStore& state;
    SshConfigSync& config;
};
