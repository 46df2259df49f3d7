#include "ui/kit/FocusedWheel.h"

#include <QEvent>
#include <QWidget>

void FocusedWheel::apply(QWidget* control)
{
    if (control->focusPolicy() == Qt::WheelFocus)
        control->setFocusPolicy(Qt::StrongFocus);
    control->installEventFilter(new FocusedWheel(control));
}

bool FocusedWheel::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::Wheel || static_cast<QWidget*>(watched)->hasFocus())
        return false;
    // Left unaccepted, the wheel goes on to the control's parents (the scrolled page).
    event->ignore();
    return true;
}
