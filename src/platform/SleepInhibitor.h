#pragma once

#include <QObject>
#include <QString>

// Keeps the computer from going to sleep when idle, while held; and tells whether it runs on mains power.
class SleepInhibitor : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // True when the computer runs on mains power; a power source that cannot be read counts as mains.
    virtual bool onMainsPower() const = 0;
    // Asks for the lock; false when it cannot be asked for now. The answer comes later: `taken()` once the
    // lock is held, `lost()` when it is refused.
    virtual bool hold(const QString& why) = 0;
    virtual void release() = 0;

Q_SIGNALS:
    // The lock asked for is held now.
    void taken();
    // A lock asked for was refused or dropped by the system.
    void lost();
};
