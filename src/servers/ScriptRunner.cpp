#include "servers/ScriptRunner.h"

#include "servers/PasswordLogin.h"
#include "servers/ScriptOutput.h"
#include "servers/SshCommand.h"

ScriptRunner::Run ScriptRunner::run(const Server& server, const QString& user, const QString& script,
    const std::optional<QString>& password, double timeoutSeconds, const ProcessRunner::CancelToken& cancel,
    Route route)
{
    Run run;
    const QString command = SshCommand::scriptCommand(script);
    std::optional<QStringList> args;
    if (server.isDevice()) {
        args = route == Route::ownOptions ? SshCommand::deviceCleanupLogin(server, command)
                                          : SshCommand::deviceLogin(server.deviceAlias.value_or(QString()), command);
    } else {
        const SshCommand::Target target {server.host, server.port, user, server.proxyJump};
        args = password ? SshCommand::passwordLogin(target, command) : SshCommand::keyLogin(target, command);
    }
    if (!args) {
        run.unsafe = true;
        return run;
    }
    if (password && !server.isDevice()) {
        const PasswordLogin::Result login = PasswordLogin::run(ProcessRunner::sshPath(), *args, *password, timeoutSeconds, cancel);
        run.result = login.run;
        run.refused = login.passwordRejected;
        return run;
    }
    run.result = ProcessRunner::run(ProcessRunner::sshPath(), *args, std::nullopt, timeoutSeconds, cancel);
    run.refused = !server.isDevice() && keyRefused(run.result);
    return run;
}

bool ScriptRunner::keyRefused(const CommandResult& result)
{
    return result.status == 255 && (result.stderr.contains(QLatin1String("Permission denied"))
                                       || result.stderr.contains(QLatin1String("Too many authentication failures")));
}

QString ScriptRunner::firstLine(const CommandResult& result)
{
    const QString err = ScriptOutput::firstOtherLine(result.stderr);
    return err.isEmpty() ? ScriptOutput::firstOtherLine(result.stdout) : err;
}
