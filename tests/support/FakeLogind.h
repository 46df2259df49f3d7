#pragma once

#include <QDBusContext>
#include <QDBusUnixFileDescriptor>
#include <QList>
#include <QObject>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <memory>

// logind's Manager object as far as tarnel uses it: Inhibit hands out the write end of a pipe and the lock
// lasts until every copy of it is closed.
class FakeLogindManager : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")
public:
    struct Inhibition {
        QString what, who, why, mode;
        int readFd = -1;
    };
    ~FakeLogindManager() override;
    const QList<Inhibition>& inhibitions() const { return taken; }
    int locksHeld() const;
    bool refuse = false; // answer Inhibit with an error

public Q_SLOTS:
    QDBusUnixFileDescriptor Inhibit(const QString& what, const QString& who, const QString& why, const QString& mode);

private:
    QList<Inhibition> taken;
};

// Stands in for logind on a private system bus: a dbus-daemon of its own (any local user may connect)
// where this fixture owns org.freedesktop.login1, hands out inhibitor locks and announces a wake
// (PrepareForSleep(false)), as logind does after a resume. A program started with DBUS_SYSTEM_BUS_ADDRESS = address() hears it through its
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
    FakeLogindManager& manager() { return *logindManager; }

private:
    QTemporaryDir dir;
    QProcess daemon;
    QString busAddress;
    QString connectionName;
    std::unique_ptr<FakeLogindManager> logindManager = std::make_unique<FakeLogindManager>();
};
