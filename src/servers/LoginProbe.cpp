#include "servers/LoginProbe.h"

#include "state/Clock.h"
#include "servers/ScriptOutput.h"
#include "servers/ScriptRunner.h"
#include "servers/SshCommand.h"
#include "delivery/SSHConfig.h"

#include <QElapsedTimer>
#include <pwd.h>
#include <unistd.h>

QString LoginProbe::localLoginName()
{
    const passwd* entry = ::getpwuid(::getuid());
    return entry ? QString::fromLocal8Bit(entry->pw_name) : QString();
}

QStringList LoginProbe::candidates(const std::optional<QString>& given, const std::optional<QString>& configured,
    const QString& localName)
{
    QStringList names;
    auto add = [&](const QString& name) {
        if (SSHConfig::isValidUser(name) && !names.contains(name))
            names << name;
    };
    // A name the user gave is the only one tried: each wrong name is a failed login in the server's log.
    if (given)
        add(*given);
    if (!names.isEmpty())
        return names;
    if (configured)
        add(*configured);
    add(localName);
    for (const char* name : {"root", "ubuntu", "debian", "ec2-user", "admin"})
        add(QString::fromLatin1(name));
    return names;
}

QString LoginProbe::stopMessage(const CommandResult& result, const QString& host, int port)
{
    const QString err = result.stderr;
    if (err.contains(QLatin1String("Could not resolve hostname")))
        return QStringLiteral("地址解析不了：") + SSHConfig::unresolvedHost(err, host);
    if (err.contains(QLatin1String("Host key verification failed"))
        || err.contains(QLatin1String("REMOTE HOST IDENTIFICATION HAS CHANGED")))
        return QStringLiteral("服务器的主机钥匙和记录不一致，为安全起见没有连");
    const QString where = host + QLatin1Char(':') + QString::number(port);
    if (result.timedOut)
        return QStringLiteral("连不上 ") + where + QStringLiteral("（超时）");
    const QString line = ScriptRunner::firstLine(result);
    return QStringLiteral("连不上 ") + where + QStringLiteral("（") + (line.isEmpty() ? QStringLiteral("退出码 %1").arg(result.status) : line)
        + QStringLiteral("）");
}

LoginProbe::Result LoginProbe::run(const Server& server, const QStringList& candidates,
    const ProcessRunner::CancelToken& cancel)
{
    QElapsedTimer clock;
    clock.start();
    ProbeRecord record;
    record.at = Clock::instance().now();
    const auto found = [&]() -> Outcome<Login> {
        const QString command = QStringLiteral("echo TARNEL_HOSTNAME \"$(hostname)\"");
        for (const QString& user : candidates) {
            const auto args = SshCommand::keyLogin({server.host, server.port, user, server.proxyJump}, command);
            if (!args)
                return Outcome<Login>::failure(QStringLiteral("地址不对：") + server.host.left(60));
            const CommandResult run = ProcessRunner::run(ProcessRunner::sshPath(), *args, std::nullopt, 20, cancel);
            if (run.cancelled)
                return Outcome<Login>::failure(QStringLiteral("已取消"));
            if (run.status == 0 && ScriptOutput::rest(run.stdout, QStringLiteral("TARNEL_HOSTNAME")))
                return Outcome<Login>::success({user, ScriptOutput::hostname(run.stdout)});
            if (!ScriptRunner::keyRefused(run))
                return Outcome<Login>::failure(stopMessage(run, server.host, server.port));
        }
        return Outcome<Login>::failure(
            Failure::needingLoginName(QStringLiteral("没找到能免密登录的用户名：填上用户名（和密码）再连"), true));
    }();
    record.ok = found.ok();
    if (found.ok()) {
        record.user = found.value().user;
        record.hostname = found.value().hostname;
    } else {
        record.error = found.failure();
    }
    record.elapsed = double(clock.elapsed()) / 1000.0;
    return {record, found};
}
