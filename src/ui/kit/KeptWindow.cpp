#include "ui/kit/KeptWindow.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QScreen>

void centreOnScreen(QWidget& window, QScreen* screen)
{
    if (!screen)
        screen = window.screen() ? window.screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    QRect frame = window.frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    window.move(frame.topLeft());
}

void bringToFront(QWidget& window, const std::function<void()>& place)
{
    if (!window.isVisible())
        place();
    window.show();
    window.raise();
    window.activateWindow();
}

void KeptWindow::setFixedFrame(const QString& name, const QString& title, QSize size)
{
    setObjectName(name);
    setWindowTitle(title);
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::WindowMinimizeButtonHint
                   | Qt::CustomizeWindowHint);
    setFixedSize(size);
}

void KeptWindow::present()
{
    bringToFront(*this, [this] { centreOnScreen(*this); });
}

void KeptWindow::closeEvent(QCloseEvent* event)
{
    event->ignore();
    hide();
}
