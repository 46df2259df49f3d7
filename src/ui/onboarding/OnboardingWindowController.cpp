#include "ui/onboarding/OnboardingWindowController.h"

#include "ui/onboarding/OnboardingView.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QPointer>
#include <QScreen>
#include <QVBoxLayout>

void OnboardingWindow::closeEvent(QCloseEvent* event)
{
    event->ignore();
    hide();
}

OnboardingWindowController::OnboardingWindowController(AppState& app, QObject* parent)
    : QObject(parent), win(std::make_unique<OnboardingWindow>())
{
    win->setObjectName(QStringLiteral("onboardingWindow"));
    win->setWindowTitle(QStringLiteral("tarnel · 开始设置"));
    win->setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint
                        | Qt::WindowMinimizeButtonHint | Qt::CustomizeWindowHint);
    win->setFixedSize(width, height);
    QPointer<QWidget> window = win.get();
    content = new OnboardingView(app, [window] {
        if (window)
            window->hide();
    }, win.get());
    auto* layout = new QVBoxLayout(win.get());
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(content);
    centre();
}

OnboardingWindowController::~OnboardingWindowController() = default;

void OnboardingWindowController::show()
{
    if (!win->isVisible())
        centre();
    win->show();
    win->raise();
    win->activateWindow();
}

void OnboardingWindowController::hide() { win->hide(); }

void OnboardingWindowController::centre()
{
    QScreen* screen = win->screen() ? win->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    QRect frame = win->frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    win->move(frame.topLeft());
}
