#pragma once

#include "platform/SleepInhibitor.h"

#include <QDBusUnixFileDescriptor>
#include <optional>

// An idle inhibitor lock from logind (Inhibit "idle", mode "block"): logind keeps the lock while we hold
// the file descriptor it hands out. The power source is read from /sys/class/power_supply.
class LogindSleepInhibitor final : public SleepInhibitor {
    Q_OBJECT
public:
    explicit LogindSleepInhibitor(QObject* parent = nullptr);

    bool onMainsPower() const override;
    bool hold(const QString& why) override;
    void release() override;
    bool holding() const { return lock.has_value(); }

    // Mains unless a battery discharges while no other supply is online; an unreadable folder is mains.
    static bool onMainsPower(const QString& powerSupplyRoot);

private:
    void answered(quint64 request, const std::optional<QDBusUnixFileDescriptor>& descriptor);

    std::optional<QDBusUnixFileDescriptor> lock;
    quint64 pending = 0; // the request whose answer is still wanted; 0 when none
    quint64 requests = 0;
};
