#pragma once

#include "platform/LaunchServices.h"
#include "state/Settings.h"

class Store;

// Applies the user's choices for starting at login and for the keep-alive agent.
class LaunchManager {
public:
    LaunchManager(LoginItem& loginItem, KeepAliveAgent& agent);

    KeepAliveAgent& agent() { return keepAlive; }

    // At every start of the release program without a data override. Returns true when it changed the
    // settings (and saved them).
    bool syncOnLaunch(Settings& settings, const Store& store, bool launchedByAgent);

    void applyLoginItem(bool enabled);
    void applyAgent(bool enabled);

private:
    LoginItem& login;
    KeepAliveAgent& keepAlive;
};
