#include "app/AppState.h"

#include "account/Account.h"
#include "account/Diagnostics.h"
#include "account/MachineInfo.h"
#include "account/QXServer.h"
#include "account/UpdateInstaller.h"
#include "account/Updater.h"
#include "state/AppInfo.h"
#include "platform/DesktopOpener.h"
#include "platform/Flash.h"
#include "app/LaunchManager.h"
#include "capture/ClipboardWatcher.h"
#include "capture/ShotStore.h"
#include "delivery/Accessibility.h"
#include "delivery/HotkeyCenter.h"
#include "delivery/HotkeySpec.h"
#include "delivery/PasteController.h"
#include "delivery/ReceiverClient.h"
#include "delivery/SessionDetector.h"
#include "delivery/Uploader.h"
#include "link/LinkManager.h"
#include "link/UnixSocket.h"
#include "platform/Clipboard.h"
#include "state/Clock.h"
#include "servers/ServerRegistry.h"
#include "servers/ServersPageState.h"
#include "state/Log.h"
#include "state/Paths.h"
#include "state/Sequencer.h"
#include "state/SettingsBox.h"
#include "state/StateStore.h"
#include "state/Store.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QPointer>
#include <QSysInfo>
#include <QUrl>
#include <unistd.h>

namespace {
QString pasteModeText(PasteMode mode)
{
    switch (mode) {
    case PasteMode::type: return QStringLiteral("模拟打字");
    case PasteMode::clipboard: return QStringLiteral("剪贴板 + Ctrl+Shift+V");
    case PasteMode::zeroPermission: return QStringLiteral("零权限");
    }
    return {};
}
} // namespace

AppState::AppState(Store& store, DesktopServices desktop, Intervals intervals, QObject* parent)
    : QObject(parent), store(store), desktop(desktop)
{
    hotkeyCenter = std::make_unique<HotkeyCenter>(desktop.globalHotkeys);
    accountState = std::make_unique<Account>(desktop.wake);
    current = store.loadSettings();
    state = std::make_unique<StateStore>(store);
    serverRegistry = std::make_unique<ServerRegistry>(*state);
    serversPageState = std::make_unique<ServersPageState>(*serverRegistry);
    shotSequencer = std::make_unique<Sequencer>(store);
    // seq.json is written on the state writer, before the state that holds the numbered shot.
    shotSequencer->saveLater = [s = state.get()](std::function<void()> job) { s->beforeNextWrite(std::move(job)); };
    shotStore = std::make_unique<ShotStore>(*state, *shotSequencer, store.path(QStringLiteral("shots")));
    settingsBox = std::make_unique<SettingsBox>();
    settingsBox->set(current);
    // The opener may answer after this state is gone (an xdg-open that ends after tarnel's last window).
    desktop.opener.onFailure = [self = QPointer<AppState>(this)](const QUrl& url, const QString& why) {
        if (self)
            self->reportOpenFailure(url.isLocalFile() ? url.toLocalFile() : url.toString(), why);
    };

    Uploader::Hooks uploaderHooks;
    uploaderHooks.servers = [this] { return serverRegistry->servers(); };
    uploaderHooks.settings = [box = settingsBox.get()] { return box->get(); };
    uploaderHooks.sessions = [configPath = store.path(QStringLiteral("ssh_config"))] {
        return SessionDetector::activeSessions(::getpid(), configPath);
    };
    uploaderHooks.settingUp = [this](const Server& server) { return receiverSettingUp(server); };
    uploaderHooks.unreachable = [this](const Server& server, const QString& why) { serverRegistry->uploadFailed(server.id, why); };
    uploaderHooks.reached = [this](const Server& server) { serverRegistry->uploadReached(server.id); };
    shotUploader = std::make_unique<Uploader>(*shotStore, desktop.flash, uploaderHooks);
    connect(serverRegistry.get(), &ServerRegistry::changed, shotUploader.get(), &Uploader::serversChanged);
    // A shot a crash kept from its record goes out like a new one, once the record is on disk.
    shotStore->onTakenBack = [this](const QStringList& names) {
        state->whenWritten([this, names] {
            if (!capturing) {
                takenBackWaiting += names;
                return;
            }
            for (const QString& name : names)
                shotUploader->upload(name, false);
        });
    };

    pasteController = std::make_unique<PasteController>(*shotStore, desktop.activeWindow, desktop.keyboard, desktop.flash);
    pasteController->settings = [box = settingsBox.get()] { return box->get(); };
    pasteController->servers = [this] { return serverRegistry->servers(); };
    pasteController->remotePath = [](const Server& server, const QString& name) {
        return ReceiverClient::remotePath(server, name);
    };
    pasteController->upload = [this](const QString& name, const Server& server, std::function<void(const Upload&)> done) {
        shotUploader->uploadTo(name, server, std::move(done));
    };
    pasteController->copyText = [this](const QString& text) {
        clipboardWatcher->suppress(0.6);
        this->desktop.clipboard.writeText(text);
    };

    clipboardWatcher = std::make_unique<ClipboardWatcher>(desktop.clipboard, intervals.clipboard);
    clipboardWatcher->onCapture = [this](const ClipboardImage& image, const QString& source) { capture(image, source); };
    clipboardWatcher->onUnreadable = [this](const QString& message) {
        Log::write(QStringLiteral("截图：") + message);
        this->desktop.flash.show({}, message);
    };

    linkManager = std::make_unique<LinkManager>(desktop.sleepInhibitor, desktop.network);
    wireLink();

    accessibility = std::make_unique<Accessibility>(desktop.accessibilityTrust);
    launch = std::make_unique<LaunchManager>(desktop.loginItem, desktop.keepAliveAgent);

    installer = std::make_unique<UpdateInstaller>(launch->agent(), AppInfo::current().bundlePath);
    appUpdater = std::make_unique<Updater>(AppInfo::current(), desktop.wake);
    appUpdater->installTarget = [this] { return installer->target(); };
    appUpdater->launchInstall = [this](const QString& source, const QString& target) {
        return installer->launch(source, target, QCoreApplication::applicationPid());
    };
    // exit(), not quit(): windows that only hide on close would veto quit().
    appUpdater->quit = [] { QCoreApplication::exit(0); };
    accountState->onUpdate = [this](const UpdateInfo& offer) { appUpdater->consider(offer, false); };

    QXServer::setTestChannelOptIn(current.updateChannelTest);
    accountState->usage = [this] {
        return std::pair<int, int>(int(serverRegistry->servers().size()),
                                   shotStore->todayCount(Clock::instance().now()));
    };
    serverRegistry->settings = [box = settingsBox.get()] { return box->get(); };

    diag = std::make_unique<Diagnostics>(store.path(QStringLiteral("logs")));
    diag->tokenProvider = [this]() -> std::optional<QString> {
        if (const auto& record = accountState->record())
            return record->token;
        return std::nullopt;
    };
    diag->enabled = [this] { return current.updateChannelTest && accountState->isUsable(); };
    diag->deviceInfo = [this] {
        const auto& status = linkManager->status();
        return status ? Diagnostics::Device{status->device.name, status->device.alias} : Diagnostics::Device{};
    };
    diag->linkStatusReply = []() -> std::optional<QByteArray> {
        const auto reply = UnixSocket::requestLine(LinkManager::socketPath(), QByteArrayLiteral(R"({"cmd":"status"})"), 3);
        return reply.ok() ? std::optional<QByteArray>(reply.value()) : std::nullopt;
    };
    connect(linkManager.get(), &LinkManager::peersChanged, this, [this] { diag->noteLinks(linkSignature()); });

    hotkeyCenter->onPaste = [this] { pasteController->hotkeyPressed(); };
    hotkeyCenter->onPanel = [this] {
        if (togglePanel)
            togglePanel();
    };

    for (QObject* source :
         std::initializer_list<QObject*>{serverRegistry.get(), serversPageState.get(), shotStore.get(), accountState.get()})
        connect(source, SIGNAL(changed()), this, SIGNAL(changed()));
    // A check-in changes the account's times at least: that alone is no reason to run the gate.
    connect(accountState.get(), &Account::changed, this, [this] {
        if (int(accountState->status()) != gateStatus || accountState->record() != gateRecord)
            applyAccountGate();
    }, Qt::QueuedConnection);

    maintenanceTimer.setInterval(intervals.maintenance);
    connect(&maintenanceTimer, &QTimer::timeout, this, &AppState::maintain);
    accessibilityTimer.setInterval(intervals.accessibility);
    connect(&accessibilityTimer, &QTimer::timeout, this, &AppState::checkAccessibility);
}

AppState::~AppState()
{
    linkManager->shutdown();
    shotStore->finishPending();
    // Everything changed so far reaches the disk while the services its callbacks use still exist.
    state->flush();
    // Quitting does not wait for a server that hangs.
    serverRegistry->cancelAll();
    serverRegistry->waitForTasks();
    // Nor leaves the shared ssh connections it opened running after it.
    ReceiverClient::closeShared(serverRegistry->servers(), 3);
}

void AppState::wireLink()
{
    LinkManager& link = *linkManager;
    link.tokenProvider = [this]() -> std::optional<QString> {
        if (const auto& record = accountState->record())
            return record->token;
        return std::nullopt;
    };
    link.allowInboundProvider = [box = settingsBox.get()] { return box->get().remoteAccess; };
    link.seenDevices = [this] { return state->state().linkSeenDevices; };
    link.saveSeenDevices = [this](const QStringList& ids) { state->update([&](StateFile& f) { f.linkSeenDevices = ids; }); };
    link.wantedProvider = [this] { return state->state().linkWantedTunnels; };
    link.saveWanted = [this](const QStringList& ids) { state->update([&](StateFile& f) { f.linkWantedTunnels = ids; }); };
    link.onNewDevice = [this](const PeerDevice& peer) {
        this->desktop.flash.show({}, QStringLiteral("新设备「%1」加入了你的账号，可以连接这台电脑。不是你？到「设备」页踢出。").arg(peer.plainName()),
                                 Flash::newDeviceMs);
    };
    link.onHelperExit = [this](int) { accountState->ping(false); };
    link.onTunnelOpened = [this](const PeerDevice& peer) {
        for (const Server& server : serverRegistry->servers())
            if (server.deviceID == peer.id)
                return;
        Log::write(QStringLiteral("设备互联：打通后自动把「%1」设为截图接收端").arg(peer.plainName()));
        const Outcome<Server> added =
            serverRegistry->addDevice({peer.id, PeerDevice::plain(peer.name), peer.alias, peer.sshUser});
        if (added.ok())
            syncRefusals.remove(peer.id);
        else
            syncRefusals.insert(peer.id, added.failure().isEmpty() ? QStringLiteral("添加失败") : added.failure());
        Q_EMIT changed();
    };
    link.onDeviceRemoved = [this](const PeerDevice& peer) {
        for (const Server& server : serverRegistry->servers()) {
            if (server.deviceID != peer.id)
                continue;
            Log::write(QStringLiteral("设备互联：踢出「%1」，同时移除它的截图接收端记录").arg(peer.plainName()));
            serverRegistry->remove(server.id, false, [](const Outcome<QString>&) {});
            return;
        }
    };
    serverRegistry->peers = [this] {
        QList<ServerRegistry::Peer> peers;
        for (const PeerDevice& peer : linkManager->peers())
            peers << ServerRegistry::Peer{peer.id, peer.name, peer.alias, peer.sshUser};
        return peers;
    };
    serverRegistry->peerLinkConnected = [this](const QString& id) {
        for (const PeerDevice& peer : linkManager->peers())
            if (peer.id == id)
                return peer.link && peer.link->state == QLatin1String("connected");
        return false;
    };
    connect(&link, &LinkManager::changed, this, &AppState::changed);
    connect(&link, &LinkManager::statusApplied, this, &AppState::pruneDepartedDevices);
    connect(&link, &LinkManager::statusApplied, this, &AppState::followRenamedDevices);
    connect(&link, &LinkManager::statusApplied, serverRegistry.get(), &ServerRegistry::recheckWaitingDevices);
}

void AppState::followRenamedDevices()
{
    QList<ServerRegistry::Peer> peers;
    for (const PeerDevice& peer : linkManager->peers())
        peers << ServerRegistry::Peer{peer.id, PeerDevice::plain(peer.name), peer.alias, peer.sshUser};
    serverRegistry->followDevices(peers);
}

void AppState::pruneDepartedDevices()
{
    // Only a document from a link program that reached the account service lists every device; an empty
    // list is more likely a hiccup than an account without other machines.
    const auto& status = linkManager->status();
    if (!status || !status->site || !status->site->ok || status->peers.isEmpty())
        return;
    QSet<QString> present;
    for (const PeerDevice& peer : status->peers)
        present.insert(peer.id);
    QList<Server> departed;
    for (const Server& server : serverRegistry->servers())
        if (server.deviceID && !present.contains(*server.deviceID))
            departed << server;
    for (const Server& server : departed) {
        Log::write(QStringLiteral("设备互联：「%1」已不在账号里，移除它的截图接收端记录").arg(server.name));
        serverRegistry->remove(server.id, false, [](const Outcome<QString>&) {});
    }
}

QString AppState::linkSignature() const
{
    QStringList parts;
    for (const PeerDevice& peer : linkManager->peers()) {
        const LinkStatus link = peer.link.value_or(LinkStatus{});
        parts << QStringList{peer.id, peer.online ? QStringLiteral("true") : QStringLiteral("false"), link.state,
                             link.path, link.peerPath, QString::number(link.inboundTunnels)}
                     .join(QLatin1Char('|'));
    }
    parts.sort();
    return parts.join(QLatin1Char(';'));
}

void AppState::applyLinkGate(bool usable, const std::optional<QString>& reason)
{
    if (!usable) {
        linkManager->stop(reason.value_or(QStringLiteral("账号门关闭")));
        linkToken.reset();
        if (!accountState->record())
            linkManager->removeToken(); // signed out: no token stays behind
        return;
    }
    const auto& record = accountState->record();
    const std::optional<QString> token = record ? std::optional<QString>(record->token) : std::nullopt;
    if (!linkManager->isStarted()) {
        linkToken = token;
        linkManager->start();
    } else if (token != linkToken) {
        linkToken = token;
        linkManager->writeToken();
    }
}

bool AppState::managesLaunch() const { return AppInfo::current().runsAsBundle() && !Paths::dataOverride(); }

void AppState::start()
{
    if (managesLaunch() && launch->syncOnLaunch(current, store, AppInfo::launchedByAgent())) {
        settingsBox->set(current);
        Q_EMIT changed();
    }
    // Nothing to retire: there was no former product on this platform.
    serverRegistry->recheckAll();
    shotStore->maintainSoon(current, Clock::instance().now(), ShotStore::Round::atStart);
    trusted = accessibility->isTrusted();
    applyAccountGate();
    maintenanceTimer.start();
    if (accessibility->mayChange())
        accessibilityTimer.start();
    accountState->start();
    appUpdater->start();
    Log::write(QStringLiteral("启动：%1 台服务器，今天 %2 张，粘贴方式 %3，辅助功能 %4")
                   .arg(serverRegistry->servers().size())
                   .arg(shotStore->todayCount(Clock::instance().now()))
                   .arg(pasteModeText(current.pasteMode), trusted ? QStringLiteral("已授权") : QStringLiteral("未授权")));
}

void AppState::checkUpdates() { appUpdater->check(true); }

void AppState::setPaused(bool paused)
{
    if (paused == shotStore->paused())
        return;
    shotStore->setPaused(paused);
    clipboardWatcher->setPaused(paused);
    Log::write(paused ? QStringLiteral("截图：已暂停上传，复制的截图不存也不传") : QStringLiteral("截图：继续上传"));
}

void AppState::setSettings(const Settings& settings)
{
    const Settings old = current;
    current = settings;
    Q_EMIT changed();
    store.saveSettings(current);
    settingsBox->set(current);
    applySettingsSideEffects(old);
}

void AppState::setPanelTab(PanelTab newTab)
{
    tab = newTab;
    Q_EMIT changed();
    if (current.lastPanelTab != panelTabName(newTab)) {
        Settings s = current;
        s.lastPanelTab = panelTabName(newTab);
        setSettings(s);
    }
}

std::optional<AppState::PendingRemoval> AppState::pendingRemoval() const
{
    if (removals.isEmpty())
        return std::nullopt;
    return removals.first();
}

void AppState::requestRemovalPassword(const PendingRemoval& pending)
{
    removals.append(pending);
    Q_EMIT changed();
}

std::optional<AppState::PendingRemoval> AppState::takePendingRemoval()
{
    if (removals.isEmpty())
        return std::nullopt;
    const PendingRemoval taken = removals.takeFirst();
    Q_EMIT changed();
    return taken;
}

bool AppState::onboardingConnected() const
{
    for (const Server& server : serverRegistry->servers())
        if (serverRegistry->status(server.id).kind == ServerRegistry::Status::Kind::connected)
            return true;
    return false;
}

void AppState::registerHotkeys()
{
    hotkeyCenter->registerHotkey(HotkeyCenter::Key::paste,
                                 HotkeySpec::parseOr(current.hotkeyPaste, QStringLiteral("⌥⌘3")));
    hotkeyCenter->registerHotkey(HotkeyCenter::Key::panel,
                                 HotkeySpec::parseOr(current.hotkeyPanel, QStringLiteral("⌥⌘4")));
}

void AppState::suspendHotkeys() { hotkeyCenter->uninstallAll(); }

void AppState::restoreHotkeys()
{
    if (capturing && hotkeyCenter->installed())
        registerHotkeys();
}

bool AppState::waylandSession() const { return desktop.accessibilityTrust.isWayland(); }

void AppState::applyAccountGate()
{
    gateStatus = int(accountState->status());
    gateRecord = accountState->record();
    const bool usable = accountState->isUsable();
    const auto reason = accountState->gateReason();
    if (usable && !capturing) {
        clipboardWatcher->start();
        hotkeyCenter->install();
        registerHotkeys();
        capturing = true;
        Log::write(QStringLiteral("账号门打开：开始监听截图"));
        for (const QString& name : std::exchange(takenBackWaiting, {}))
            shotUploader->upload(name, false);
        Q_EMIT changed();
    } else if (!usable && capturing) {
        clipboardWatcher->stop();
        hotkeyCenter->uninstallAll();
        capturing = false;
        Log::write(QStringLiteral("账号门关闭：") + reason.value_or(QStringLiteral("账号门关闭")));
        Q_EMIT changed();
    }
    applyLinkGate(usable, reason);
    diag->reconsider();
}

void AppState::applySettingsSideEffects(const Settings& old)
{
    if (current.hotkeyPaste != old.hotkeyPaste || current.hotkeyPanel != old.hotkeyPanel) {
        if (capturing && hotkeyCenter->installed())
            registerHotkeys();
        Log::write(QStringLiteral("快捷键改为 粘贴 %1 / 面板 %2")
                       .arg(HotkeySpec::parseOr(current.hotkeyPaste, QStringLiteral("⌥⌘3")).desktopText(),
                            HotkeySpec::parseOr(current.hotkeyPanel, QStringLiteral("⌥⌘4")).desktopText()));
    }
    if (current.updateChannelTest != old.updateChannelTest) {
        QXServer::setTestChannelOptIn(current.updateChannelTest);
        Log::write(QStringLiteral("更新渠道：") +
                   (current.updateChannelTest ? QStringLiteral("test（接收测试版；每 10 分钟自动上报运行日志）")
                                              : QStringLiteral("stable")));
        diag->reconsider();
    }
    if (current.remoteAccess != old.remoteAccess)
        linkManager->setAllowInbound(current.remoteAccess);
    if (!managesLaunch())
        return;
    const bool agentChanged = current.keepAliveAgent != old.keepAliveAgent;
    if (agentChanged) {
        Settings s = current;
        if (s.keepAliveAgent)
            s.launchAtLogin = false; // the agent starts tarnel at login itself
        s.keepAliveStamp = QDateTime::fromSecsSinceEpoch(Clock::instance().now().toSecsSinceEpoch(), Qt::UTC);
        launch->applyAgent(s.keepAliveAgent);
        launch->applyLoginItem(s.launchAtLogin);
        current = s;
        store.saveSettings(current);
        settingsBox->set(current);
        Q_EMIT changed();
    } else if (current.launchAtLogin != old.launchAtLogin) {
        launch->applyLoginItem(current.launchAtLogin);
    }
}

bool AppState::hasEnabledServer() const
{
    for (const Server& server : serverRegistry->servers())
        if (Uploader::isActive(server) || (server.enabled && receiverSettingUp(server)))
            return true;
    return false;
}

bool AppState::receiverSettingUp(const Server& server) const
{
    return !server.setup.keyInstalled && serverRegistry->status(server.id).kind == ServerRegistry::Status::Kind::connecting;
}

void AppState::capture(const ClipboardImage& image, const QString& source)
{
    if (!capturing) {
        Log::write(QStringLiteral("截图：还没登录，跳过（%1）").arg(source));
        return;
    }
    shotStore->take(image, current, hasEnabledServer(), Clock::instance().now(), [this](const ShotStore::Result& result) {
        if (result.outcome != ShotStore::Outcome::stored && result.outcome != ShotStore::Outcome::updated) {
            Log::write(result.logText);
            if (!result.flashText.isEmpty())
                desktop.flash.show({}, result.flashText);
            return;
        }
        // A shot is announced and sent only once its record is on disk.
        state->whenWritten([this, result] {
            Log::write(result.logText);
            shotUploader->upload(result.shotName, result.outcome == ShotStore::Outcome::updated);
        });
    });
}

void AppState::clearAll()
{
    const QStringList names = shotStore->removeAll();
    if (current.resetSeqOnClear)
        shotSequencer->reset(Clock::instance().now());
    if (!names.isEmpty())
        shotUploader->remove(names);
    Log::write(QStringLiteral("清空：删了 %1 张").arg(names.size()));
}

void AppState::deleteShot(const QString& name)
{
    if (shotStore->remove(name))
        shotUploader->remove({name});
}

void AppState::copyPath(const QString& text, const QString& name)
{
    clipboardWatcher->suppress(0.6);
    desktop.clipboard.writeText(text);
    desktop.flash.show({}, QStringLiteral("📋 已复制 ") + name, Flash::copyMs);
}

bool AppState::openPath(const QString& path)
{
    if (desktop.opener.open(QUrl::fromLocalFile(path)))
        return true;
    reportOpenFailure(path, QStringLiteral("这台电脑上没有打开它的程序（xdg-open，在 xdg-utils 软件包里）"));
    return false;
}

void AppState::reportOpenFailure(const QString& path, const QString& why)
{
    const QString line = QStringLiteral("打不开「%1」：%2").arg(path, why);
    Log::write(line);
    desktop.flash.show({}, line, Flash::openFailedMs);
}

void AppState::checkAccessibility()
{
    const bool now = accessibility->isTrusted();
    if (now == trusted)
        return;
    trusted = now;
    Log::write(trusted ? QStringLiteral("辅助功能：已授权") : QStringLiteral("辅助功能：未授权"));
    Q_EMIT changed();
}

void AppState::maintain()
{
    shotStore->maintainSoon(current, Clock::instance().now(), ShotStore::Round::hourly);
    shotUploader->purgeRemote();
}

QMap<QString, QString> AppState::environmentSummary() const
{
    const AppInfo& info = AppInfo::current();
    int connected = 0;
    for (const Server& server : serverRegistry->servers())
        if (serverRegistry->status(server.id).kind == ServerRegistry::Status::Kind::connected)
            ++connected;
    return {
        {QStringLiteral("app"), info.version + QStringLiteral(" (") + info.build + QStringLiteral(")")},
        {QStringLiteral("os"), MachineInfo::system()},
        {QStringLiteral("model"), MachineInfo::model()},
        {QStringLiteral("memory"), MachineInfo::memoryText(MachineInfo::memoryBytes())},
        {QStringLiteral("servers"), QStringLiteral("%1 台服务器（%2 台已连）· 今天 %3 张")
                                        .arg(serverRegistry->servers().size())
                                        .arg(connected)
                                        .arg(shotStore->todayCount(Clock::instance().now()))},
        {QStringLiteral("paste"), QStringLiteral("粘贴方式：") + pasteModeText(current.pasteMode)},
        {QStringLiteral("accessibility"), trusted ? QStringLiteral("辅助功能已开") : QStringLiteral("辅助功能未开")},
        {QStringLiteral("devices"), QStringLiteral("设备互联：%1 台其他设备（%2 在线）")
                                            .arg(linkManager->peers().size())
                                            .arg(linkManager->onlineCount()) +
                                        (current.remoteAccess ? QStringLiteral("，这台允许被连接") : QString())},
    };
}
