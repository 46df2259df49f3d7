#include "servers/ServerRegistry.h"

#include "delivery/SSHConfig.h"
#include "delivery/SSHKey.h"
#include "state/Clock.h"
#include "servers/EmbeddedScripts.h"
#include "servers/InstallScript.h"
#include "servers/RemoteDir.h"
#include "servers/RulesScript.h"
#include "servers/ScriptRunner.h"
#include "servers/ServerAddress.h"
#include "servers/UninstallScript.h"
#include "state/Log.h"
#include "state/StateStore.h"

#include <QTimer>
#include <QtConcurrent/QtConcurrentRun>

namespace {

constexpr double scriptTimeout = 90;
constexpr int highlightMs = 4000;
const QString gone = QStringLiteral("这台服务器已经不在列表里了");
const QString noUser = QStringLiteral("还没有登录名，无法吊销");

QString refusedText(bool withPassword)
{
    return withPassword ? QStringLiteral("密码不对（或这台不允许密码登录），再输一次")
                        : QStringLiteral("免密登录被拒：输一次密码再试");
}

QString revokedText(const UninstallScript::Result& result)
{
    return QStringLiteral("已吊销 ") + QString::number(result.removedLines) + QStringLiteral(" 行钥匙")
        + (result.purged ? QStringLiteral("，服务器上的目录已清掉") : QString());
}

// The outcome of an uninstall run: the parsed result, or a message (and whether a password could help).
struct UninstallOutcome {
    std::optional<UninstallScript::Result> result;
    QString failure;
    bool refused = false;
};

UninstallOutcome readUninstall(const ScriptRunner::Run& run, bool withPassword)
{
    UninstallOutcome outcome;
    if (run.refused) {
        outcome.refused = true;
        outcome.failure = refusedText(withPassword);
        return outcome;
    }
    if (run.unsafe) {
        outcome.failure = QStringLiteral("地址不对");
        return outcome;
    }
    outcome.result = UninstallScript::parse(run.result.stdout, &outcome.failure);
    return outcome;
}

} // namespace

ServerRegistry::Status ServerRegistry::Status::connecting(const QDateTime& since, ConnectFlow::Stage stage)
{
    Status s;
    s.kind = Kind::connecting;
    s.since = since;
    s.stage = stage;
    return s;
}

ServerRegistry::Status ServerRegistry::Status::connected(const QString& user, const std::optional<QString>& hostname)
{
    Status s;
    s.kind = Kind::connected;
    s.user = user;
    s.hostname = hostname;
    return s;
}

ServerRegistry::Status ServerRegistry::Status::failed(const QString& message, bool needsCredentials)
{
    Status s;
    s.kind = Kind::failed;
    s.message = message;
    s.needsCredentials = needsCredentials;
    return s;
}

ServerRegistry::ServerRegistry(StateStore& store, QObject* parent) : QObject(parent), state(store)
{
    std::lock_guard lock(configMutex);
    configServers = state.state().servers;
}

ServerRegistry::~ServerRegistry()
{
    cancelAll();
    waitForTasks();
}

void ServerRegistry::cancelAll()
{
    for (const Running& work : std::as_const(running))
        work.cancel.cancel();
    tasks.clear();
}

const QList<Server>& ServerRegistry::servers() const { return state.state().servers; }

ServerRegistry::Status ServerRegistry::status(const QUuid& id) const { return statuses.value(id); }

void ServerRegistry::setInputError(const std::optional<QString>& text)
{
    if (error == text)
        return;
    error = text;
    Q_EMIT changed();
}

std::optional<Server> ServerRegistry::server(const QUuid& id) const
{
    for (const Server& s : servers()) {
        if (s.id == id)
            return s;
    }
    return std::nullopt;
}

void ServerRegistry::store(const std::function<void(QList<Server>&)>& change)
{
    state.update([&](StateFile& file) { change(file.servers); });
    {
        std::lock_guard lock(configMutex);
        configServers = servers();
    }
    Q_EMIT changed();
}

void ServerRegistry::setStatus(const QUuid& id, const Status& value)
{
    statuses.insert(id, value);
    Q_EMIT changed();
}

std::optional<QString> ServerRegistry::writeConfig(const std::optional<Server>& replacing)
{
    // Called from workers too: the list they see is the registry's latest, with their own entry as they
    // have it now.
    std::lock_guard lock(configMutex);
    QList<Server> list = configServers;
    if (replacing) {
        for (Server& s : list) {
            if (s.id == replacing->id)
                s = *replacing;
        }
    }
    return SSHConfig::write(list);
}

void ServerRegistry::track(const QFuture<void>& future, const ProcessRunner::CancelToken& cancel)
{
    running.removeIf([](const Running& work) { return work.future.isFinished(); });
    running.append({future, cancel});
}

void ServerRegistry::waitForTasks()
{
    const QList<Running> all = running;
    for (Running work : all)
        work.future.waitForFinished();
}

std::optional<Server> ServerRegistry::add(const QString& input)
{
    ServerAddress address;
    try {
        address = ServerAddress::parse(input);
    } catch (const ServerAddress::ParseError& failure) {
        setInputError(failure.errorDescription());
        return std::nullopt;
    }
    setInputError(std::nullopt);
    if (peers) {
        for (const Peer& peer : peers()) {
            if (!peer.alias.isEmpty() && peer.alias.compare(address.host, Qt::CaseInsensitive) == 0)
                return addDevice(peer);
        }
    }
    const int port = address.port.value_or(22);
    for (const Server& s : servers()) {
        if (s.host.compare(address.host, Qt::CaseInsensitive) == 0 && s.port == port) {
            highlight = s.id;
            Q_EMIT changed();
            const QUuid id = s.id;
            QTimer::singleShot(highlightMs, this, [this, id] {
                if (highlight == id) {
                    highlight.reset();
                    Q_EMIT changed();
                }
            });
            connect(s.id, s.user);
            return s;
        }
    }
    Server s;
    s.name = address.host;
    s.host = address.host;
    s.port = port;
    s.user = address.user;
    s.remoteDir = settings ? settings().defaultRemoteDir : s.remoteDir;
    s.addedAt = Clock::instance().now().toUTC();
    store([&](QList<Server>& list) { list.append(s); });
    Log::write(QStringLiteral("添加服务器 ") + address.canonical());
    writeConfig(std::nullopt);
    connect(s.id);
    return s;
}

std::optional<Server> ServerRegistry::addDevice(const Peer& peer)
{
    if (!SSHConfig::isValidDeviceAlias(peer.alias) || !SSHConfig::isValidDeviceID(peer.id) || peer.sshUser.isEmpty()
        || !SSHConfig::isValidUser(peer.sshUser)) {
        setInputError(QStringLiteral("这台设备的信息还不完整（别名 / 登录名），等它上线后再试"));
        return std::nullopt;
    }
    setInputError(std::nullopt);
    for (const Server& s : servers()) {
        if (s.deviceID == peer.id)
            return s;
    }
    Server s;
    s.name = peer.displayName();
    s.host = peer.alias;
    s.user = peer.sshUser;
    s.matchKeywords = {peer.alias};
    s.remoteDir = settings ? settings().deviceRemoteDir : s.remoteDir;
    s.deviceID = peer.id;
    s.deviceAlias = peer.alias;
    s.addedAt = Clock::instance().now().toUTC();
    store([&](QList<Server>& list) { list.append(s); });
    Log::write(QStringLiteral("添加设备为截图接收端：") + peer.displayName());
    writeConfig(std::nullopt);
    connect(s.id);
    return s;
}

void ServerRegistry::cancelTask(const QUuid& id)
{
    const auto it = tasks.find(id);
    if (it == tasks.end())
        return;
    it->cancel.cancel();
    tasks.erase(it);
}

void ServerRegistry::connect(const QUuid& id, const std::optional<QString>& user, const std::optional<QString>& password)
{
    const auto found = server(id);
    if (!found)
        return;
    cancelTask(id);
    if (found->isDevice() && peerLinkConnected && !peerLinkConnected(*found->deviceID)) {
        setStatus(id, Status());
        return;
    }
    Task task;
    task.generation = nextGeneration++;
    tasks.insert(id, task);
    const QDateTime since = Clock::instance().now();
    const bool skipsProbe = password.has_value() || found->isDevice();
    setStatus(id, Status::connecting(since, skipsProbe ? ConnectFlow::Stage::installing : ConnectFlow::Stage::probing));

    const quint64 generation = task.generation;
    ConnectFlow::Hooks hooks;
    hooks.stage = [this, id, generation, since](ConnectFlow::Stage stage) {
        QMetaObject::invokeMethod(this, [this, id, generation, since, stage] {
            if (tasks.value(id).generation == generation)
                setStatus(id, Status::connecting(since, stage));
        }, Qt::QueuedConnection);
    };
    hooks.writeConfig = [this](const Server& s) { return writeConfig(s); };
    const ConnectFlow::Request request {*found, user, password};
    const ProcessRunner::CancelToken cancel = task.cancel;
    QFuture<ConnectFlow::Result> work = QtConcurrent::run(ProcessRunner::pool(),
        [request, hooks, cancel] { return ConnectFlow::run(request, hooks, cancel); });
    track(QFuture<void>(work), cancel);
    work.then(this, [this, id, generation](const ConnectFlow::Result& result) { finishConnect(id, generation, result); });
}

void ServerRegistry::finishConnect(const QUuid& id, quint64 generation, const ConnectFlow::Result& result)
{
    if (tasks.value(id).generation != generation || result.cancelled)
        return;
    tasks.remove(id);
    const auto current = server(id);
    if (!current)
        return;
    store([&](QList<Server>& list) {
        for (Server& s : list) {
            if (s.id != id)
                continue;
            // What the attempt learned; the user's own switches stay as they are now.
            s.host = result.server.host;
            s.port = result.server.port;
            s.user = result.server.user;
            s.proxyJump = result.server.proxyJump;
            s.matchKeywords = result.server.matchKeywords;
            s.setup = result.server.setup;
        }
    });
    writeConfig(std::nullopt);
    if (result.error) {
        Log::write(QStringLiteral("连接 ") + current->name + QStringLiteral(" 失败：") + result.error->shownText());
        setStatus(id, Status::failed(result.error->shownText(), result.error->needsPassword()));
    } else {
        Log::write(QStringLiteral("已连接 ") + current->name + QStringLiteral("（") + result.user + QLatin1Char('@')
            + result.server.host + QStringLiteral("）"));
        setStatus(id, Status::connected(result.user, result.hostname));
    }
}

void ServerRegistry::recheckAll()
{
    const QList<Server> all = servers();
    for (const Server& s : all)
        connect(s.id, s.user);
}

void ServerRegistry::reinitialize(const QUuid& id)
{
    const auto found = server(id);
    if (!found)
        return;
    store([&](QList<Server>& list) {
        for (Server& s : list) {
            if (s.id == id) {
                s.setup.keyInstalled = false;
                s.setup.receiverVersion.reset();
                s.setup.remoteDirAbsolute.reset();
            }
        }
    });
    connect(id, found->user);
}

void ServerRegistry::setEnabled(const QUuid& id, bool on)
{
    const auto found = server(id);
    if (!found)
        return;
    store([&](QList<Server>& list) {
        for (Server& s : list) {
            if (s.id == id)
                s.enabled = on;
        }
    });
    Log::write((on ? QStringLiteral("同步开：") : QStringLiteral("同步关：")) + found->name);
}

void ServerRegistry::update(const Server& edited)
{
    const auto found = server(edited.id);
    if (!found)
        return;
    Server next = edited;
    if (next.proxyJump) {
        if (const auto canonical = SSHConfig::canonicalJump(*next.proxyJump))
            next.proxyJump = canonical;
    }
    if (!RemoteDir::isValid(next.remoteDir)) {
        Log::write(RemoteDir::problemText() + QStringLiteral("，") + found->name + QStringLiteral(" 保留原来的 ") + found->remoteDir);
        next.remoteDir = found->remoteDir;
    }
    if (next.remoteDir != found->remoteDir)
        next.setup.remoteDirAbsolute.reset(); // the reconnect installs the receiver in the new folder
    store([&](QList<Server>& list) {
        for (Server& s : list) {
            if (s.id == next.id)
                s = next;
        }
    });
    writeConfig(std::nullopt);
    connect(next.id, next.user);
}

QString ServerRegistry::uninstallScript(const Server& s, bool purge, QString* failure) const
{
    const auto publicLine = SSHKey::publicLine(SSHKey::defaultPath());
    try {
        return UninstallScript::render(s.remoteDir, SSHKey::comment(SSHKey::machineName()),
            publicLine ? InstallScript::keyData(*publicLine) : QString(), purge,
            EmbeddedScripts::load(QStringLiteral("uninstall.sh")), !s.isDevice());
    } catch (const ScriptError& error) {
        *failure = error.message;
        return QString();
    }
}

void ServerRegistry::remove(const QUuid& id, bool purgeRemote, std::function<void(const RemoveResult&)> completion)
{
    auto finish = [this, completion](const RemoveResult& result) {
        if (completion)
            QMetaObject::invokeMethod(this, [completion, result] { completion(result); }, Qt::QueuedConnection);
    };
    const auto found = server(id);
    if (!found) {
        finish({false, gone, {}, purgeRemote});
        return;
    }
    const Server s = *found;
    cancelTask(id);
    store([&](QList<Server>& list) { list.removeIf([&](const Server& e) { return e.id == id; }); });
    statuses.remove(id);
    if (highlight == id)
        highlight.reset();
    writeConfig(std::nullopt);
    Log::write(QStringLiteral("移除服务器 ") + s.name);
    Q_EMIT changed();

    const QString removed = QStringLiteral("已移除 ") + s.name;
    const QString leftover = QStringLiteral("已从列表移除；服务器端没清干净：");
    if (!s.setup.keyInstalled) {
        finish({false, removed, {}, purgeRemote});
        return;
    }
    if (!s.user || s.user->isEmpty()) {
        finish({false, leftover + noUser, {}, purgeRemote});
        return;
    }
    QString failure;
    const QString script = uninstallScript(s, purgeRemote, &failure);
    if (script.isEmpty()) {
        finish({false, leftover + failure, {}, purgeRemote});
        return;
    }
    runScript(s, script, std::nullopt).then(this, [s, purgeRemote, removed, leftover, completion](const ScriptRunner::Run& run) {
        const UninstallOutcome outcome = readUninstall(run, false);
        RemoveResult result;
        result.purge = purgeRemote;
        if (outcome.refused && !s.isDevice()) {
            result.needsPassword = true;
            result.server = s;
        } else if (outcome.result) {
            result.message = removed + QStringLiteral("，") + revokedText(*outcome.result);
        } else {
            result.message = leftover + outcome.failure;
        }
        if (completion)
            completion(result);
    });
}

void ServerRegistry::uninstallWithPassword(const Server& s, const QString& password, bool purge,
    std::function<void(const QString&)> completion)
{
    const QString prefix = QStringLiteral("服务器端没清干净：");
    auto finish = [this, completion](const QString& message) {
        if (completion)
            QMetaObject::invokeMethod(this, [completion, message] { completion(message); }, Qt::QueuedConnection);
    };
    if (!s.user || s.user->isEmpty()) {
        finish(prefix + noUser);
        return;
    }
    QString failure;
    const QString script = uninstallScript(s, purge, &failure);
    if (script.isEmpty()) {
        finish(prefix + failure);
        return;
    }
    runScript(s, script, password).then(this, [s, completion, prefix](const ScriptRunner::Run& run) {
        const UninstallOutcome outcome = readUninstall(run, true);
        const QString message = outcome.result ? revokedText(*outcome.result) : prefix + outcome.failure;
        Log::write(QStringLiteral("用密码清理服务器端 ") + s.name + QStringLiteral("：") + message);
        if (completion)
            completion(message);
    });
}

void ServerRegistry::completeLater(const Completion& completion, const QString& message)
{
    // Like every other outcome, a refusal reaches the caller on a later turn of the event loop.
    if (completion)
        QMetaObject::invokeMethod(this, [completion, message] { completion(message, false); }, Qt::QueuedConnection);
}

std::optional<Server> ServerRegistry::scriptTarget(const QUuid& id, const QString& noUserText, const Completion& completion)
{
    const auto found = server(id);
    if (!found)
        completeLater(completion, gone);
    else if (!found->user || found->user->isEmpty())
        completeLater(completion, noUserText);
    else
        return found;
    return std::nullopt;
}

QFuture<ScriptRunner::Run> ServerRegistry::runScript(const Server& s, const QString& script,
    const std::optional<QString>& password)
{
    const ProcessRunner::CancelToken cancel;
    QFuture<ScriptRunner::Run> work = QtConcurrent::run(ProcessRunner::pool(), [s, script, password, cancel] {
        return ScriptRunner::run(s, *s.user, script, password, scriptTimeout, cancel);
    });
    track(QFuture<void>(work), cancel);
    return work;
}

void ServerRegistry::applyRules(const QUuid& id, const QStringList& wanted, const std::optional<QString>& password,
    Completion completion)
{
    const auto target = scriptTarget(id, QStringLiteral("还没有登录名，无法写规则块"), completion);
    if (!target)
        return;
    QString script;
    try {
        script = RulesScript::render(wanted, RulesScript::shotsDir(*target),
                                     EmbeddedScripts::load(QStringLiteral("rules.sh")));
    } catch (const ScriptError& error) {
        completeLater(completion, error.message);
        return;
    }
    const bool withPassword = password.has_value();
    runScript(*target, script, password).then(this, [this, id, withPassword, completion](const ScriptRunner::Run& run) {
        QString message;
        bool needsPassword = false;
        if (run.refused) {
            message = refusedText(withPassword);
            needsPassword = true;
        } else if (const auto keys = RulesScript::parse(run.result.stdout)) {
            store([&](QList<Server>& list) {
                for (Server& s : list) {
                    if (s.id == id)
                        s.setup.ruleBlocks = *keys;
                }
            });
            message = keys->isEmpty() ? QStringLiteral("规则块已全部卸载")
                                      : QStringLiteral("规则块已写入：") + keys->join(QStringLiteral("、"));
        } else {
            message = QStringLiteral("规则块没写成：") + ScriptRunner::firstLine(run.result);
        }
        if (completion)
            completion(message, needsPassword);
    });
}

void ServerRegistry::revokeKey(const QUuid& id, const std::optional<QString>& password, Completion completion)
{
    const auto target = scriptTarget(id, noUser, completion);
    if (!target)
        return;
    QString failure;
    const QString script = uninstallScript(*target, false, &failure);
    if (script.isEmpty()) {
        completeLater(completion, failure);
        return;
    }
    const bool withPassword = password.has_value();
    runScript(*target, script, password).then(this, [this, id, withPassword, completion](const ScriptRunner::Run& run) {
        const UninstallOutcome outcome = readUninstall(run, withPassword);
        QString message = outcome.failure;
        if (outcome.result) {
            store([&](QList<Server>& list) {
                for (Server& s : list) {
                    if (s.id == id)
                        s.setup.keyInstalled = false;
                }
            });
            message = QStringLiteral("钥匙已吊销，再点「连接」可重新装");
        }
        if (completion)
            completion(message, outcome.refused);
    });
}
