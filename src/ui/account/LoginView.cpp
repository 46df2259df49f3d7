#include "ui/account/LoginView.h"

#include "account/Account.h"
#include "account/LoginDisabledForm.h"
#include "account/LoginForm.h"
#include "ui/account/DisabledCard.h"
#include "ui/account/LoginCard.h"

#include <QStackedLayout>

LoginView::LoginView(Account& account, LoginModel& model, QWidget* parent) : QWidget(parent), account(account)
{
    form = new LoginForm(
        model,
        [&account](const LoginRequest& request) {
            if (request.registering)
                return account.registerAccount(request.username, request.password, request.displayName,
                                               request.invite);
            return account.signIn(request.username, request.password);
        },
        this);
    disabled = new LoginDisabledForm(account, this);
    login = new LoginCard(*form, account, this);
    disabledPage = new DisabledCard(*disabled, this);
    connect(disabledPage, &DisabledCard::signOutRequested, this, [&account] { account.signOut(); });
    connect(disabledPage, &DisabledCard::quitRequested, this, &LoginView::quitRequested);

    pages = new QStackedLayout(this);
    pages->setContentsMargins(0, 0, 0, 0);
    pages->addWidget(login);
    pages->addWidget(disabledPage);
    pages->setCurrentWidget(account.status() == Account::Status::disabled ? static_cast<QWidget*>(disabledPage)
                                                                          : login);
    signedIn = account.record().has_value();
    connect(&account, &Account::changed, this, &LoginView::follow);
}

bool LoginView::showsDisabledCard() const { return pages->currentWidget() == disabledPage; }

int LoginView::heightForWidth(int width) const
{
    const QWidget* card = pages->currentWidget();
    return card->hasHeightForWidth() ? card->heightForWidth(width) : card->sizeHint().height();
}

void LoginView::follow()
{
    // Signed out: the password typed earlier must not sign straight back in with one Return.
    const bool hasRecord = account.record().has_value();
    if (signedIn && !hasRecord)
        form->setPassword(QString());
    signedIn = hasRecord;

    const bool wantDisabled = account.status() == Account::Status::disabled;
    if (wantDisabled == showsDisabledCard())
        return;
    // The card that comes in starts from its start values; showing it lets the login card fill in the
    // remembered name and place the focus.
    if (wantDisabled) {
        disabled->reset();
        pages->setCurrentWidget(disabledPage);
    } else {
        form->reset();
        pages->setCurrentWidget(login);
    }
    updateGeometry(); // the other card may need another height
}
