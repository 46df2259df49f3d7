#include "ui/account/UpdateWindowController.h"

#include "account/Updater.h"
#include "ui/account/UpdatePromptView.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QVBoxLayout>

void UpdateWindow::reject()
{
    updater.later();
    hide();
}

void UpdateWindow::closeEvent(QCloseEvent* event)
{
    event->ignore();
    reject();
}

UpdateWindowController::UpdateWindowController(Updater& updater, QObject* parent)
    : QObject(parent), updater(updater), win(std::make_unique<UpdateWindow>(updater))
{
    win->setObjectName(QStringLiteral("updateWindow"));
    win->setWindowTitle(QStringLiteral("tarnel 有新版本"));
    win->setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint);
    content = new UpdatePromptView(updater, win.get());
    auto* layout = new QVBoxLayout(win.get());
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    layout->addWidget(content);
    centre();
    connect(&updater, &Updater::changed, this, &UpdateWindowController::follow);
}

UpdateWindowController::~UpdateWindowController() = default;

void UpdateWindowController::follow()
{
    const bool wanted = updater.showPrompt();
    if (wanted == shown)
        return;
    shown = wanted;
    if (!wanted) {
        win->hide();
        return;
    }
    if (!win->isVisible())
        centre();
    win->show();
    win->raise();
    win->activateWindow();
}

void UpdateWindowController::centre()
{
    QScreen* screen = win->screen() ? win->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    QRect frame = win->frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    win->move(frame.topLeft());
}
