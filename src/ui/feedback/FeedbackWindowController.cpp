#include "ui/feedback/FeedbackWindowController.h"

#include "account/FeedbackModel.h"
#include "state/Paths.h"
#include "ui/feedback/FeedbackView.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QVBoxLayout>

void FeedbackWindow::closeEvent(QCloseEvent* event)
{
    event->ignore();
    hide();
}

FeedbackWindowController::FeedbackWindowController(AppState& app, QObject* parent)
    : QObject(parent), form(std::make_unique<FeedbackModel>(Paths::logsDirectory())),
      win(std::make_unique<FeedbackWindow>())
{
    win->setObjectName(QStringLiteral("feedbackWindow"));
    win->setWindowTitle(QStringLiteral("反馈问题"));
    win->setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint
                        | Qt::WindowMinimizeButtonHint | Qt::CustomizeWindowHint);
    win->setFixedSize(540, 600);
    content = new FeedbackView(app, *form, win.get());
    auto* layout = new QVBoxLayout(win.get());
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(content);
    centre();
}

FeedbackWindowController::~FeedbackWindowController() = default;

void FeedbackWindowController::show()
{
    form->reset();
    if (!win->isVisible())
        centre();
    win->show();
    win->raise();
    win->activateWindow();
    content->appear();
}

void FeedbackWindowController::hide() { win->hide(); }

void FeedbackWindowController::centre()
{
    QScreen* screen = win->screen() ? win->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    QRect frame = win->frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    win->move(frame.topLeft());
}
