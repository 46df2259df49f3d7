#pragma once

#include "platform/SleepInhibitor.h"

// A sleep lock that only counts: `held` while taken, `holds` how often it was asked for.
class FakeSleepInhibitor final : public SleepInhibitor {
    Q_OBJECT
public:
    bool onMainsPower() const override { return mains; }
    bool hold(const QString& why) override
    {
        if (refuse)
            return false;
        ++holds;
        held = true;
        reason = why;
        return true;
    }
    void release() override { held = false; }
    // The system drops the lock it gave.
    void drop()
    {
        held = false;
        Q_EMIT lost();
    }

    bool mains = true;
    bool refuse = false;
    bool held = false;
    int holds = 0;
    QString reason;
};
