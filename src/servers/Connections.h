#pragma once

#include "servers/ConnectFlow.h"
#include "servers/RunningWork.h"

#include <QDateTime>
#include <QHash>
#include <QObject>
#include <QUuid>
#include <functional>
#include <optional>

class ServerList;
class SshConfigSync;

// Connection attempts and the connection status of every destination. An attempt runs on a worker; a new
// attempt for the same destination cancels the one under way, whose answer is then dropped. Main thread.
class Connections : public QObject {
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
        bool needsPassword = false;
        bool needsLoginName = false;

        static Status connecting(const QDateTime& since, ConnectFlow::Stage stage);
        static Status connected(const ConnectFlow::Connected& connected);
        static Status failed(const Failure& failure);
        bool operator==(const Status&) const = default;
    };

    Connections(ServerList& list, SshConfigSync& config, QObject* parent = nullptr);
    ~Connections() override;

    Status status(const QUuid& id) const { return statuses.value(id); }
    void connectServer(const QUuid& id, const std::optional<QString>& user = std::nullopt,
        const std::optional<QString>& password = std::nullopt);
    // Stops the attempt for a destination that is gone and drops its status.
    void forget(const QUuid& id);
    // An upload found a connected destination refusing our key or out of reach: its status says so, with the
    // reason, until an upload gets through (the connected status comes back) or a connect answers.
    void uploadFailed(const QUuid& id, const QString& why);
    // A shot reached the destination: it works, whatever the last check or upload found.
    void uploadReached(const QUuid& id);
    // Checks the linked machines' destinations left unchecked while their link was down, once it is up.
    void recheckWaitingDevices();

    void cancelAll();
    void waitForAll() const;

    // Whether the link to a linked machine is up; a device is only tried while it is.
    std::function<bool(const QString& deviceID)> peerLinkConnected;

Q_SIGNALS:
    void changed();

private:
    struct Attempt {
        ProcessRunner::CancelToken cancel;
        quint64 generation = 0;
    };

    void setStatus(const QUuid& id, const Status& status);
    void cancel(const QUuid& id);
    void finish(const QUuid& id, quint64 generation, const ConnectFlow::Result& result);

    ServerList& list;
    SshConfigSync& config;
    QHash<QUuid, Status> statuses;
    QHash<QUuid, Attempt> attempts;
    QHash<QUuid, Status> connectedBeforeUploadFailed;
    quint64 nextGeneration = 1;
    RunningWork running;
};
