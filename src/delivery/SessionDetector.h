#pragma once

#include "delivery/SSHSession.h"

#include <QList>
#include <QStringList>
#include <optional>
#include <sys/types.h>

// Finds the user's live ssh sessions by reading /proc: processes named "ssh" of our real uid, their
// command lines parsed the way ssh parses them. Slow enough to keep off the main thread.
class SessionDetector {
public:
    // Skips children of ownPID and runs given -F ownConfigPath; deduplicated, in pid order.
    static QList<SSHSession> activeSessions(pid_t ownPID, const QString& ownConfigPath);

    // One ssh argument vector (argv[0] included); none for runs that are not an interactive session:
    // -N, -W, -O, -G, -s, a remote git command, -F ownConfigPath, or no destination.
    static std::optional<SSHSession> parse(const QStringList& argv, const QString& ownConfigPath);
};
