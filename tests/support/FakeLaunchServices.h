#pragma once

#include "platform/LaunchServices.h"

#include <QThread>
#include <functional>

// Login item and keep-alive agent that only remember what they were told.
class FakeLoginItem final : public LoginItem {
public:
    bool isEnabled() const override { return enabled; }
    Outcome<> setEnabled(bool on) override
    {
        ++changes;
        enabled = on;
        return Outcome<>::success();
    }
    bool enabled = false;
    int changes = 0;
};

class FakeKeepAliveAgent final : public KeepAliveAgent {
public:
    bool isRegistered() const override { return registered; }
    Outcome<> registerAgent() override
    {
        called();
        ++registrations;
        registered = true;
        return Outcome<>::success();
    }
    Outcome<> unregisterAgent() override
    {
        called();
        ++unregistrations;
        registered = false;
        return Outcome<>::success();
    }
    bool registered = false;
    int registrations = 0;
    int unregistrations = 0;
    QThread* calledOn = nullptr;
    std::function<void()> onCall; // runs inside every (un)registration, e.g. to make it slow

private:
    void called()
    {
        calledOn = QThread::currentThread();
        if (onCall)
            onCall();
    }
};
