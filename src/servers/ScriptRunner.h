#pragma once

#include "platform/CommandResult.h"
#include "platform/ProcessRunner.h"
#include "state/Server.h"

#include <QString>
#include <optional>

// Runs a setup script on a destination: by the user's own key login, by a one-time password, or on a
// linked machine through the device ssh configuration. Blocking: worker threads only.
class ScriptRunner {
public:
    struct Run {
        CommandResult result;  // the session's output in stdout (stderr too, for a password login)
        bool refused = false;  // the login itself was refused: a password could help
        bool unsafe = false;   // the destination's values could not go on a command line
    };

    // How a linked machine is reached: through the device ssh configuration, or over its own connection
    // options when its entries in the generated files may be gone.
    enum class Route { generated, ownOptions };

    static Run run(const Server& server, const QString& user, const QString& script,
        const std::optional<QString>& password, double timeoutSeconds, const ProcessRunner::CancelToken& cancel,
        Route route = Route::generated);

    // Exit 255 with "Permission denied" from a BatchMode key login.
    static bool keyRefused(const CommandResult& result);
    // The first line that explains a failed run, at most 100 characters.
    static QString firstLine(const CommandResult& result);
};
