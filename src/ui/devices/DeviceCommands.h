#pragma once

#include "link/LinkStatus.h"
#include "link/Tunnel.h"
#include "state/Outcome.h"

#include <QFuture>
#include <QString>
#include <functional>
#include <optional>

// What the devices page asks of the device link for one peer. Set by the panel; each does nothing (or
// answers idle, empty, none) while unset.
struct DeviceCommands {
    std::function<Tunnel(const PeerDevice&)> tunnel;
    std::function<void(const PeerDevice&)> openTunnel;
    std::function<void(const PeerDevice&)> closeTunnel;
    std::function<QString(const PeerDevice&)> commandText;
    // A message when no terminal could be opened.
    std::function<std::optional<QString>(const PeerDevice&)> openTerminal;
    std::function<bool()> openTerminalApp;
    std::function<QString(const PeerDevice&)> keyAddCommand;
    // Removes the machine from the account; the failure says why not.
    std::function<QFuture<Outcome<>>(const PeerDevice&)> remove;

    Tunnel tunnelOf(const PeerDevice& peer) const { return tunnel ? tunnel(peer) : Tunnel{}; }
};
