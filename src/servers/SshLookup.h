#pragma once

#include "state/Server.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

// How the user's own ssh setup (~/.ssh/config with its Host, Match and Include) resolves a host, read
// from `ssh -G`, so nothing parses that file by hand. Blocking: worker threads only.
class SshLookup {
public:
    struct Resolved {
        QString hostname;
        QString user;
        int port = 22;
        std::optional<QString> proxyJump;
        QStringList identityFiles;
    };

    static std::optional<Resolved> run(const QString& host, std::optional<int> port, const std::optional<QString>& user);
    static std::optional<Resolved> parse(const QString& output);
    // The login name the user's or the system's ssh configuration names for the host; none when neither
    // names one (ssh -G then reports the local name).
    static std::optional<QString> configuredUser(const QString& host, std::optional<int> port);

    // The first of `others` that is the same account as `server`: ssh takes both to one machine (the same
    // address, whatever name or alias reaches it), port and login name, by the same jump host.
    static std::optional<Server> sameAccount(const Server& server, const QList<Server>& others);
};
