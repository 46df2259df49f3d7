#pragma once

#include "account/LoginForm.h"
#include "ui/kit/GradientBackground.h"

#include <QHash>

class Account;
class BusyButton;
class LinkButton;
class QLabel;
class QLineEdit;
class StatusLabel;
class SymbolNote;

// The sign-in / registration form. Mirrors a LoginForm: edits and key presses go to the form, and the
// form's state comes back through refresh().
class LoginCard : public GradientBackground {
    Q_OBJECT
public:
    LoginCard(LoginForm& form, Account& account, QWidget* parent = nullptr);

    QLineEdit* field(LoginForm::Field which) const { return fields.value(which); }

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QLineEdit* addField(LoginForm::Field which, const char* name, QLayout* layout);
    void scheduleRefresh();
    void refresh();

    LoginForm& form;
    Account& account;
    QHash<LoginForm::Field, QLineEdit*> fields;
    QLabel* title;
    StatusLabel* subtitle;
    SymbolNote* notice;
    SymbolNote* error;
    SymbolNote* missing; // what keeps a registration from being sent
    BusyButton* submitButton;
    StatusLabel* switchPrompt;
    LinkButton* switchButton;
    std::optional<LoginForm::Field> pendingFocus;
    bool refreshQueued = false;
};
