#include "ui/kit/InsideScreen.h"

#include <QEvent>
#include <QScreen>
#include <QWidget>
#include <algorithm>

namespace {
// The start of a span `length` long, as near `at` as keeps it in [low, low + room).
int within(int at, int length, int low, int room)
{
    return std::max(low, std::min(at, low + room - length));
}
} // namespace

InsideScreen::InsideScreen(QWidget& window) : QObject(&window), window(window)
{
    window.installEventFilter(this);
}

QSize InsideScreen::frameSize() const { return window.size().grownBy(frame); }

void InsideScreen::place(QPoint frameTopLeft, const QRect& area)
{
    const QSize size = frameSize();
    window.move(within(frameTopLeft.x(), size.width(), area.left(), area.width()),
                within(frameTopLeft.y(), size.height(), area.top(), area.height()));
}

bool InsideScreen::learnFrame()
{
    const QRect outer = window.frameGeometry(), inner = window.geometry();
    if (outer == inner)
        return false;
    frame = QMargins(inner.left() - outer.left(), inner.top() - outer.top(), outer.right() - inner.right(),
                     outer.bottom() - inner.bottom());
    return true;
}

void InsideScreen::fit()
{
    if (const QScreen* screen = window.screen())
        if (const QRect area = screen->availableGeometry(); !area.contains(window.frameGeometry()))
            place(window.frameGeometry().topLeft(), area);
}

bool InsideScreen::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != &window)
        return false;
    switch (event->type()) {
    case QEvent::Show:
        awaitingFrame = true;
        break;
    case QEvent::Move:
        // Moves after the frame is known are the user's own.
        if (awaitingFrame && window.isVisible() && learnFrame()) {
            awaitingFrame = false;
            fit();
        }
        break;
    case QEvent::Resize:
        if (window.isVisible()) {
            awaitingFrame = awaitingFrame && !learnFrame();
            fit();
        }
        break;
    default:
        break;
    }
    return false;
}
