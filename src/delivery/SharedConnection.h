#pragma once

#include "platform/CommandResult.h"
#include "platform/ProcessRunner.h"

#include <QByteArray>
#include <QString>
#include <optional>

// One command over an ssh control master that is already up, asked for on its socket in ssh's own
// multiplexing protocol, so that no ssh client has to start for it. The answer is what
// `ssh -S <socket> -- <host> <command>` would give; none when no master takes the session there, and then
// nothing was run.
class SharedConnection {
public:
    static std::optional<CommandResult> run(const QString& socketPath, const QString& command,
        const std::optional<QByteArray>& input, double timeoutSeconds, const ProcessRunner::CancelToken& cancel);
    // Asks the master at the socket to end, as `ssh -O exit` does; waits up to `timeoutSeconds` for its
    // answer. False when no master answered there.
    static bool close(const QString& socketPath, double timeoutSeconds);
};
