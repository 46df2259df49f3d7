#pragma once

#include "platform/NetworkMonitor.h"

// A network that changes when the test says so.
class FakeNetworkMonitor final : public NetworkMonitor {
    Q_OBJECT
public:
    void start() override { running = true; }
    void stop() override { running = false; }
    void report(const QString& key)
    {
        if (running)
            Q_EMIT pathChanged(key);
    }
    bool running = false;
};
