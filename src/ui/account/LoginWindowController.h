#pragma once

#include "account/LoginModel.h"
#include "ui/kit/KeptWindow.h"

#include <QObject>
#include <memory>

class Account;
class FrameMemory;
class LoginView;

// Owns the login window for the life of the process. Created once at launch; closing only hides it
// (the form keeps its state).
class LoginWindowController : public QObject {
    Q_OBJECT
public:
    explicit LoginWindowController(Account& account, QObject* parent = nullptr);
    ~LoginWindowController() override;

    // Sets the mode, puts the window where it was last (or centres it) when it is hidden, brings it to the front and activates it.
    void show(bool registering);
    void hide() { win->hide(); }

    QWidget* window() const { return win.get(); }
    LoginView* view() const { return content; }
    LoginModel& model() { return loginModel; }

Q_SIGNALS:
    // "退出 tarnel" on the disabled card: the application shell ends the process.
    void quitRequested();

private:
    LoginModel loginModel;
    std::unique_ptr<KeptWindow> win;
    LoginView* content;
    FrameMemory* frame;
};
