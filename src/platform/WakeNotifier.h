#pragma once

#include <QObject>

// Tells when the computer has woken from sleep. Services that keep something fresh (the account check-in,
// the updater, the device link) listen to one shared instance.
class WakeNotifier : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

Q_SIGNALS:
    void woke();
};
