#pragma once

#include <QWidget>

class Account;
class DisabledCard;
class LoginCard;
class LoginDisabledForm;
class LoginForm;
class LoginModel;
class QStackedLayout;

// The login window's content: the login card, or the disabled-account card while the account is disabled.
// A card that leaves loses its state; the login card comes back with its start values.
class LoginView : public QWidget {
    Q_OBJECT
public:
    LoginView(Account& account, LoginModel& model, QWidget* parent = nullptr);

    LoginForm& loginForm() const { return *form; }
    LoginDisabledForm& disabledForm() const { return *disabled; }
    LoginCard* loginCard() const { return login; }
    DisabledCard* disabledCard() const { return disabledPage; }
    bool showsDisabledCard() const;
    // What the card on show needs.
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;

Q_SIGNALS:
    // "退出 tarnel" on the disabled card.
    void quitRequested();

private:
    void follow();

    Account& account;
    LoginForm* form;
    LoginDisabledForm* disabled;
    LoginCard* login;
    DisabledCard* disabledPage;
    QStackedLayout* pages;
    bool signedIn = false;
};
