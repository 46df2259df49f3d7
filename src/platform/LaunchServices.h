#pragma once

#include "state/Outcome.h"

#include <QString>

// Starting tarnel when the user logs in.
class LoginItem {
public:
    virtual ~LoginItem() = default;
    virtual bool isEnabled() const = 0;
    virtual Outcome<> setEnabled(bool enabled) = 0;
};

// A service that restarts tarnel after a crash; the process it starts sees TARNEL_LAUNCHD_AGENT=1.
class KeepAliveAgent {
public:
    virtual ~KeepAliveAgent() = default;
    virtual bool isRegistered() const = 0;
    virtual Outcome<> registerAgent() = 0;
    virtual Outcome<> unregisterAgent() = 0;
};
