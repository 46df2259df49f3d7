#pragma once

#include "platform/WakeNotifier.h"

// Wake notices from logind: its PrepareForSleep signal on the system bus carries false when the system
// has resumed. Without a system bus (or without logind) no notice ever comes, which is harmless: the
// periodic check-ins still run.
class LogindWakeNotifier final : public WakeNotifier {
    Q_OBJECT
public:
    explicit LogindWakeNotifier(QObject* parent = nullptr);
    bool listening() const { return subscribed; }

private Q_SLOTS:
    void prepareForSleep(bool starting);

private:
    bool subscribed = false;
};
