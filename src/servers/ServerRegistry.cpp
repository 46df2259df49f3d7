#include "servers/ServerRegistry.h"

#include "delivery/SSHConfig.h"
#include "servers/RemoteDir.h"
#include "servers/ServerAddress.h"
#include "servers/SshLookup.h"
#include "state/Clock.h"
#include "state/Log.h"

#include <QtConcurrent/QtConcurrentRun>

ServerRegistry::ServerRegistry(StateStore& store, QObject* parent)
    : QObject(parent), list(store, config), connections(list, config), scripts(list)
{
    connections.peerLinkConnected = [this](const QString& deviceID) {
        return !peerLinkConnected || peerLinkConnected(deviceID);
    };
    devices.peers = [this] { return peers ? peers() : QList<Peer>(); };
    QObject::connect(&list, &ServerList::changed, this, &ServerRegistry::changed);
    QObject::connect(&connections, &Connections::changed, this, &ServerRegistry::changed);
}

ServerRegistry::~ServerRegistry()
{
    cancelAll();
    waitForTasks();
}

void ServerRegistry::cancelAll()
{
    connections.cancelAll();
    scripts.cancelAll();
}

void ServerRegistry::waitForTasks() const
{
    lookups.waitForAll();
    connections.waitForAll();
    scripts.waitForAll();
}

Outcome<ServerRegistry::Added> ServerRegistry::add(const QString& input)
{
    const Outcome<ServerAddress> parsed = ServerAddress::parse(input);
    if (!parsed.ok())
        return Outcome<Added>::failure(parsed.error());
    const ServerAddress& address = parsed.value();
    if (const auto peer = devices.withAlias(address.host)) {
        const Outcome<Server> device = addDevice(*peer);
        if (!device.ok())
            return Outcome<Added>::failure(device.error());
        return Outcome<Added>::success({device.value(), false});
    }
    const int port = address.port.value_or(22);
    for (const Server& s : servers()) {
        if (s.host.compare(address.host, Qt::CaseInsensitive) == 0 && s.port == port) {
            // Another login name for a listed server is an edit of that entry, not something to drop silently.
            if (address.user && s.user && !s.user->isEmpty() && *address.user != *s.user)
                return Outcome<Added>::failure(QStringLiteral("这台服务器已经在列表里（用户 %1）：要换成 %2，在它的 ⋯ →「高级…」里改登录名")
                                                   .arg(*s.user, *address.user));
            connectServer(s.id, address.user ? address.user : s.user);
            return Outcome<Added>::success({s, true});
        }
    }
    Server s;
    s.name = address.host;
    s.host = address.host;
    s.port = port;
    s.user = address.user;
    s.remoteDir = settings ? settings().defaultRemoteDir : s.remoteDir;
    s.addedAt = Clock::instance().now().toUTC();
    list.append(s);
    Log::write(QStringLiteral("添加服务器 ") + address.canonical());
    config.write();
    connectServer(s.id);
    return Outcome<Added>::success({s, false});
}

Outcome<Server> ServerRegistry::addDevice(const Peer& peer)
{
    const Outcome<Server> made = LinkedDevices::record(peer, settings ? settings().deviceRemoteDir : Server().remoteDir);
    if (!made.ok())
        return made;
    for (const Server& s : servers())
        if (s.deviceID == peer.id)
            return Outcome<Server>::success(s);
    list.append(made.value());
    Log::write(QStringLiteral("添加设备为截图接收端：") + peer.displayName());
    config.write();
    connectServer(made.value().id);
    return made;
}

void ServerRegistry::followDevices(const QList<Peer>& peers)
{
    bool aliasMoved = false;
    const QList<Server> all = servers(); // modified below
    for (const Peer& peer : peers) {
        const QString name = peer.displayName();
        if (name.isEmpty())
            continue;
        const bool aliasValid = SSHConfig::isValidDeviceAlias(peer.alias);
        for (const Server& s : all) {
            if (s.deviceID != peer.id)
                continue;
            const bool newAlias = aliasValid && s.deviceAlias != peer.alias;
            if (s.name == name && !newAlias)
                continue;
            list.modify(s.id, [&](Server& t) {
                t.name = name;
                if (newAlias) {
                    if (t.deviceAlias)
                        t.matchKeywords.removeAll(*t.deviceAlias);
                    if (!t.matchKeywords.contains(peer.alias))
                        t.matchKeywords << peer.alias;
                    t.host = peer.alias;
                    t.deviceAlias = peer.alias;
                }
            });
            Log::write(QStringLiteral("设备互联：截图接收端「%1」跟着设备改名为「%2」（%3）").arg(s.name, name, peer.alias));
            aliasMoved = aliasMoved || newAlias;
        }
    }
    if (aliasMoved)
        config.write();
}

void ServerRegistry::connectServer(const QUuid& id, const std::optional<QString>& user, const std::optional<QString>& password)
{
    connections.connectServer(id, user, password);
}

void ServerRegistry::recheckAll()
{
    const QList<Server> all = servers();
    for (const Server& s : all)
        connectServer(s.id, s.user);
}

void ServerRegistry::reinitialize(const QUuid& id)
{
    const auto found = server(id);
    if (!found)
        return;
    list.modify(id, [](Server& s) {
        s.setup.keyInstalled = false;
        s.setup.receiverVersion.reset();
        s.setup.remoteDirAbsolute.reset();
    });
    connectServer(id, found->user);
}

void ServerRegistry::setEnabled(const QUuid& id, bool on)
{
    const auto found = server(id);
    if (!found)
        return;
    list.modify(id, [on](Server& s) { s.enabled = on; });
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
    list.modify(next.id, [&](Server& s) { s = next; });
    config.write();
    connectServer(next.id, next.user);
}

void ServerRegistry::remove(const QUuid& id, bool purgeRemote, Done done)
{
    const auto found = server(id);
    if (!found) {
        QMetaObject::invokeMethod(this, [done] {
            if (done)
                done(Outcome<QString>::failure(QStringLiteral("这台服务器已经不在列表里了")));
        }, Qt::QueuedConnection);
        return;
    }
    const Server s = *found;
    connections.forget(id);
    list.erase(id);
    config.write();
    Log::write(QStringLiteral("移除服务器 ") + s.name);

    const QString removed = QStringLiteral("已移除 ") + s.name;
    if (!s.setup.keyInstalled) {
        QMetaObject::invokeMethod(this, [done, removed] {
            if (done)
                done(Outcome<QString>::success(removed));
        }, Qt::QueuedConnection);
        return;
    }
    // The key line and the receiver stay while another entry still logs in to the same account.
    whenShared(s, [this, s, purgeRemote, done, removed](const std::optional<Server>& sharing) {
        if (sharing) {
            const QString kept = removed + QStringLiteral("，钥匙没吊销：%1 还在用同一个账号").arg(sharing->name);
            Log::write(kept);
            if (done)
                done(Outcome<QString>::success(kept));
            return;
        }
        scripts.uninstall(s, std::nullopt, purgeRemote, [done, removed](const Outcome<QString>& outcome) {
            if (!done)
                return;
            if (outcome.ok())
                done(Outcome<QString>::success(removed + QStringLiteral("，") + outcome.value()));
            else if (outcome.needsPassword())
                done(outcome);
            else
                done(Outcome<QString>::failure(QStringLiteral("已从列表移除；服务器端没清干净：") + outcome.failure()));
        });
    });
}

void ServerRegistry::whenShared(const Server& server, std::function<void(const std::optional<Server>&)> next)
{
    const QList<Server> others = list.otherSetUp(server);
    const ProcessRunner::CancelToken cancel;
    QFuture<std::optional<Server>> work = QtConcurrent::run(ProcessRunner::pool(),
        [server, others] { return SshLookup::sameAccount(server, others); });
    lookups.add(QFuture<void>(work), cancel);
    work.then(this, [next = std::move(next)](const std::optional<Server>& sharing) { next(sharing); });
}

void ServerRegistry::uninstallWithPassword(const Server& s, const QString& password, bool purge, Done done)
{
    scripts.uninstall(s, password, purge, [name = s.name, done](const Outcome<QString>& outcome) {
        Failure why = outcome.error();
        why.message = QStringLiteral("服务器端没清干净：") + why.message;
        const Outcome<QString> answer = outcome.ok() ? outcome : Outcome<QString>::failure(why);
        Log::write(QStringLiteral("用密码清理服务器端 ") + name + QStringLiteral("：")
            + (answer.ok() ? answer.value() : answer.failure()));
        if (done)
            done(answer);
    });
}

void ServerRegistry::applyRules(const QUuid& id, const QStringList& wanted, const std::optional<QString>& password,
    Done done)
{
    scripts.applyRules(id, wanted, password, std::move(done));
}

void ServerRegistry::revokeKey(const QUuid& id, const std::optional<QString>& password, Done done)
{
    const auto found = server(id);
    if (!found)
        return scripts.revokeKey(id, password, std::move(done));
    whenShared(*found, [this, id, password, done](const std::optional<Server>& sharing) {
        if (!sharing)
            return scripts.revokeKey(id, password, done);
        if (done)
            done(Outcome<QString>::failure(QStringLiteral("钥匙没吊销：%1 还在用同一个账号").arg(sharing->name)));
    });
}
