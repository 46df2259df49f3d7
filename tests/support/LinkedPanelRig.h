#pragma once

#include "link/LinkStatus.h"
#include "support/FakeLinkProgram.h"
#include "support/PanelRig.h"

#include <QList>
#include <QString>

// The panel's hub signed in, with its device link running the scriptable stand-in for tarnel-net: for the
// devices page's tests and screenshots. The link polls only when told (long intervals); ssh files are
// read from a folder of the data directory, the ssh-server probe goes to a port nothing listens on.
class LinkedPanelRig {
public:
    explicit LinkedPanelRig(const TempDataDir& data);
    ~LinkedPanelRig();

    // Builds the hub and starts its link; false when the program did not come up.
    bool start();
    AppState& app() { return panel.app(); }

    // Makes the link program report this machine and these peers, and waits until a poll applied it.
    bool publish(const QList<PeerDevice>& peers, const SelfDevice& self = defaultSelf(), bool siteOk = true,
        const QString& siteError = {});
    // Polls once more and waits until the result is applied.
    bool pollApplied();
    // The folder the link reads authorized_keys and config from.
    QString sshDirectory() const;
    // Writes authorized_keys there: `before`, then each peer's key line.
    void allowKeys(const QList<PeerDevice>& peers, const QByteArray& before = {}) const;
    // Status requests the link program has answered so far.
    int statusRequests() const;

    static SelfDevice defaultSelf();
    // A peer as the link reports it; `key` gives it a public key line.
    static PeerDevice peer(const QString& id, const QString& name, bool online, bool key = false);

    PanelRig panel;
    FakeLinkProgram program;

private:
    QString lastScript;
};
