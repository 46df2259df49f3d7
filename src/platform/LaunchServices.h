#pragma once

#include <QString>
#include <optional>

// Starting tarnel when the user logs in.
class LoginItem {
public:
    virtual ~LoginItem() = default;
    virtual bool isEnabled() const = 0;
    // None on success, else what went wrong.
    virtual std::optional<QString> setEnabled(bool enabled) = 0;
};

// A service that restarts tarnel after a crash; the process it starts sees TARNEL_LAUNCHD_AGENT=1.
class KeepAliveAgent {
public:
    virtual ~KeepAliveAgent() = default;
    virtual bool isRegistered() const = 0;
    virtual std::optional<QString> registerAgent() = 0;
    virtual std::optional<QString> unregisterAgent() = 0;
};
