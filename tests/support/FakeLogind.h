#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// Stands in for logind on a private system bus: a dbus-daemon of its own (any local user may connect)
// where this fixture owns org.freedesktop.login1 and announces a wake (PrepareForSleep(false)), as logind
// does after a resume. A program started with DBUS_SYSTEM_BUS_ADDRESS = address() hears it through its
// real wake notifier. Everything stops with the fixture.
class FakeLogind {
public:
    FakeLogind();
    ~FakeLogind();
    FakeLogind(const FakeLogind&) = delete;
    FakeLogind& operator=(const FakeLogind&) = delete;

    // Starts the bus and takes logind's name; an error text, or empty.
    QString start();
    QString address() const { return busAddress; }
    // Tells the bus the computer has just woken up; false when the signal could not be sent.
    bool announceWake() const;

    static bool available();

private:
    QTemporaryDir dir;
    QProcess daemon;
    QString busAddress;
    QString connectionName;
};
