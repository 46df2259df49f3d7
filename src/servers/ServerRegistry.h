#pragma once

#include "platform/ProcessRunner.h"
#include "servers/ConnectFlow.h"
#include "servers/ScriptRunner.h"
#include "state/Server.h"
#include "state/Settings.h"

#include <QDateTime>
#include <QFuture>
#include <QHash>
#include <QObject>
#include <QUuid>
#include <functional>
#include <mutex>
#include <optional>

class StateStore;

// The destinations (servers and linked machines) and their connection state. Lives on the main thread;
// every ssh run happens on workers and comes back here. Completions run on the main thread.
class ServerRegistry : public QObject {
    Q_OBJECT
public:
    struct Status {
        enum class Kind { unknown, connecting, connected, failed };
        Kind kind = Kind::unknown;
        QDateTime since;
        ConnectFlow::Stage stage = ConnectFlow::Stage::probing;
        QString user;
        std::optional<QString> hostname;
        QString message;
        bool needsCredentials = false;

        static Status connecting(const QDateTime& since, ConnectFlow::Stage stage);
        static Status connected(const QString& user, const std::optional<QString>& hostname);
        static Status failed(const QString& message, bool needsCredentials);
        bool operator==(const Status&) const = default;
    };

    struct RemoveResult {
        bool needsPassword = false;
        QString message; // when done
        Server server;   // when a password is needed
        bool purge = false;
    };

    // What the device link knows of another machine of the account.
    struct Peer {
        QString id;
        QString name;
        QString alias;
        QString sshUser;
        QString displayName() const { return name.isEmpty() ? alias : name; }
    };

    using Completion = std::function<void(const QString& message, bool needsPassword)>;

    explicit ServerRegistry(StateStore& store, QObject* parent = nullptr);
    ~ServerRegistry() override;

    const QList<Server>& servers() const;
    Status status(const QUuid& id) const;
    std::optional<QUuid> highlighted() const { return highlight; }
    std::optional<QString> inputError() const { return error; }
    void setInputError(const std::optional<QString>& text);

    std::optional<Server> add(const QString& input);
    std::optional<Server> addDevice(const Peer& peer);
    std::optional<Server> server(const QUuid& id) const;
    void connect(const QUuid& id, const std::optional<QString>& user = std::nullopt,
        const std::optional<QString>& password = std::nullopt);
    void recheckAll();
    void reinitialize(const QUuid& id);
    void setEnabled(const QUuid& id, bool on);
    void update(const Server& server);
    void remove(const QUuid& id, bool purgeRemote, std::function<void(const RemoveResult&)> completion);
    void uninstallWithPassword(const Server& server, const QString& password, bool purge,
        std::function<void(const QString&)> completion);
    void applyRules(const QUuid& id, const QStringList& wanted, const std::optional<QString>& password, Completion completion);
    void revokeKey(const QUuid& id, const std::optional<QString>& password, Completion completion);

    // Set by the application core.
    std::function<QList<Peer>()> peers;
    std::function<bool(const QString& deviceID)> peerLinkConnected;
    std::function<Settings()> settings;

    // Stops every connect and remote script under way (quit).
    void cancelAll();
    // Waits for every running task (tests, shut-down).
    void waitForTasks();

Q_SIGNALS:
    void changed();

private:
    struct Task {
        ProcessRunner::CancelToken cancel;
        quint64 generation = 0;
    };

    void store(const std::function<void(QList<Server>&)>& change);
    void setStatus(const QUuid& id, const Status& status);
    void cancelTask(const QUuid& id);
    void finishConnect(const QUuid& id, quint64 generation, const ConnectFlow::Result& result);
    void completeLater(const Completion& completion, const QString& message);
    // The listed server with a login name that a remote script runs on; otherwise the completion gets why.
    std::optional<Server> scriptTarget(const QUuid& id, const QString& noUserText, const Completion& completion);
    QFuture<ScriptRunner::Run> runScript(const Server& s, const QString& script, const std::optional<QString>& password);
    std::optional<QString> writeConfig(const std::optional<Server>& replacing);
    void track(const QFuture<void>& future, const ProcessRunner::CancelToken& cancel);
    QString uninstallScript(const Server& server, bool purge, QString* failure) const;

    StateStore& state;
    QHash<QUuid, Status> statuses;
    QHash<QUuid, Task> tasks;
    quint64 nextGeneration = 1;
    std::optional<QUuid> highlight;
    std::optional<QString> error;
    struct Running {
        QFuture<void> future;
        ProcessRunner::CancelToken cancel;
    };
    QList<Running> running;

    // The list as workers may read it when they rewrite ssh_config.
    mutable std::mutex configMutex;
    QList<Server> configServers;
};
