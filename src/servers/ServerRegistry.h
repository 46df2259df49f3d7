#pragma once

#include "servers/Connections.h"
#include "servers/LinkedDevices.h"
#include "servers/RemoteScripts.h"
#include "servers/ServerList.h"
#include "servers/SshConfigSync.h"
#include "state/Settings.h"

#include <QObject>
#include <QUuid>
#include <functional>
#include <optional>

class StateStore;

// What the views call for the destinations (servers and linked machines): the saved list, ssh_config in
// step with it, the connection attempts and their status, adopting linked machines, and the scripts run
// on a destination. Each of those is a class of its own; this puts them together. Main thread; every ssh
// run happens on workers and comes back here.
class ServerRegistry : public QObject {
    Q_OBJECT
public:
    using Status = Connections::Status;
    using Peer = LinkedDevices::Peer;
    using Done = RemoteScripts::Done;

    struct Added {
        Server server;
        bool existing = false; // the address was in the list already: that entry reconnects
    };

    explicit ServerRegistry(StateStore& store, QObject* parent = nullptr);
    ~ServerRegistry() override;

    const QList<Server>& servers() const { return list.all(); }
    std::optional<Server> server(const QUuid& id) const { return list.find(id); }
    Status status(const QUuid& id) const { return connections.status(id); }

    // A typed address (or the alias of a linked machine); the failure says what is wrong with the text.
    Outcome<Added> add(const QString& input);
    Outcome<Server> addDevice(const Peer& peer);
    // A linked machine's destination takes the machine's current name and alias.
    void followDevices(const QList<Peer>& peers);
    void connectServer(const QUuid& id, const std::optional<QString>& user = std::nullopt,
        const std::optional<QString>& password = std::nullopt);
    void recheckAll();
    // What the uploads and the link see keeps the statuses true: see Connections.
    void recheckWaitingDevices() { connections.recheckWaitingDevices(); }
    void reinitialize(const QUuid& id);
    void setEnabled(const QUuid& id, bool on);
    void update(const Server& server);
    // Takes the entry off the list at once, then the key (and with `purge` the files) off the server; a
    // failure that needs a password is retried with uninstallWithPassword on the removed record.
    void remove(const QUuid& id, bool purgeRemote, Done done);
    void uninstallWithPassword(const Server& server, const QString& password, bool purge, Done done);
    void applyRules(const QUuid& id, const QStringList& wanted, const std::optional<QString>& password, Done done);
    void revokeKey(const QUuid& id, const std::optional<QString>& password, Done done);
    // What uploads found out about a destination (see Connections).
    void uploadFailed(const QUuid& id, const QString& why) { connections.uploadFailed(id, why); }
    void uploadReached(const QUuid& id) { connections.uploadReached(id); }

    // Set by the application core.
    std::function<QList<Peer>()> peers;
    std::function<bool(const QString& deviceID)> peerLinkConnected;
    std::function<Settings()> settings;

    // Stops every connect and remote script under way (quit).
    void cancelAll();
    // Waits for every running task (tests, shut-down).
    void waitForTasks() const;

Q_SIGNALS:
    void changed();

private:
    Outcome<Server> adopt(const Peer& peer);
    // Finds on a worker another set-up entry for the same account as `server`, then calls `next` here.
    void whenShared(const Server& server, std::function<void(const std::optional<Server>&)> next);

    SshConfigSync config;
    ServerList list;
    Connections connections;
    RemoteScripts scripts;
    LinkedDevices devices;
    RunningWork lookups;
};
