#pragma once

#include "state/Outcome.h"
#include "state/Server.h"

#include <QList>
#include <QString>
#include <functional>
#include <optional>

// The other machines of the account as the device link knows them, and the destination record that
// adopts one of them as a screenshot receiver.
class LinkedDevices {
public:
    struct Peer {
        QString id;
        QString name;
        QString alias;
        QString sshUser;
        QString displayName() const { return name.isEmpty() ? alias : name; }
    };

    // Set by the owner.
    std::function<QList<Peer>()> peers;

    // The linked machine a typed host names by its alias.
    std::optional<Peer> withAlias(const QString& host) const;
    // A new destination for the peer; refused while its alias or login name is not known (yet).
    static Outcome<Server> record(const Peer& peer, const QString& remoteDir);
};
