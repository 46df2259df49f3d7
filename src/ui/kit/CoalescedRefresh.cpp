#include "ui/kit/CoalescedRefresh.h"

#include <QEvent>
#include <QWidget>

CoalescedRefresh::CoalescedRefresh(std::function<void()> refresh, QObject* parent)
    : QObject(parent), refresh(std::move(refresh))
{
    timer.setSingleShot(true);
    timer.setInterval(0);
    connect(&timer, &QTimer::timeout, this, [this] {
        if (shownView && !shownView->isVisible()) {
            stale = true;
            return;
        }
        this->refresh();
    });
}

void CoalescedRefresh::onlyWhileShown(QWidget* view)
{
    shownView = view;
    view->installEventFilter(this);
}

void CoalescedRefresh::request()
{
    if (shownView && !shownView->isVisible()) {
        stale = true;
        return;
    }
    if (!timer.isActive())
        timer.start();
}

void CoalescedRefresh::flush()
{
    if (!pending())
        return;
    timer.stop();
    stale = false;
    refresh();
}

bool CoalescedRefresh::eventFilter(QObject* watched, QEvent* event)
{
    // Before the first paint, so the window never shows old texts.
    if (watched == shownView && event->type() == QEvent::Show && stale) {
        stale = false;
        refresh();
    }
    return QObject::eventFilter(watched, event);
}
