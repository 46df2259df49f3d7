#include "ui/account/LoginWindowController.h"

#include "ui/account/LoginView.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>

void LoginWindow::closeEvent(QCloseEvent* event)
{
    event->ignore();
    hide();
}

LoginWindowController::LoginWindowController(Account& account, QObject* parent)
    : QObject(parent), win(std::make_unique<LoginWindow>())
{
    win->setObjectName(QStringLiteral("loginWindow"));
    win->setWindowTitle(QStringLiteral("tarnel · 登录"));
    win->setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint
                        | Qt::WindowMinimizeButtonHint | Qt::CustomizeWindowHint);
    win->setFixedSize(440, 560);
    content = new LoginView(account, loginModel, win.get());
    auto* layout = new QVBoxLayout(win.get());
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(content);
    connect(content, &LoginView::quitRequested, this,
            [] { QTimer::singleShot(0, qApp, &QCoreApplication::quit); });
    centre();
}

LoginWindowController::~LoginWindowController() = default;

void LoginWindowController::show(bool registering)
{
    loginModel.setRegistering(registering);
    if (!win->isVisible())
        centre();
    win->show();
    win->raise();
    win->activateWindow();
}

void LoginWindowController::hide() { win->hide(); }

void LoginWindowController::centre()
{
    QScreen* screen = win->screen() ? win->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    QRect frame = win->frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    win->move(frame.topLeft());
}
