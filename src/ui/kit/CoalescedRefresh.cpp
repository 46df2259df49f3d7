#include "ui/kit/CoalescedRefresh.h"

CoalescedRefresh::CoalescedRefresh(std::function<void()> refresh, QObject* parent)
    : QObject(parent), refresh(std::move(refresh))
{
    timer.setSingleShot(true);
    timer.setInterval(0);
    connect(&timer, &QTimer::timeout, this, [this] { this->refresh(); });
}

void CoalescedRefresh::request()
{
    if (!timer.isActive())
        timer.start();
}

void CoalescedRefresh::flush()
{
    if (!timer.isActive())
        return;
    timer.stop();
    refresh();
}
