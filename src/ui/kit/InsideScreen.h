#pragma once

#include <QMargins>
#include <QObject>
#include <QRect>

class QWidget;

// Keeps a window's whole frame, title bar and borders too, inside the free area of its screen (the area
// that panels and taskbars leave). The frame's edges are known only once the window manager has framed
// the window: until then those of the last time stand in, and when the window is framed after being shown,
// or grows, it is moved back inside.
class InsideScreen : public QObject {
    Q_OBJECT
public:
    explicit InsideScreen(QWidget& window);

    // The window's size with its frame, as far as the frame is known.
    QSize frameSize() const;
    // Moves the window so that its frame stands at `frameTopLeft`, shifted as little as keeps it in `area`.
    void place(QPoint frameTopLeft, const QRect& area);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Whether the window manager has framed the window; notes the frame's edges when it has.
    bool learnFrame();
    // Moves the window back inside its screen's free area when it is not.
    void fit();

    QWidget& window;
    QMargins frame;
    bool awaitingFrame = false; // shown, not yet framed
};
