#include "link/SleepGuard.h"

#include "platform/SleepInhibitor.h"
#include "state/Log.h"

SleepGuard::SleepGuard(SleepInhibitor& inhibitor, QObject* parent) : QObject(parent), inhibitor(inhibitor)
{
    connect(&inhibitor, &SleepInhibitor::taken, this, [this] {
        if (!asking)
            return;
        asking = false;
        held = true;
        Log::write(QStringLiteral("不自动睡眠：已开启（接着电源，允许连接开着）"));
    });
    // A refused or dropped lock is asked for again at the next update, without a word.
    connect(&inhibitor, &SleepInhibitor::lost, this, [this] { asking = held = false; });
}

void SleepGuard::update(bool wanted)
{
    if (wanted && inhibitor.onMainsPower()) {
        if (held || asking)
            return;
        asking = true; // before asking: an answer may come inside the call
        if (!inhibitor.hold(QStringLiteral("tarnel：允许其他设备连接这台电脑")))
            asking = false;
    } else if (held) {
        inhibitor.release();
        held = false;
        Log::write(QStringLiteral("不自动睡眠：已释放"));
    } else if (asking) {
        inhibitor.release(); // the answer still on its way is let go
        asking = false;
    }
}
