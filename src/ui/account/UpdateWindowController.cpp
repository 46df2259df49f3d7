#include "ui/account/UpdateWindowController.h"

#include "account/Updater.h"
#include "ui/account/UpdatePromptView.h"
#include "ui/kit/FrameMemory.h"
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
    // 440 wide and at least 360 high, the content in the middle; a long list of notes makes it taller.
    auto* holder = new QWidget(win.get());
    holder->setMinimumHeight(360);
    Parts::fill(*holder, content)->setAlignment(content, Qt::AlignVCenter);
    Parts::fill(*win, holder)->setSizeConstraint(QLayout::SetFixedSize);
    frame = new FrameMemory(*win, QStringLiteral("TarnelUpdate"));
    frame->place();
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
    built();
    frame->present();
    // Shown, the wrapped notes take their height at the window's width (the fixed-size layout alone
    // goes by their one-line size).
    content->refresh();
}
