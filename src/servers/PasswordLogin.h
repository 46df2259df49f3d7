#pragma once

#include "platform/CommandResult.h"
#include "platform/ProcessRunner.h"

#include <QString>
#include <QStringList>

// A one-time login with the user's password: the program (ssh) runs under a pseudo-terminal and the
// password is typed at its first password prompt. The password never reaches an argument list, the
// environment, a file or the log; the session's output stays in memory.
class PasswordLogin {
public:
    struct Result {
        CommandResult run; // stdout holds the whole session (a terminal merges both streams), "\r" removed
        bool passwordRejected = false; // a second prompt, or "Permission denied"
    };

    // Blocks until the program ends; never call it on the main thread. The program gets its own session
    // and process group, which a time-out or cancel ends (SIGTERM, then SIGKILL 2 s later).
    static Result run(const QString& program, const QStringList& args, const QString& password,
        double timeoutSeconds, const ProcessRunner::CancelToken& cancel = {});

    // True when the text (the output since the last answer) ends in a password prompt.
    static bool endsWithPrompt(const QString& text);
};
