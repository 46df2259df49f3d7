#include "ui/account/LoginWindowController.h"

#include "ui/account/LoginView.h"
#include "ui/kit/FrameMemory.h"
#include "ui/kit/Parts.h"

LoginWindowController::LoginWindowController(Account& account, QObject* parent)
    : QObject(parent), win(std::make_unique<KeptWindow>())
{
    win->setFixedFrame(QStringLiteral("loginWindow"), QStringLiteral("tarnel · 登录"), QSize(440, 560));
    content = new LoginView(account, loginModel, win.get());
    Parts::fill(*win, content);
    win->growTallerFor(content);
    connect(content, &LoginView::quitRequested, this, &LoginWindowController::quitRequested);
    frame = new FrameMemory(*win, QStringLiteral("TarnelLogin"));
    frame->place();
}

LoginWindowController::~LoginWindowController() = default;

void LoginWindowController::show(bool registering)
{
    loginModel.setRegistering(registering);
    frame->present();
}
