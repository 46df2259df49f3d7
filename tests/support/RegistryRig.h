#pragma once

#include "servers/ServerRegistry.h"
#include "servers/ServersPageState.h"
#include "state/StateStore.h"
#include "state/Store.h"

// A server registry with the servers page's own state, on a data folder whose list starts empty, and
// its answers waited for on the event loop.
class RegistryRig {
public:
    explicit RegistryRig(const QString& dataDir, int highlightMs = ServersPageState::defaultHighlightMs);

    // Waits until the destination's attempt is over; false while it still connects at the limit.
    bool settled(const QUuid& id);

    // A script's or a removal's answer: its message, and whether it asks for a password.
    struct Answer {
        QString message;
        bool needsPassword = false;
    };
    Answer rules(const QUuid& id, const QStringList& wanted, const std::optional<QString>& password);
    Answer revoke(const QUuid& id, const std::optional<QString>& password);
    Answer remove(const QUuid& id, bool purge);
    Answer uninstallWithPassword(const Server& server, const QString& password, bool purge);

    Store store;
    StateStore state;
    ServerRegistry registry;
    ServersPageState page;

private:
    Answer wait(const std::function<void(ServerRegistry::Done)>& start);
};
