#pragma once

#include "platform/LaunchServices.h"
#include "state/Settings.h"

#include <QThreadPool>
#include <functional>

class Store;

// Applies the user's choices for starting at login and for the keep-alive agent. The login item and the
// agent answer slowly (systemctl can take seconds), so they are changed on a worker of their own, one
// change after another in the order asked; the outcome goes to the log.
class LaunchManager {
public:
    LaunchManager(LoginItem& loginItem, KeepAliveAgent& agent);
    ~LaunchManager();

    KeepAliveAgent& agent() { return keepAlive; }

    // At every start of the release program without a data override. Returns true when it changed the
    // settings (and saved them); the login item and the agent follow later.
    bool syncOnLaunch(Settings& settings, const Store& store, bool launchedByAgent);

    void applyLoginItem(bool enabled);
    void applyAgent(bool enabled);

    // Waits until every change asked for so far is applied.
    void waitForIdle();

private:
    void later(std::function<void()> change);
    void setLoginItem(bool enabled);
    void reregisterAgent();

    LoginItem& login;
    KeepAliveAgent& keepAlive;
    QThreadPool worker;
};
