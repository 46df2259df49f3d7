#pragma once

#include "link/LinkStatus.h"

#include <QList>
#include <QString>
#include <optional>

// The two generated files through which ssh reaches the other machines of the account: ssh_config_devices
// (one Host block per usable peer, its ProxyCommand dials the peer through tarnel-net) and
// known_hosts_devices (each peer's host key pinned under its alias). Pure functions.
class LinkSSHConfig {
public:
    static const QString aliasPattern;

    struct Locations {
        QString netBinary;
        QString stateDir;
        QString dataDir;
    };

    // The text of ssh_config_devices; none when one of the paths cannot be written into it safely.
    static std::optional<QString> render(const QList<PeerDevice>& peers, const Locations& where, int linkPort = 22);
    static QString renderKnownHosts(const QList<PeerDevice>& peers);
    // "<alias> <type> <key data>" for a peer with a usable host key.
    static std::optional<QString> hostKeyLine(const PeerDevice& peer);
    // Proposes an alias for a device name.
    static QString aliasSlug(const QString& name);
    static bool aliasValid(const QString& alias);
    // Whether ssh_config_devices holds a Host block for the peer.
    static bool hasBlock(const PeerDevice& peer);

    // Why a peer's record must not reach either file (a value that could inject into ssh's configuration,
    // known_hosts or the shell); none for a record that is merely incomplete or well-formed.
    static std::optional<QString> hostility(const PeerDevice& peer);
    // Identifies the peer set as far as the files depend on it.
    static QString fingerprint(const QList<PeerDevice>& peers);
};
