#include "delivery/SSHConfig.h"
#include "delivery/SSHKey.h"
#include "state/AtomicFile.h"
#include "support/DesktopUser.h"
#include "support/RegistryRig.h"
#include "support/SecretScan.h"
#include "support/SshServerFixture.h"
#include "support/TempDataDir.h"
#include "support/WaitUntil.h"

#include <QFileInfo>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

namespace {

const QString password = QStringLiteral("s3cret-Pass 一次");
using Kind = ServerRegistry::Status::Kind;

// A server account on a loopback sshd that a desktop user reaches by an alias of its own ssh config. The
// test runs as that user (ssh reads its ~/.ssh) and looks at the server's side as root for a moment.
class AliasedLogin {
public:
    AliasedLogin(const QString& serverUser, const QString& deskUser, const QString& alias, const QString& dataDir)
    {
        sshd.acceptHomeKeys();
        target = sshd.account(serverUser);
        desk = DesktopUser::create(sshd, deskUser);
        if (!target || !desk || sshd.start() ||
            !desk->writeSshConfig(QStringLiteral("Host %1\n  HostName 127.0.0.1\n  Port %2\n  User %3\n"
                                                 "  StrictHostKeyChecking accept-new\n")
                                      .arg(alias)
                                      .arg(sshd.port())
                                      .arg(target->name)) ||
            !desk->own(dataDir))
            return;
        as.emplace(*desk);
    }
    AliasedLogin(const AliasedLogin&) = delete;
    AliasedLogin& operator=(const AliasedLogin&) = delete;

    bool ok() const { return as && as->ok(); }
    template <class Work>
    auto asRoot(Work work)
    {
        as.reset();
        auto result = work();
        as.emplace(*desk);
        return result;
    }
    bool authorizeDesk() { return asRoot([this] { return sshd.authorize(*target, desk->publicLine() + '\n'); }); }
    // A file of the server account's home, "<missing>" when there is none.
    QByteArray serverFile(const QString& path)
    {
        return asRoot([&] {
            return QFileInfo::exists(target->home + path) ? readFile(target->home + path) : QByteArray("<missing>");
        });
    }

    SshServerFixture sshd;
    std::optional<SshServerFixture::Account> target;
    std::optional<DesktopUser> desk;

private:
    std::optional<DesktopUser::AsUser> as;
};

} // namespace

class ServerRegistryTest : public QObject {
    Q_OBJECT
    TempDataDir data;

    // How the attempt ended (connecting: it never did).
    static Kind settledAs(RegistryRig& rig, const QUuid& id)
    {
        return rig.settled(id) ? rig.registry.status(id).kind : Kind::connecting;
    }

private Q_SLOTS:
    void inputErrorsAndUnknownIds()
    {
        RegistryRig rig(data.path());
        ServerRegistry& registry = rig.registry;
        ServersPageState& page = rig.page;
        QVERIFY(!page.addDevice({QStringLiteral("dev-1"), QStringLiteral("Desk"), QStringLiteral("qx-desk"), QString()}));
        QCOMPARE(page.inputError(), QStringLiteral("这台设备的信息还不完整（别名 / 登录名），等它上线后再试"));

        // Operations on an id that is gone still answer, so a waiting sheet never spins forever.
        const QUuid missing = QUuid::createUuid();
        QCOMPARE(rig.rules(missing, {QStringLiteral("claude")}, std::nullopt).message, QStringLiteral("这台服务器已经不在列表里了"));
        QCOMPARE(rig.revoke(missing, std::nullopt).message, QStringLiteral("这台服务器已经不在列表里了"));
        QVERIFY(!rig.remove(missing, true).needsPassword);
        registry.reinitialize(missing); // nothing
        QCOMPARE(registry.servers().size(), 0);
    }

    void highlightSwitchAndEdit()
    {
        QTcpServer closed; // a port nobody listens on: every attempt fails at once
        QVERIFY(closed.listen(QHostAddress::LocalHost));
        const quint16 port = closed.serverPort();
        closed.close();
        const int highlightMs = 300;
        RegistryRig rig(data.path(), highlightMs);
        ServerRegistry& registry = rig.registry;
        ServersPageState& page = rig.page;
        const Store& store = rig.store;
        const auto added = page.add(QStringLiteral("127.0.0.1:%1").arg(port));
        QVERIFY(added && !page.highlighted());
        page.add(QStringLiteral("127.0.0.1:%1").arg(port));
        QCOMPARE(page.highlighted(), added->id);
        QElapsedTimer shown;
        shown.start();

        registry.setEnabled(added->id, false);
        QVERIFY(data.logLines().join('\n').contains(QStringLiteral("同步关：127.0.0.1")));

        // An edit stores the jump host canonically; an unsafe folder keeps the old one and says so.
        Server edited = *registry.server(added->id);
        edited.proxyJump = QStringLiteral(" ops@127.0.0.2:22 ");
        edited.remoteDir = QStringLiteral("~/../etc");
        registry.update(edited);
        QCOMPARE(registry.status(added->id).kind, Kind::connecting);
        rig.state.flush();
        const Server stored = store.loadState().servers.value(0);
        QCOMPARE(stored.proxyJump, QStringLiteral("ops@127.0.0.2"));
        QCOMPARE(stored.remoteDir, QStringLiteral("~/tarnel"));
        QVERIFY(!stored.enabled);
        QVERIFY(data.logLines().join('\n').contains(
            QStringLiteral("远程目录只能是 ~/xxx 这种简单路径，127.0.0.1 保留原来的 ~/tarnel")));
        QVERIFY(readFile(data.file("ssh_config")).contains("-l ops -- 127.0.0.2\n"));

        QTRY_VERIFY(!page.highlighted());
        QVERIFY2(shown.elapsed() >= highlightMs - 20, qPrintable(QString::number(shown.elapsed())));
    }

    void aNewConnectCancelsTheRunningOne()
    {
        // A server that takes connections and never says a word: an attempt waits until it is stopped.
        QTcpServer silent;
        QVERIFY(silent.listen(QHostAddress::LocalHost));
        QList<QTcpSocket*> held;
        QObject::connect(&silent, &QTcpServer::newConnection, [&] {
            while (QTcpSocket* socket = silent.nextPendingConnection())
                held << socket;
        });
        RegistryRig rig(data.path());
        ServerRegistry& registry = rig.registry;
        const auto added = registry.add(QStringLiteral("127.0.0.1:%1").arg(silent.serverPort()));
        QVERIFY(added.ok());
        const QUuid id = added.value().server.id;
        QTRY_COMPARE(held.size(), 1);

        QTest::qWait(5); // a later start time for the second attempt
        registry.connectServer(id, QStringLiteral("second"));
        const ServerRegistry::Status second = registry.status(id);
        QCOMPARE(second.kind, Kind::connecting);
        QList<ServerRegistry::Status> seen {second}; // every status from here on
        QObject::connect(&registry, &ServerRegistry::changed, [&] {
            if (seen.last() != registry.status(id))
                seen << registry.status(id);
        });
        QTRY_COMPARE(held.size(), 2);
        QTRY_COMPARE(held[0]->state(), QAbstractSocket::UnconnectedState); // the first ssh was stopped
        QTest::qWait(300); // its (cancelled) outcome comes back meanwhile
        QCOMPARE(registry.status(id), second);

        held[1]->close();
        QCOMPARE(settledAs(rig, id), Kind::failed);
        QVERIFY2(registry.status(id).message.startsWith(QStringLiteral("连不上 127.0.0.1:")), qPrintable(registry.status(id).message));
        QCOMPARE(seen, (QList<ServerRegistry::Status> {second, registry.status(id)}));
        QCOMPARE(registry.server(id)->user, QStringLiteral("second"));
    }

    // Quitting while a remote script hangs (the server greets, then says nothing more) does not wait for it.
    void quitCancelsAHangingScript()
    {
        QTcpServer hung;
        QVERIFY(hung.listen(QHostAddress::LocalHost));
        QList<QTcpSocket*> held;
        QObject::connect(&hung, &QTcpServer::newConnection, [&] {
            while (QTcpSocket* socket = hung.nextPendingConnection()) {
                socket->write("SSH-2.0-OpenSSH_9.2\r\n");
                held << socket;
            }
        });
        Store store(data.path());
        StateStore state(store);
        Server server;
        server.name = server.host = QStringLiteral("127.0.0.1");
        server.port = hung.serverPort();
        server.user = QStringLiteral("someone");
        state.update([&](StateFile& file) { file.servers = {server}; });
        auto registry = std::make_unique<ServerRegistry>(state);
        registry->applyRules(server.id, {QStringLiteral("claude")}, std::nullopt, {});
        QTRY_COMPARE(held.size(), 1);
        QElapsedTimer quitting;
        quitting.start();
        registry.reset();
        QVERIFY2(quitting.elapsed() < 5000, qPrintable(QString::number(quitting.elapsed())));
        state.update([](StateFile& file) { file.servers.clear(); });
    }

    void linkedMachine()
    {
        if (!SshServerFixture::canCreateAccounts())
            QSKIP("needs accounts of its own (run as root)");
        SshServerFixture sshd;
        const auto account = sshd.account(QStringLiteral("tarnel-devrx"));
        QVERIFY(account);
        // A key made under an earlier machine name: installs keep using it as it is.
        const auto key = SSHKey::ensure(SSHKey::defaultPath(), QStringLiteral("tarnel@earlier-name"));
        QVERIFY(key.ok() && sshd.authorize(*account, key.value() + '\n'));
        QVERIFY(!sshd.start());
        // What the device link writes for the alias, here pointing straight at the test server.
        QVERIFY(AtomicFile::write(data.file("devices_known"), sshd.knownHostsLine().toUtf8() + '\n').ok());
        QVERIFY(AtomicFile::write(data.file("ssh_config_devices"),
            QStringLiteral("Host qx-desk\n  HostName 127.0.0.1\n  Port %1\n  User %2\n  IdentityFile \"%3\"\n"
                           "  IdentitiesOnly yes\n  UserKnownHostsFile \"%4\"\n")
                .arg(sshd.port())
                .arg(account->name, SSHKey::defaultPath(), data.file("devices_known"))
                .toUtf8()).ok());

        RegistryRig rig(data.path());
        ServerRegistry& registry = rig.registry;
        bool linked = true;
        const ServerRegistry::Peer peer {QStringLiteral("dev-1"), QStringLiteral("Desk"), QStringLiteral("qx-desk"), account->name};
        registry.peers = [&] { return QList<ServerRegistry::Peer> {peer}; };
        registry.peerLinkConnected = [&](const QString& deviceID) { return linked && deviceID == peer.id; };

        // Typing the alias of a linked machine adds that machine; there is nothing to probe.
        const auto adopted = registry.add(QStringLiteral("qx-desk"));
        QVERIFY(adopted.ok() && adopted.value().server.isDevice());
        const Server* device = &adopted.value().server;
        QCOMPARE(registry.status(device->id).stage, ConnectFlow::Stage::installing);
        QVERIFY(rig.settled(device->id));
        const Server s = *registry.server(device->id);
        QVERIFY2(s.setup.keyInstalled, qPrintable(registry.status(device->id).message));
        QCOMPARE(s.setup.remoteDirAbsolute, account->home + QStringLiteral("/tarnel"));
        QCOMPARE(s.setup.receiverVersion, ConnectFlow::bundledReceiverVersion());
        QCOMPARE(s.user, account->name);
        QVERIFY(QFileInfo(account->home + QStringLiteral("/tarnel/bin/tarnel-receiver")).isExecutable());
        QVERIFY(!QFileInfo::exists(account->home + QStringLiteral("/.ssh/authorized_keys"))); // its ~/.ssh stays
        // Without tarnel-net beside this program the daily channel cannot reach a device, and says so.
        QCOMPARE(registry.status(device->id).message, QStringLiteral("连接设置不能用：找不到 tarnel-net，连不了设备"));
        QCOMPARE(registry.addDevice(peer).value().id, device->id);
        QCOMPARE(registry.servers().size(), 1);

        // While the link to it is down the device is neither connecting nor failed.
        linked = false;
        registry.connectServer(device->id);
        QCOMPARE(registry.status(device->id), ServerRegistry::Status());
        registry.recheckAll();
        QCOMPARE(registry.status(device->id), ServerRegistry::Status());
        // A shot that reached it shows it ready; and once the link is up it is checked by itself.
        registry.uploadReached(device->id);
        QCOMPARE(registry.status(device->id).kind, ServerRegistry::Status::Kind::connected);
        registry.connectServer(device->id);
        registry.recheckWaitingDevices();
        QCOMPARE(registry.status(device->id), ServerRegistry::Status());
        linked = true;
        registry.recheckWaitingDevices();
        QCOMPARE(registry.status(device->id).kind, ServerRegistry::Status::Kind::connecting);
        QVERIFY(rig.settled(device->id));
        linked = false;

        // The machine was renamed (name and alias): its destination follows.
        registry.followDevices({{peer.id, QStringLiteral("书房"), QStringLiteral("qx-study"), account->name}});
        const Server renamed = *registry.server(device->id);
        QCOMPARE(renamed.name, QStringLiteral("书房"));
        QCOMPARE(renamed.deviceAlias, QStringLiteral("qx-study"));
        QCOMPARE(renamed.host, QStringLiteral("qx-study"));
        QVERIFY(renamed.matchKeywords.contains(QStringLiteral("qx-study")) && !renamed.matchKeywords.contains(QStringLiteral("qx-desk")));
        // A machine without a name goes by its alias, as when it was adopted.
        registry.followDevices({{peer.id, QString(), QStringLiteral("qx-study"), account->name}});
        QCOMPARE(registry.server(device->id)->name, QStringLiteral("qx-study"));
    }

    void passwordLoginRulesRevokeAndRemoval()
    {
        if (!SshServerFixture::canCreateAccounts())
            QSKIP("needs accounts of its own (run as root)");
        SshServerFixture sshd;
        sshd.acceptHomeKeys();
        const auto account = sshd.account(QStringLiteral("tarnel-pwsrv"));
        QVERIFY(account);
        QVERIFY(sshd.setPassword(*account, password));
        QVERIFY(!sshd.start());

        // A key made under an earlier machine name: the install takes it as it is.
        const auto key = SSHKey::ensure(SSHKey::defaultPath(), QStringLiteral("tarnel@earlier-name"));
        QVERIFY(key.ok());

        RegistryRig rig(data.path());
        ServerRegistry& registry = rig.registry;
        ServersPageState& page = rig.page;
        const QString address = QStringLiteral("%1@127.0.0.1:%2").arg(account->name).arg(sshd.port());
        const auto added = page.add(address);
        QVERIFY(added);
        QCOMPARE(registry.status(added->id).kind, Kind::connecting);
        QCOMPARE(registry.status(added->id).stage, ConnectFlow::Stage::probing);
        QVERIFY(rig.settled(added->id));
        // No key of ours reaches the account: ask for a password.
        QCOMPARE(registry.status(added->id).kind, Kind::failed);
        QVERIFY(registry.status(added->id).needsLoginName && registry.status(added->id).needsPassword);
        QCOMPARE(registry.status(added->id).message, QStringLiteral("没找到能免密登录的用户名：填上用户名（和密码）再连"));
        QVERIFY(registry.server(added->id)->setup.lastProbe);
        QVERIFY(!registry.server(added->id)->setup.lastProbe->ok);
        // Only the name the address gives was tried: no guessed names in the server's log.
        QVERIFY2(!sshd.log().contains(QLatin1String("Invalid user")), qPrintable(sshd.log()));
        QVERIFY(!sshd.log().contains(QLatin1String("user root ")));

        registry.connectServer(added->id, account->name, QStringLiteral("wrong"));
        QCOMPARE(registry.status(added->id).stage, ConnectFlow::Stage::installing);
        QVERIFY(rig.settled(added->id));
        QCOMPARE(registry.status(added->id).message, QStringLiteral("密码不对（或这台不允许密码登录），再输一次"));
        QVERIFY(registry.status(added->id).needsPassword);

        // The right password, watched: it shows up in no process and no file while the login runs.
        registry.connectServer(added->id, account->name, password);
        QStringList leaks;
        waitUntil([&] {
            leaks << processesHolding(password.toUtf8()) << filesHolding(data.path(), password.toUtf8())
                  << filesHolding(account->home, password.toUtf8());
            return registry.status(added->id).kind != Kind::connecting;
        }, Limit::ssh);
        leaks << filesHolding(data.path(), password.toUtf8());
        QCOMPARE(leaks, QStringList());
        const ServerRegistry::Status connected = registry.status(added->id);
        QVERIFY2(connected.kind == Kind::connected, qPrintable(connected.message + sshd.log().right(2000)));
        QCOMPARE(connected.user, account->name);
        Server server = *registry.server(added->id);
        QVERIFY(server.setup.keyInstalled);
        QCOMPARE(server.setup.remoteDirAbsolute, account->home + QStringLiteral("/tarnel"));
        QVERIFY(server.setup.lastPing);
        QVERIFY(server.matchKeywords.contains(account->name + QLatin1Char('@')));
        QVERIFY(readFile(data.file("ssh_config")).contains("Host tarnel-"));
        QCOMPARE(fileMode(data.file("known_hosts")), 0600);
        const QString keys = QString::fromUtf8(readFile(account->home + "/.ssh/authorized_keys"));
        QVERIFY(keys.contains("restrict,command=\"" + account->home + "/tarnel/bin/tarnel-receiver\" " + key.value() + "\n"));

        // Adding the same host again highlights and reconnects the entry by our installed key: no probe, no
        // password. So does reconnecting everything (as at every start).
        const QDateTime probedAt = server.setup.lastProbe->at;
        const auto again = page.add(QStringLiteral("127.0.0.1:%1").arg(sshd.port()));
        QCOMPARE(again->id, added->id);
        QCOMPARE(page.highlighted(), added->id);
        QCOMPARE(registry.servers().size(), 1);
        QCOMPARE(settledAs(rig, added->id), Kind::connected);
        QCOMPARE(registry.status(added->id).user, account->name);
        registry.recheckAll();
        QVERIFY2(settledAs(rig, added->id) == Kind::connected, qPrintable(registry.status(added->id).message));
        QCOMPARE(registry.server(added->id)->setup.lastProbe->at, probedAt);
        // The host's own name, learnt by the install, is still shown beside the address.
        QVERIFY(connected.hostname && !connected.hostname->isEmpty());
        QCOMPARE(registry.status(added->id).hostname, connected.hostname);

        // Another login name for the listed host:port is not dropped silently: the box says so and keeps it.
        QVERIFY(!page.add(QStringLiteral("baduser@127.0.0.1:%1").arg(sshd.port())));
        QCOMPARE(page.inputError(), QStringLiteral("这台服务器已经在列表里（用户 %1）：要换成 baduser，在它的 ⋯ →「高级…」里改登录名")
                                         .arg(account->name));
        QCOMPARE(registry.status(added->id).kind, Kind::connected);
        QCOMPARE(registry.server(added->id)->user, account->name);

        // Rule blocks need the login: by key it is refused, with the password it works.
        RegistryRig::Answer answer = rig.rules(added->id, {QStringLiteral("codex"), QStringLiteral("claude")}, std::nullopt);
        QVERIFY(answer.needsPassword);
        QVERIFY(!answer.message.contains(QLatin1String("NEEDS_PASSWORD")));
        answer = rig.rules(added->id, {QStringLiteral("codex"), QStringLiteral("claude")}, password);
        QCOMPARE(answer.message, QStringLiteral("规则块已写入：claude、codex"));
        QCOMPARE(registry.server(added->id)->setup.ruleBlocks, (QStringList {"claude", "codex"}));
        QVERIFY(readFile(account->home + "/.claude/CLAUDE.md").contains("`shotN: ~/tarnel/shots/xxxx.png`"));
        answer = rig.rules(added->id, {}, password);
        QCOMPARE(answer.message, QStringLiteral("规则块已全部卸载"));
        QVERIFY(!readFile(account->home + "/.codex/AGENTS.md").contains("tarnel"));

        // Revoking needs the login too: the key line goes, the folder stays. A password connect puts it back.
        QVERIFY(rig.revoke(added->id, std::nullopt).needsPassword);
        QCOMPARE(rig.revoke(added->id, password).message, QStringLiteral("钥匙已吊销，再点「连接」可重新装"));
        QVERIFY(!registry.server(added->id)->setup.keyInstalled);
        QVERIFY(!readFile(account->home + "/.ssh/authorized_keys").contains("restrict"));
        QVERIFY(QFileInfo::exists(account->home + "/tarnel/shots"));
        registry.connectServer(added->id, account->name, password);
        QCOMPARE(settledAs(rig, added->id), Kind::connected);

        // Our key line gone behind our back: the receiver refuses it, the probe runs and asks for the password.
        QVERIFY(sshd.writeFile(*account, account->home + "/.ssh/authorized_keys", QByteArray(), 0600));
        sshd.stop(); // and the shared connection the daily channel keeps with it
        QVERIFY(!sshd.start());
        registry.recheckAll();
        QCOMPARE(settledAs(rig, added->id), Kind::failed);
        QCOMPARE(registry.status(added->id).message, QStringLiteral("没找到能免密登录的用户名：填上用户名（和密码）再连"));
        QVERIFY(registry.status(added->id).needsPassword);
        QVERIFY(!registry.server(added->id)->setup.keyInstalled);
        QVERIFY(registry.server(added->id)->setup.lastProbe->at > probedAt);
        registry.connectServer(added->id, account->name, password);
        QCOMPARE(settledAs(rig, added->id), Kind::connected);

        // Removal: the key login is refused, so the removal waits for the password, then cleans up.
        const Server removedServer = *registry.server(added->id);
        Caught<Outcome<QString>> removed;
        registry.remove(added->id, true, removed.callback());
        QCOMPARE(registry.servers().size(), 0);
        QVERIFY(!page.highlighted());
        QVERIFY(removed.wait(Limit::ssh) && removed.wait()->needsPassword());
        QCOMPARE(rig.uninstallWithPassword(removedServer, password, true).message,
                 QStringLiteral("已吊销 1 行钥匙，服务器上的目录已清掉"));
        QVERIFY(!QFileInfo::exists(account->home + "/tarnel"));
        QVERIFY(QFileInfo(account->home).isDir());
        QVERIFY(!readFile(account->home + "/.ssh/authorized_keys").contains("restrict"));
        QCOMPARE(filesHolding(data.path(), password.toUtf8()), QStringList());
    }

    void keyLoginThroughTheUsersOwnSetup()
    {
        if (!SshServerFixture::canCreateAccounts())
            QSKIP("needs accounts of its own (run as root)");
        // The user reaches the server by an alias of their own ssh config.
        AliasedLogin login(QStringLiteral("tarnel-keysrv"), QStringLiteral("tarnel-desk"), QStringLiteral("myserver"), data.path());
        QVERIFY(login.ok() && login.authorizeDesk());
        const auto& target = login.target;
        const auto serverFile = [&](const QString& path) { return login.serverFile(path); };
        SshServerFixture& sshd = login.sshd;

        RegistryRig rig(data.path());
        ServerRegistry& registry = rig.registry;
        ServersPageState& page = rig.page;
        const auto added = page.add(QStringLiteral("myserver"));
        QVERIFY(added);
        QVERIFY(rig.settled(added->id));
        ServerRegistry::Status status = registry.status(added->id);
        QVERIFY2(status.kind == Kind::connected, qPrintable(status.message));
        QCOMPARE(status.user, target->name);
        QVERIFY(status.hostname && !status.hostname->isEmpty());
        Server server = *registry.server(added->id);
        QCOMPARE(server.host, QStringLiteral("127.0.0.1"));
        QCOMPARE(server.port, int(sshd.port()));
        QCOMPARE(server.name, QStringLiteral("myserver"));
        QVERIFY(server.matchKeywords.contains(QStringLiteral("myserver")));
        QVERIFY(server.setup.lastProbe && server.setup.lastProbe->ok);

        // A receiver of an earlier version is put in anew at the next check, by the same key login.
        Server older = *registry.server(added->id);
        older.setup.receiverVersion = ConnectFlow::bundledReceiverVersion() - 1;
        registry.update(older);
        QCOMPARE(settledAs(rig, added->id), Kind::connected);
        QCOMPARE(registry.server(added->id)->setup.receiverVersion, ConnectFlow::bundledReceiverVersion());

        // Reinitialising installs anew; the key line is replaced, not doubled.
        registry.reinitialize(added->id);
        QCOMPARE(settledAs(rig, added->id), Kind::connected);
        QCOMPARE(QString::fromUtf8(serverFile("/.ssh/authorized_keys")).count("restrict,"), 1);

        // A new remote folder gets its own install instead of staying with the old one.
        Server moved = *registry.server(added->id);
        moved.remoteDir = QStringLiteral("~/pics");
        registry.update(moved);
        QCOMPARE(settledAs(rig, added->id), Kind::connected);
        QCOMPARE(registry.server(added->id)->setup.remoteDirAbsolute.value_or(QString()), target->home + QStringLiteral("/pics"));
        QVERIFY(serverFile("/pics/bin/tarnel-receiver") != "<missing>");
        QCOMPARE(QString::fromUtf8(serverFile("/.ssh/authorized_keys")).count("restrict,"), 1);

        // Removal by the user's own key login, without purge: the key line goes, the folder stays.
        QCOMPARE(rig.remove(added->id, false).message, QStringLiteral("已移除 myserver，已吊销 1 行钥匙"));
        QCOMPARE(serverFile("/tarnel/.tarnel"), QByteArray());
        QVERIFY(!serverFile("/.ssh/authorized_keys").contains("restrict"));

        // Added again and removed with purge: only tarnel's files go, the home stays.
        const auto second = page.add(QStringLiteral("myserver"));
        QCOMPARE(settledAs(rig, second->id), Kind::connected);
        QCOMPARE(rig.remove(second->id, true).message, QStringLiteral("已移除 myserver，已吊销 1 行钥匙，服务器上的目录已清掉"));
        QCOMPARE(serverFile("/tarnel"), QByteArray("<missing>"));
        QVERIFY(serverFile("/.ssh/authorized_keys") != "<missing>");
    }

    // The user's own ssh setup names the login: it is the only name tried. An alias of a listed account is
    // the same account: refused, and the removal of either entry leaves the key line the other uses.
    // Uploads that find the host out of reach show in the status until one gets through or a connect does.
    void oneLoginOneAccountOneEntry()
    {
        if (!SshServerFixture::canCreateAccounts())
            QSKIP("needs accounts of its own (run as root)");
        AliasedLogin login(QStringLiteral("tarnel-onesrv"), QStringLiteral("tarnel-onedesk"), QStringLiteral("mybox"), data.path());
        QVERIFY(login.ok());
        const auto& target = login.target;
        SshServerFixture& sshd = login.sshd;
        auto keyLines = [&] { return QString::fromUtf8(login.serverFile(QStringLiteral("/.ssh/authorized_keys"))).count("restrict,"); };

        RegistryRig rig(data.path());
        ServerRegistry& registry = rig.registry;
        // The user's key is not on the server yet: only the configured name knocks, once.
        const auto alias = rig.page.add(QStringLiteral("mybox"));
        QCOMPARE(settledAs(rig, alias->id), Kind::failed);
        QCOMPARE(registry.status(alias->id).message, QStringLiteral("没找到能免密登录的用户名：填上用户名（和密码）再连"));
        const QString log = login.asRoot([&] { return sshd.log(); });
        QVERIFY(log.contains(QStringLiteral("authenticating user %1 ").arg(target->name)));
        QCOMPARE(log.count(QStringLiteral("authenticating user ")), log.count(QStringLiteral("authenticating user %1 ").arg(target->name)));
        QVERIFY2(!log.contains(QLatin1String("Invalid user")) && !log.contains(QLatin1String("user root ")), qPrintable(log));
        QVERIFY(rig.remove(alias->id, false).message.startsWith(QStringLiteral("已移除 mybox")));

        // Set up by its address first; the alias then resolves to the same account and is refused.
        QVERIFY(login.authorizeDesk());
        const auto address = rig.page.add(QStringLiteral("%1@127.0.0.1:%2").arg(target->name).arg(sshd.port()));
        QVERIFY2(settledAs(rig, address->id) == Kind::connected, qPrintable(registry.status(address->id).message));
        const auto again = rig.page.add(QStringLiteral("mybox"));
        QVERIFY(again && again->id != address->id);
        QCOMPARE(settledAs(rig, again->id), Kind::failed);
        QCOMPARE(registry.status(again->id).message,
                 QStringLiteral("这台服务器已经在列表里（127.0.0.1，用户 %1）：同一个账号不用再加，把这条移除就好").arg(target->name));
        QVERIFY(!registry.server(again->id)->setup.keyInstalled);
        QCOMPARE(keyLines(), 1);

        // Both set up (as an earlier version left them): removing either keeps the key line the other uses.
        const SetupState setUp = registry.server(address->id)->setup;
        rig.state.update([&](StateFile& f) {
            for (Server& entry : f.servers)
                if (entry.id == again->id)
                    entry.setup = setUp;
        });
        QCOMPARE(rig.revoke(address->id, std::nullopt).message, QStringLiteral("钥匙没吊销：mybox 还在用同一个账号"));
        QCOMPARE(rig.remove(address->id, true).message,
                 QStringLiteral("已移除 127.0.0.1，钥匙没吊销：mybox 还在用同一个账号"));
        QCOMPARE(keyLines(), 1);
        registry.connectServer(again->id);
        QVERIFY2(settledAs(rig, again->id) == Kind::connected, qPrintable(registry.status(again->id).message));

        // Uploads report the host out of reach: the status says so until an upload or a connect gets through.
        const QString refused = QStringLiteral("连不上：ssh: connect to host 127.0.0.1 port %1: Connection refused").arg(sshd.port());
        registry.uploadFailed(again->id, refused);
        QCOMPARE(registry.status(again->id).kind, Kind::failed);
        QCOMPARE(registry.status(again->id).message, refused);
        registry.uploadReached(again->id);
        QCOMPARE(registry.status(again->id).kind, Kind::connected);
        QCOMPARE(registry.status(again->id).user, target->name);
        registry.uploadFailed(again->id, refused);
        registry.recheckAll();
        QCOMPARE(settledAs(rig, again->id), Kind::connected);
        registry.uploadReached(again->id); // a late success changes nothing
        QCOMPARE(registry.status(again->id).kind, Kind::connected);

        // A check that failed, then an upload that fails for another reason: the status gives the newest.
        QVERIFY(login.asRoot([&] {
            return sshd.writeFile(*target, target->home + QStringLiteral("/tarnel/bin/tarnel-receiver"), "#!/bin/sh\necho 'err broken'\n", 0755);
        }));
        registry.connectServer(again->id);
        QCOMPARE(settledAs(rig, again->id), Kind::failed);
        QCOMPARE(registry.status(again->id).message, QStringLiteral("接收器报错：broken"));
        const QString refusedKey = QStringLiteral("钥匙被拒：点「重新连接」重新装接收器");
        registry.uploadFailed(again->id, refusedKey);
        QCOMPARE(registry.status(again->id).message, refusedKey);
    }

    // One sshd reached as 127.0.0.1 and as localhost is one account: the second entry is refused, and its
    // removal leaves the key line and the receiver the first one uses.
    void oneMachineUnderTwoNames()
    {
        if (!SshServerFixture::canCreateAccounts())
            QSKIP("needs accounts of its own (run as root)");
        SshServerFixture sshd;
        sshd.acceptHomeKeys();
        const auto account = sshd.account(QStringLiteral("tarnel-twonames"));
        QVERIFY(account && sshd.setPassword(*account, password) && !sshd.start());
        const auto keyLines = [&] { return QString::fromUtf8(readFile(account->home + "/.ssh/authorized_keys")).count("restrict,"); };

        RegistryRig rig(data.path());
        ServerRegistry& registry = rig.registry;
        const auto first = rig.page.add(QStringLiteral("%1@127.0.0.1:%2").arg(account->name).arg(sshd.port()));
        QVERIFY(rig.settled(first->id));
        registry.connectServer(first->id, account->name, password);
        QVERIFY2(settledAs(rig, first->id) == Kind::connected, qPrintable(registry.status(first->id).message));
        const auto second = rig.page.add(QStringLiteral("%1@localhost:%2").arg(account->name).arg(sshd.port()));
        QVERIFY(second && second->id != first->id && rig.settled(second->id));
        registry.connectServer(second->id, account->name, password);
        QCOMPARE(settledAs(rig, second->id), Kind::failed);
        QCOMPARE(registry.status(second->id).message,
                 QStringLiteral("这台服务器已经在列表里（127.0.0.1，用户 %1）：同一个账号不用再加，把这条移除就好").arg(account->name));
        QVERIFY(!registry.server(second->id)->setup.keyInstalled);

        // Both set up, as an earlier version left them: removing the second keeps what the first uses.
        rig.state.update([&](StateFile& f) { f.servers.last().setup = f.servers.first().setup; });
        QCOMPARE(rig.revoke(second->id, password).message, QStringLiteral("钥匙没吊销：127.0.0.1 还在用同一个账号"));
        QCOMPARE(rig.remove(second->id, true).message, QStringLiteral("已移除 localhost，钥匙没吊销：127.0.0.1 还在用同一个账号"));
        registry.waitForTasks();
        QCOMPARE(keyLines(), 1);
        QVERIFY(QFileInfo::exists(account->home + "/tarnel/bin/tarnel-receiver"));
        registry.connectServer(first->id);
        QVERIFY2(settledAs(rig, first->id) == Kind::connected, qPrintable(registry.status(first->id).message));
    }

    // A server named by an alias of the user's ssh config beside one typed by address: every start
    // connects both, many starts in a row.
    void everyStartConnectsAnAliasAndItsNeighbour()
    {
        if (!SshServerFixture::canCreateAccounts())
            QSKIP("needs accounts of its own (run as root)");
        SshServerFixture neighbour; // stopped as root, after the login is back to root
        AliasedLogin login(QStringLiteral("tarnel-boxsrv"), QStringLiteral("tarnel-boxdesk"), QStringLiteral("build-box7"), data.path());
        QVERIFY(login.ok() && login.authorizeDesk());
        const auto other = login.asRoot([&] {
            neighbour.acceptHomeKeys();
            auto made = neighbour.account(QStringLiteral("tarnel-nbsrv"));
            return made && neighbour.authorize(*made, login.desk->publicLine() + '\n') && !neighbour.start() ? made : std::nullopt;
        });
        QVERIFY(other);
        QList<QUuid> ids;
        {
            RegistryRig rig(data.path());
            for (const QString& typed : {QStringLiteral("build-box7"), QStringLiteral("%1@127.0.0.1:%2").arg(other->name).arg(neighbour.port())}) {
                const auto added = rig.page.add(typed);
                QVERIFY2(settledAs(rig, added->id) == Kind::connected, qPrintable(rig.registry.status(added->id).message));
                ids << added->id;
            }
        }
        // The alias as typed, and a receiver to update, so each start resolves it while the other connects.
        const auto asTyped = [&](StateFile& f) {
            for (Server& s : f.servers) {
                s.setup.receiverVersion = ConnectFlow::bundledReceiverVersion() - 1;
                if (s.id == ids.first())
                    s.host = QStringLiteral("build-box7");
            }
        };
        {
            // An attempt's entry stands in ssh_config until it is over, whoever writes next.
            StateFile saved = Store(data.path()).loadState();
            Server resolved = saved.servers.first();
            asTyped(saved);
            SshConfigSync sync;
            sync.follow(saved.servers);
            QVERIFY(sync.write(resolved).ok() && sync.write(saved.servers.last()).ok());
            QVERIFY(readFile(SSHConfig::path()).contains(
                QStringLiteral("Host %1\n  HostName 127.0.0.1\n").arg(SSHConfig::alias(resolved)).toUtf8()));
        }
        for (int start = 0; start < 12; ++start) {
            Store store(data.path());
            StateStore state(store);
            state.update(asTyped);
            ServerRegistry registry(state);
            registry.recheckAll();
            for (const QUuid& id : ids) {
                QVERIFY(waitUntil([&] { return registry.status(id).kind != Kind::connecting; }, Limit::ssh));
                QVERIFY2(registry.status(id).kind == Kind::connected,
                         qPrintable(QStringLiteral("start %1: %2").arg(start).arg(registry.status(id).message)));
            }
        }
        // The connection masters go before the accounts do.
        QVERIFY(login.asRoot([&] {
            neighbour.stop();
            return login.desk->stopEverything();
        }));
    }
};

QTEST_GUILESS_MAIN(ServerRegistryTest)
#include "ServerRegistryTest.moc"
