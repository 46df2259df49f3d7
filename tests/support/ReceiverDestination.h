#pragma once

#include "state/Outcome.h"
#include "state/Server.h"
#include "support/SshServerFixture.h"

#include <optional>

// A destination on the test sshd, set up the way the install script does it: the bundled receiver in
// <home>/.tarnel/bin and tarnel's public key as a restricted forced-command line.
class ReceiverDestination {
public:
    static Outcome<Server> install(SshServerFixture& sshd, const SshServerFixture::Account& account,
        const QString& publicLine);
    // install() for a new account named `accountName`, with tarnel's own key of the data folder (made when missing).
    static Outcome<Server> installForOwnKey(SshServerFixture& sshd, const QString& accountName);
    static QString authorizedLine(const QString& base, const QString& publicLine);
    // Ends the shared connection to the destination so the next command connects afresh.
    static void closeConnection(const Server& server);
};
