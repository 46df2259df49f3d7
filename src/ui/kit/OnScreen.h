#pragma once

#include <QObject>
#include <QPointer>
#include <functional>

class QWidget;
class QWindow;

// Whether a view is on screen: shown, and its window neither minimised nor unmapped by the window manager
// (left on another desktop). Qt keeps a minimised or unmapped window's widgets "visible"; periodic work
// for a view that nobody sees stops with this instead. Calls `changed` each time the answer flips.
class OnScreen : public QObject {
    Q_OBJECT
public:
    OnScreen(QWidget& view, std::function<void(bool)> changed);

    bool now() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void follow();

    QWidget& view;
    std::function<void(bool)> changed;
    QPointer<QWindow> handle;
    bool offScreen = false; // the window system took the window away
    bool last = false;
};
