#include "ui/kit/KeptWindow.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QScreen>
#include <algorithm>

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

void KeptWindow::growTallerFor(QWidget* content)
{
    growing = content;
    ownHeight = height();
}

bool KeptWindow::event(QEvent* event)
{
    if (event->type() == QEvent::LayoutRequest && growing) {
        const int needs = growing->hasHeightForWidth() ? growing->heightForWidth(width()) : growing->sizeHint().height();
        setFixedHeight(std::max(ownHeight, needs));
    }
    return QWidget::event(event);
}

void KeptWindow::closeEvent(QCloseEvent* event)
{
    event->ignore();
    hide();
}
