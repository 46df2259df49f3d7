#pragma once

#include "platform/CommandResult.h"
#include "platform/ProcessRunner.h"
#include "state/Outcome.h"
#include "state/Server.h"

#include <QStringList>
#include <optional>

// Finds a login name that works with the user's own ssh setup (keys, agent, ~/.ssh/config): tries the
// candidates one by one with BatchMode until one gets in. Blocking: worker threads only.
class LoginProbe {
public:
    struct Login {
        QString user;
        std::optional<QString> hostname;
    };
    struct Result {
        ProbeRecord record;
        Outcome<Login> login;
    };

    // The given name alone; without one, the name ssh -G reports, the local login name, then common cloud
    // defaults, in that order, without repeats or unusable names.
    static QStringList candidates(const std::optional<QString>& given, const std::optional<QString>& configured,
        const QString& localName);
    static QString localLoginName();

    static Result run(const Server& server, const QStringList& candidates, const ProcessRunner::CancelToken& cancel);

    // Why a run that was not refused stopped the probe, as a ready message.
    static QString stopMessage(const CommandResult& result, const QString& host, int port);
};
