#include "link/SleepGuard.h"

#include "platform/SleepInhibitor.h"
#include "state/Log.h"

SleepGuard::SleepGuard(SleepInhibitor& inhibitor, QObject* parent) : QObject(parent), inhibitor(inhibitor)
{
    // A refused lock is asked for again at the next update.
    connect(&inhibitor, &SleepInhibitor::lost, this, [this] { held = false; });
}

void SleepGuard::update(bool wanted)
{
    if (wanted && inhibitor.onMainsPower()) {
        if (held || !inhibitor.hold(QStringLiteral("tarnel：允许其他设备连接这台电脑")))
            return;
        held = true;
        Log::write(QStringLiteral("不自动睡眠：已开启（接着电源，允许连接开着）"));
    } else if (held) {
        inhibitor.release();
        held = false;
        Log::write(QStringLiteral("不自动睡眠：已释放"));
    }
}
