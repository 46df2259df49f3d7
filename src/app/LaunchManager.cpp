#include "app/LaunchManager.h"

#include "state/Log.h"
#include "state/Store.h"

LaunchManager::LaunchManager(LoginItem& loginItem, KeepAliveAgent& agent) : login(loginItem), keepAlive(agent)
{
    worker.setMaxThreadCount(1);
}

LaunchManager::~LaunchManager() { waitForIdle(); }

void LaunchManager::waitForIdle() { worker.waitForDone(); }

void LaunchManager::later(std::function<void()> change) { worker.start(std::move(change)); }

bool LaunchManager::syncOnLaunch(Settings& settings, const Store& store, bool launchedByAgent)
{
    bool changed = false;
    if (!settings.launchDecided) {
        // The first start applies the default once; afterwards only the user's changes do.
        applyLoginItem(settings.launchAtLogin && !settings.keepAliveAgent);
        settings.launchDecided = true;
        changed = true;
    }
    if (settings.keepAliveAgent && !launchedByAgent) {
        later([this] { reregisterAgent(); });
        changed = true;
    }
    if (changed)
        store.saveSettings(settings);
    return changed;
}

void LaunchManager::reregisterAgent()
{
    if (keepAlive.isRegistered())
        keepAlive.unregisterAgent();
    if (const Outcome<> registered = keepAlive.registerAgent(); !registered.ok())
        Log::write(QStringLiteral("崩溃后自动重启：注册失败（%1）").arg(registered.failure()));
    Log::write(QStringLiteral("崩溃后自动重启：重新注册，交给 systemd 起的实例"));
}

void LaunchManager::applyLoginItem(bool enabled)
{
    later([this, enabled] { setLoginItem(enabled); });
}

void LaunchManager::setLoginItem(bool enabled)
{
    if (login.isEnabled() == enabled)
        return;
    if (const Outcome<> changed = login.setEnabled(enabled); !changed.ok())
        Log::write(QStringLiteral("登录时启动：%1失败（%2）").arg(enabled ? QStringLiteral("打开") : QStringLiteral("关闭"), changed.failure()));
    else
        Log::write(enabled ? QStringLiteral("登录时启动：已打开") : QStringLiteral("登录时启动：已关闭"));
}

void LaunchManager::applyAgent(bool enabled)
{
    later([this, enabled] {
        const Outcome<> changed = enabled ? keepAlive.registerAgent() : keepAlive.unregisterAgent();
        if (!changed.ok())
            Log::write(QStringLiteral("崩溃后自动重启：%1失败（%2）").arg(enabled ? QStringLiteral("打开") : QStringLiteral("关闭"), changed.failure()));
        else
            Log::write(enabled ? QStringLiteral("崩溃后自动重启：已打开") : QStringLiteral("崩溃后自动重启：已关闭"));
    });
}
