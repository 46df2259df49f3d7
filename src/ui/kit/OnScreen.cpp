#include "ui/kit/OnScreen.h"

#include <QEvent>
#include <QWidget>
#include <QWindow>

OnScreen::OnScreen(QWidget& view, std::function<void(bool)> changed)
    : QObject(&view), view(view), changed(std::move(changed))
{
    view.installEventFilter(this);
}

bool OnScreen::now() const { return view.isVisible() && !offScreen; }

bool OnScreen::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == &view && event->type() == QEvent::Show) {
        // Shown by the program or given back by the window manager: its window is on its way to the screen.
        offScreen = false;
        if (QWindow* window = view.window()->windowHandle(); window != handle) {
            if (handle)
                handle->removeEventFilter(this);
            handle = window;
            if (handle)
                handle->installEventFilter(this);
        }
        follow();
    } else if (watched == &view && event->type() == QEvent::Hide) {
        if (event->spontaneous())
            offScreen = true; // minimised
        follow();
    } else if (watched == handle && event->type() == QEvent::Expose) {
        offScreen = !handle->isExposed();
        follow();
    }
    return QObject::eventFilter(watched, event);
}

void OnScreen::follow()
{
    const bool shown = now();
    if (shown == last)
        return;
    last = shown;
    changed(shown);
}
