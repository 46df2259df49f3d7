#include "app/AppState.h"

#include "account/Account.h"
#include "account/Diagnostics.h"
#include "account/MachineInfo.h"
#include "account/QXServer.h"
#include "account/UpdateInstaller.h"
#include "account/Updater.h"
#include "state/AppInfo.h"
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
#include <QSysInfo>
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

AppState::AppState(Store& store, DesktopServices desktop, QObject* parent)
    : QObject(parent), store(store), desktop(desktop)
{
    hotkeyCenter = std::make_unique<HotkeyCenter>(desktop.globalHotkeys);
    accountState = std::make_unique<Account>(desktop.wake);
    current = store.loadSettings();
    state = std::make_unique<StateStore>(store);
    serverRegistry = std::make_unique<ServerRegistry>(*state);
    serversPageState = std::make_unique<ServersPageState>(*serverRegistry);
    shotSequencer = std::make_unique<Sequencer>(store);
    shotStore = std::make_unique<ShotStore>(*state, *shotSequencer, store.path(QStringLiteral("shots")));
    settingsBox = std::make_unique<SettingsBox>();
    settingsBox->set(current);

    Uploader::Hooks uploaderHooks;
    uploaderHooks.servers = [this] { return serverRegistry->servers(); };
    uploaderHooks.settings = [box = settingsBox.get()] { return box->get(); };
    uploaderHooks.sessions = [configPath = store.path(QStringLiteral("ssh_config"))] {
        return SessionDetector::activeSessions(::getpid(), configPath);
    };
    shotUploader = std::make_unique<Uploader>(*shotStore, desktop.flash, uploaderHooks);

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

    clipboardWatcher = std::make_unique<ClipboardWatcher>(desktop.clipboard);
    clipboardWatcher->onCapture = [this](const QImage& image, const QString& source) { capture(image, source); };
    clipboardWatcher->onUnreadable = [this](const QString& message) {
        Log::write(QStringLiteral("截图：") + message);
        this->desktop.flash.show({}, message);
    };

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
    // No link program in this build yet: no device name and no status to ask for.
    diag->deviceInfo = [] { return Diagnostics::Device{}; };
    diag->linkStatusReply = [] { return std::optional<QByteArray>(); };

    hotkeyCenter->onPaste = [this] { pasteController->hotkeyPressed(); };
    hotkeyCenter->onPanel = [this] {
        if (togglePanel)
            togglePanel();
    };

    for (QObject* source :
         std::initializer_list<QObject*>{serverRegistry.get(), serversPageState.get(), shotStore.get(), accountState.get()})
        connect(source, SIGNAL(changed()), this, SIGNAL(changed()));
    connect(accountState.get(), &Account::changed, this, &AppState::applyAccountGate, Qt::QueuedConnection);

    maintenanceTimer.setInterval(3600 * 1000);
    connect(&maintenanceTimer, &QTimer::timeout, this, &AppState::maintain);
    accessibilityTimer.setInterval(2000);
    connect(&accessibilityTimer, &QTimer::timeout, this, &AppState::checkAccessibility);
}

AppState::~AppState()
{
    // Quitting does not wait for a server that hangs.
    serverRegistry->cancelAll();
    serverRegistry->waitForTasks();
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
    shotStore->purgeLocal(current, Clock::instance().now());
    trusted = accessibility->isTrusted();
    applyAccountGate();
    maintenanceTimer.start();
    accessibilityTimer.start();
    accountState->start();
    appUpdater->start();
    Log::write(QStringLiteral("启动：%1 台服务器，今天 %2 张，粘贴方式 %3，辅助功能 %4")
                   .arg(serverRegistry->servers().size())
                   .arg(shotStore->todayCount(Clock::instance().now()))
                   .arg(pasteModeName(current.pasteMode), trusted ? QStringLiteral("已授权") : QStringLiteral("未授权")));
}

void AppState::checkUpdates() { appUpdater->check(true); }

void AppState::setTimerIntervals(int maintenanceMs, int accessibilityMs)
{
    maintenanceTimer.setInterval(maintenanceMs);
    accessibilityTimer.setInterval(accessibilityMs);
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

void AppState::setPendingRemoval(const std::optional<PendingRemoval>& pending)
{
    removal = pending;
    Q_EMIT changed();
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

void AppState::applyAccountGate()
{
    const bool usable = accountState->isUsable();
    const auto reason = accountState->gateReason();
    if (usable && !capturing) {
        clipboardWatcher->start();
        hotkeyCenter->install();
        registerHotkeys();
        capturing = true;
        Log::write(QStringLiteral("账号门打开：开始监听截图"));
        Q_EMIT changed();
    } else if (!usable && capturing) {
        clipboardWatcher->stop();
        hotkeyCenter->uninstallAll();
        capturing = false;
        Log::write(QStringLiteral("账号门关闭：") + reason.value_or(QStringLiteral("账号门关闭")));
        Q_EMIT changed();
    }
    diag->reconsider();
}

void AppState::applySettingsSideEffects(const Settings& old)
{
    if (current.hotkeyPaste != old.hotkeyPaste || current.hotkeyPanel != old.hotkeyPanel) {
        if (capturing && hotkeyCenter->installed())
            registerHotkeys();
        Log::write(QStringLiteral("快捷键改为 粘贴 %1 / 面板 %2")
                       .arg(HotkeySpec::parseOr(current.hotkeyPaste, QStringLiteral("⌥⌘3")).display,
                            HotkeySpec::parseOr(current.hotkeyPanel, QStringLiteral("⌥⌘4")).display));
    }
    if (current.updateChannelTest != old.updateChannelTest) {
        QXServer::setTestChannelOptIn(current.updateChannelTest);
        Log::write(QStringLiteral("更新渠道：") +
                   (current.updateChannelTest ? QStringLiteral("test（接收测试版；每 10 分钟自动上报运行日志）")
                                              : QStringLiteral("stable")));
        diag->reconsider();
    }
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
        if (Uploader::isActive(server))
            return true;
    return false;
}

void AppState::capture(const QImage& image, const QString& source)
{
    if (!capturing) {
        Log::write(QStringLiteral("截图：还没登录，跳过（%1）").arg(source));
        return;
    }
    const auto result = shotStore->handle(image, current, hasEnabledServer(), Clock::instance().now());
    Log::write(result.logText);
    if (!result.flashText.isEmpty())
        desktop.flash.show({}, result.flashText);
    if (result.outcome == ShotStore::Outcome::stored || result.outcome == ShotStore::Outcome::updated)
        shotUploader->upload(result.shotName, result.outcome == ShotStore::Outcome::updated);
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
    shotStore->purgeLocal(current, Clock::instance().now());
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
        // No device link in this build yet: no peers.
        {QStringLiteral("devices"), QStringLiteral("设备互联：0 台其他设备（0 在线）") +
                                        (current.remoteAccess ? QStringLiteral("，这台允许被连接") : QString())},
    };
}
