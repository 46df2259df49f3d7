#pragma once

#include "platform/SleepInhibitor.h"

// A sleep lock that only counts: `held` while taken, `holds` how often it was asked for. Like logind it
// answers after the call returns: `taken()`, or `lost()` when it refuses later.
class FakeSleepInhibitor final : public SleepInhibitor {
    Q_OBJECT
public:
    bool onMainsPower() const override { return mains; }
    bool hold(const QString& why) override
    {
        if (refuse)
            return false;
        ++holds;
        reason = why;
        held = !refuseLater;
        QMetaObject::invokeMethod(this, refuseLater ? &SleepInhibitor::lost : &SleepInhibitor::taken, Qt::QueuedConnection);
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
    bool refuse = false;      // cannot even be asked
    bool refuseLater = false; // asked, then refused
    bool held = false;
    int holds = 0;
    QString reason;
};
