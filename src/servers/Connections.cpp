#include "servers/Connections.h"

#include "servers/ServerList.h"
#include "servers/SshConfigSync.h"
#include "servers/SshLookup.h"
#include "state/Clock.h"
#include "state/Log.h"

#include <QtConcurrent/QtConcurrentRun>

Connections::Status Connections::Status::connecting(const QDateTime& since, ConnectFlow::Stage stage)
{
    Status s;
    s.kind = Kind::connecting;
    s.since = since;
    s.stage = stage;
    return s;
}

Connections::Status Connections::Status::connected(const ConnectFlow::Connected& connected)
{
    Status s;
    s.kind = Kind::connected;
    s.user = connected.user;
    s.hostname = connected.hostname;
    return s;
}

Connections::Status Connections::Status::failed(const Failure& failure)
{
    Status s;
    s.kind = Kind::failed;
    s.message = failure.message;
    s.needsPassword = failure.needsPassword;
    s.needsLoginName = failure.needsLoginName;
    return s;
}

Connections::Connections(ServerList& list, SshConfigSync& config, QObject* parent)
    : QObject(parent), list(list), config(config)
{
}

Connections::~Connections()
{
    cancelAll();
    waitForAll();
}

void Connections::cancelAll()
{
    running.cancelAll();
    attempts.clear();
}

void Connections::waitForAll() const { running.waitForAll(); }

void Connections::setStatus(const QUuid& id, const Status& value)
{
    statuses.insert(id, value);
    Q_EMIT changed();
}

void Connections::cancel(const QUuid& id)
{
    if (const auto it = attempts.find(id); it != attempts.end()) {
        it->cancel.cancel();
        attempts.erase(it);
        config.settle(id);
    }
}

void Connections::forget(const QUuid& id)
{
    cancel(id);
    statuses.remove(id);
    connectedBeforeUploadFailed.remove(id);
}

void Connections::uploadFailed(const QUuid& id, const QString& why)
{
    const auto found = list.find(id);
    if (!found || attempts.contains(id))
        return; // gone, or a connect under way answers for itself
    const Status current = statuses.value(id);
    if (current.kind == Status::Kind::connected)
        connectedBeforeUploadFailed.insert(id, current);
    else if (current.kind != Status::Kind::failed && !connectedBeforeUploadFailed.contains(id))
        return; // not checked yet, or a check under way: that answers for it
    // A failed status takes the newest reason: the card must not keep one the server no longer gives.
    const Status failed = Status::failed(Failure{why});
    if (failed == current)
        return;
    Log::write(QStringLiteral("上传时连不上 ") + found->name + QStringLiteral("：") + why);
    setStatus(id, failed);
}

void Connections::uploadReached(const QUuid& id)
{
    const auto found = list.find(id);
    if (!found || attempts.contains(id))
        return;
    if (const auto it = connectedBeforeUploadFailed.find(id); it != connectedBeforeUploadFailed.end()) {
        const Status connected = *it;
        connectedBeforeUploadFailed.erase(it);
        Log::write(QStringLiteral("上传到 ") + found->name + QStringLiteral(" 又通了"));
        setStatus(id, connected);
    } else if (statuses.value(id).kind != Status::Kind::connected) {
        setStatus(id, Status::connected({found->user.value_or(QString()), std::nullopt}));
    }
}

void Connections::recheckWaitingDevices()
{
    if (!peerLinkConnected)
        return;
    const QList<Server> all = list.all(); // a check changes the list
    for (const Server& s : all)
        if (s.isDevice() && !attempts.contains(s.id) && statuses.value(s.id).kind == Status::Kind::unknown
            && peerLinkConnected(*s.deviceID))
            connectServer(s.id, s.user);
}

void Connections::connectServer(const QUuid& id, const std::optional<QString>& user, const std::optional<QString>& password)
{
    const auto found = list.find(id);
    if (!found)
        return;
    cancel(id);
    connectedBeforeUploadFailed.remove(id);
    if (found->isDevice() && peerLinkConnected && !peerLinkConnected(*found->deviceID)) {
        setStatus(id, Status());
        return;
    }
    const Attempt attempt {ProcessRunner::CancelToken(), nextGeneration++};
    attempts.insert(id, attempt);
    const QDateTime since = Clock::instance().now();
    const bool skipsProbe = password.has_value() || found->isDevice();
    setStatus(id, Status::connecting(since, skipsProbe ? ConnectFlow::Stage::installing : ConnectFlow::Stage::probing));

    const quint64 generation = attempt.generation;
    ConnectFlow::Hooks hooks;
    hooks.stage = [this, id, generation, since](ConnectFlow::Stage stage) {
        QMetaObject::invokeMethod(this, [this, id, generation, since, stage] {
            if (attempts.value(id).generation == generation)
                setStatus(id, Status::connecting(since, stage));
        }, Qt::QueuedConnection);
    };
    // Of two entries set up for one account the later gives way; one not set up gives way to any.
    QList<Server> setUp;
    bool earlier = true;
    for (const Server& other : list.all()) {
        if (other.id == id)
            earlier = false;
        else if (other.setup.keyInstalled && (earlier || !found->setup.keyInstalled))
            setUp << other;
    }
    hooks.sameAccount = [setUp](const Server& s) { return SshLookup::sameAccount(s, setUp); };
    SshConfigSync* sync = &config;
    hooks.writeConfig = [sync](const Server& s) { return sync->write(s); };
    const ConnectFlow::Request request {*found, user, password};
    const ProcessRunner::CancelToken cancelToken = attempt.cancel;
    QFuture<ConnectFlow::Result> work = QtConcurrent::run(ProcessRunner::pool(),
        [request, hooks, cancelToken] { return ConnectFlow::run(request, hooks, cancelToken); });
    running.add(QFuture<void>(work), cancelToken);
    work.then(this, [this, id, generation](const ConnectFlow::Result& result) { finish(id, generation, result); });
}

void Connections::finish(const QUuid& id, quint64 generation, const ConnectFlow::Result& result)
{
    if (attempts.value(id).generation != generation || result.cancelled)
        return;
    attempts.remove(id);
    config.settle(id);
    const auto current = list.find(id);
    if (!current)
        return;
    list.modify(id, [&](Server& s) {
        // What the attempt learned; the user's own switches stay as they are now.
        s.host = result.server.host;
        s.port = result.server.port;
        s.user = result.server.user;
        s.proxyJump = result.server.proxyJump;
        s.matchKeywords = result.server.matchKeywords;
        s.setup = result.server.setup;
    });
    config.write();
    if (!result.outcome.ok()) {
        Log::write(QStringLiteral("连接 ") + current->name + QStringLiteral(" 失败：") + result.outcome.failure());
        setStatus(id, Status::failed(result.outcome.error()));
    } else {
        const ConnectFlow::Connected& connected = result.outcome.value();
        Log::write(QStringLiteral("已连接 ") + current->name + QStringLiteral("（") + connected.user + QLatin1Char('@')
            + result.server.host + QStringLiteral("）"));
        setStatus(id, Status::connected(connected));
    }
}
