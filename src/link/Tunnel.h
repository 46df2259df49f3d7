#pragma once

#include <QDateTime>
#include <QString>

// The ssh state of one other machine: the result of the last login check through the device link.
struct Tunnel {
    enum class Kind { open, failed, reconnecting, idle, checking };
    Kind kind = Kind::idle;
    QString path;      // open, reconnecting: "relay" or "direct"
    QDateTime at;      // open: when the check succeeded; reconnecting: when the loss was noticed
    QString message;   // failed: the text a device card shows
    bool needsKey = false; // failed: the machine refused this machine's key

    static Tunnel open(const QString& path, const QDateTime& at) { return {Kind::open, path, at, {}, false}; }
    static Tunnel failed(const QString& message, bool needsKey) { return {Kind::failed, {}, {}, message, needsKey}; }
    static Tunnel reconnecting(const QString& path, const QDateTime& since) { return {Kind::reconnecting, path, since, {}, false}; }
    static Tunnel idle() { return {}; }
    static Tunnel checking() { return {Kind::checking, {}, {}, {}, false}; }
    bool operator==(const Tunnel&) const = default;
};
