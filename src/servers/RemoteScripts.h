#pragma once

#include "servers/RunningWork.h"
#include "servers/ScriptRunner.h"
#include "state/Outcome.h"
#include "state/Server.h"

#include <QObject>
#include <QStringList>
#include <QUuid>
#include <functional>
#include <optional>

class ServerList;

// The setup scripts run on a destination after it was connected: AI-tool rule blocks, revoking the key,
// cleaning up when an entry goes. Each runs on a worker and can be cancelled; its outcome (a ready
// message, or a failure that may ask for a password) reaches `done` on a later turn of the event loop.
class RemoteScripts : public QObject {
    Q_OBJECT
public:
    using Done = std::function<void(const Outcome<QString>& outcome)>;

    explicit RemoteScripts(ServerList& list, QObject* parent = nullptr);
    ~RemoteScripts() override;

    void applyRules(const QUuid& id, const QStringList& wanted, const std::optional<QString>& password, Done done);
    void revokeKey(const QUuid& id, const std::optional<QString>& password, Done done);
    // Takes this machine's key and the receiver (with `purge` also the shots) off a server; a refused key
    // login asks for a password.
    void uninstall(const Server& server, const std::optional<QString>& password, bool purge, Done done);

    void cancelAll() const;
    void waitForAll() const;

    static constexpr double timeoutSeconds = 90;

private:
    // The listed server with a login name that a script runs on; otherwise `done` gets why.
    std::optional<Server> target(const QUuid& id, const QString& noUserText, const Done& done);
    QFuture<ScriptRunner::Run> run(const Server& server, const QString& script, const std::optional<QString>& password,
        ScriptRunner::Route route = ScriptRunner::Route::generated);
    void later(const Done& done, const Outcome<QString>& outcome);

    ServerList& list;
    RunningWork running;
};
