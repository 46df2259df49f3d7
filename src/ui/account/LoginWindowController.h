#pragma once

#include "account/LoginModel.h"

#include <QObject>
#include <QWidget>
#include <memory>

class Account;
class LoginView;

// The login window: fixed size, closing only hides it (the form keeps its state).
class LoginWindow : public QWidget {
    Q_OBJECT
public:
    explicit LoginWindow(QWidget* parent = nullptr) : QWidget(parent) {}

protected:
    void closeEvent(QCloseEvent* event) override;
};

// Owns the login window for the life of the process. Created once at launch.
class LoginWindowController : public QObject {
    Q_OBJECT
public:
    explicit LoginWindowController(Account& account, QObject* parent = nullptr);
    ~LoginWindowController() override;

    // Sets the mode, centres the window when it is hidden, brings it to the front and activates it.
    void show(bool registering);
    void hide();

    QWidget* window() const { return win.get(); }
    LoginView* view() const { return content; }
    LoginModel& model() { return loginModel; }

private:
    void centre();

    LoginModel loginModel;
    std::unique_ptr<LoginWindow> win;
    LoginView* content;
};
