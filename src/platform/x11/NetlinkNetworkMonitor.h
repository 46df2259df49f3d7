#pragma once

#include "platform/NetworkMonitor.h"

#include <memory>

class QSocketNotifier;

// Network changes from the kernel: an rtnetlink socket subscribed to link and address events. After each
// burst of events the key is computed anew from the interfaces that are up, running and carry an address
// other than loopback or IPv6 link-local. Runs on the thread that owns it; each step takes microseconds.
class NetlinkNetworkMonitor final : public NetworkMonitor {
    Q_OBJECT
public:
    explicit NetlinkNetworkMonitor(QObject* parent = nullptr);
    ~NetlinkNetworkMonitor() override;

    void start() override;
    void stop() override;

    // The key of the network as it is now.
    static QString currentKey();

private:
    void readEvents();

    int fd = -1;
    std::unique_ptr<QSocketNotifier> notifier;
};
