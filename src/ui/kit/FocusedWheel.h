#pragma once

#include <QObject>

class QWidget;

// Makes a value control (drop-down, number field) take the mouse wheel only while it has the keyboard
// focus: a wheel turned over it otherwise scrolls what holds it, so scrolling a page never changes a
// setting on the way. The control no longer takes the focus from the wheel either.
class FocusedWheel : public QObject {
    Q_OBJECT
public:
    static void apply(QWidget* control);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    using QObject::QObject;
};
