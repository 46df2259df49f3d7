#pragma once

#include "link/LinkStatus.h"
#include "state/Outcome.h"

#include <QDateTime>
#include <QFuture>
#include <QString>
#include <functional>
#include <optional>

// The ssh connection to one peer as the device link keeps it.
struct DeviceTunnel {
    enum class Kind { idle, checking, open, reconnecting, failed };
    Kind kind = Kind::idle;
    QString path;     // open, reconnecting: "relay" or direct
    QDateTime at;     // open: when it opened; reconnecting: since when
    QString message;  // failed
    bool needsKey = false;
    bool operator==(const DeviceTunnel&) const = default;
};

// What the devices page asks of the device link for one peer. Set by the panel; each does nothing (or
// answers idle, empty, none) while unset.
struct DeviceCommands {
    std::function<DeviceTunnel(const PeerDevice&)> tunnel;
    std::function<void(const PeerDevice&)> openTunnel;
    std::function<void(const PeerDevice&)> closeTunnel;
    std::function<QString(const PeerDevice&)> commandText;
    // A message when no terminal could be opened.
    std::function<std::optional<QString>(const PeerDevice&)> openTerminal;
    std::function<bool()> openTerminalApp;
    std::function<QString(const PeerDevice&)> keyAddCommand;
    // Removes the machine from the account; the failure says why not.
    std::function<QFuture<Outcome<>>(const PeerDevice&)> remove;

    DeviceTunnel tunnelOf(const PeerDevice& peer) const { return tunnel ? tunnel(peer) : DeviceTunnel{}; }
};
