#pragma once

#include <QObject>
#include <QString>

// Watches the computer's network: which interfaces carry traffic and whether any does. Reports a key that
// changes when either changes ("eth0,wlan0|satisfied"); only equality of keys means anything.
class NetworkMonitor : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // Starts watching; the current key is reported soon after, then every change.
    virtual void start() = 0;
    virtual void stop() = 0;

Q_SIGNALS:
    void pathChanged(const QString& key);
};
