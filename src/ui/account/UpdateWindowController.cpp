#include "ui/account/UpdateWindowController.h"

#include "account/Updater.h"
#include "ui/account/UpdatePromptView.h"
#include "ui/kit/KeptWindow.h"
#include "ui/kit/Parts.h"

#include <QCloseEvent>
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
    : QObject(parent), updater(updater)
{
    connect(&updater, &Updater::changed, this, &UpdateWindowController::follow);
}

const std::unique_ptr<UpdateWindow>& UpdateWindowController::built()
{
    if (win)
        return win;
    win = std::make_unique<UpdateWindow>(updater);
    win->setObjectName(QStringLiteral("updateWindow"));
    win->setWindowTitle(QStringLiteral("tarnel 有新版本"));
    win->setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint);
    content = new UpdatePromptView(updater, win.get());
    Parts::fill(*win, content)->setSizeConstraint(QLayout::SetFixedSize);
    centreOnScreen(*win);
    return win;
}

UpdateWindowController::~UpdateWindowController() = default;

void UpdateWindowController::follow()
{
    const bool wanted = updater.showPrompt();
    if (wanted == shown)
        return;
    shown = wanted;
    if (!wanted) {
        if (win)
            win->hide();
        return;
    }
    bringToFront(*built(), [this] { centreOnScreen(*win); });
}
