#pragma once

#include <QObject>

// Which form the login window shows: registration (true) or sign-in (false). Shared by the window's
// controller, which sets it each time it shows the window, and the card's mode switch.
class LoginModel : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    bool registering() const { return mode; }
    void setRegistering(bool on)
    {
        if (mode == on)
            return;
        mode = on;
        Q_EMIT registeringChanged(on);
    }

Q_SIGNALS:
    void registeringChanged(bool registering);

private:
    bool mode = false;
};
