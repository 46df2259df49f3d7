#pragma once

#include "ui/kit/GradientBackground.h"

class BusyButton;
class LoginDisabledForm;
class QPushButton;
class StatusLabel;

// Shown while the account is disabled: why tarnel has stopped, a re-check, switching account and quitting.
class DisabledCard : public GradientBackground {
    Q_OBJECT
public:
    DisabledCard(LoginDisabledForm& form, QWidget* parent = nullptr);

Q_SIGNALS:
    void signOutRequested();
    void quitRequested();

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void scheduleRefresh();
    void refresh();

    LoginDisabledForm& form;
    StatusLabel* explanation;
    StatusLabel* result;
    BusyButton* recheckButton;
    bool refreshQueued = false;
};
