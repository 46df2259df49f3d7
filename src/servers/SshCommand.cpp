#include "servers/SshCommand.h"

#include "delivery/SSHConfig.h"
#include "state/AtomicFile.h"
#include "state/Paths.h"

#include <QFileInfo>

namespace {

QStringList option(const QString& text) { return {QStringLiteral("-o"), text}; }

} // namespace

QString SshCommand::scriptCommand(const QString& script)
{
    return QStringLiteral("printf %s '") + QString::fromLatin1(script.toUtf8().toBase64())
        + QStringLiteral("' | base64 -d | sh");
}

QString SshCommand::knownHostsFile()
{
    const QString path = Paths::inData(QStringLiteral("known_hosts"));
    if (!QFileInfo::exists(path)) {
        Paths::ensure(Paths::dataDirectory());
        AtomicFile::write(path, QByteArray(), 0600);
    }
    return path;
}

std::optional<QStringList> SshCommand::common(const Target& target)
{
    if (!SSHConfig::isValidHost(target.host) || !SSHConfig::isValidUser(target.user) || target.port < 1
        || target.port > 65535)
        return std::nullopt;
    QStringList args {QStringLiteral("-T")};
    args << option(QStringLiteral("ConnectTimeout=10"))
         << option(QStringLiteral("StrictHostKeyChecking=accept-new"))
         << option(QStringLiteral("UserKnownHostsFile=\"") + knownHostsFile() + QStringLiteral("\" \"~/.ssh/known_hosts\""))
         << option(QStringLiteral("ControlMaster=no")) << option(QStringLiteral("ControlPath=none"))
         << QStringLiteral("-p") << QString::number(target.port);
    if (target.proxyJump && !target.proxyJump->isEmpty()) {
        const auto jump = SSHConfig::canonicalJump(*target.proxyJump);
        if (!jump)
            return std::nullopt;
        args << QStringLiteral("-J") << *jump;
    }
    args << QStringLiteral("-l") << target.user;
    return args;
}

std::optional<QStringList> SshCommand::keyLogin(const Target& target, const QString& command)
{
    auto args = common(target);
    if (!args)
        return std::nullopt;
    args->insert(1, QStringLiteral("BatchMode=yes"));
    args->insert(1, QStringLiteral("-o"));
    *args << QStringLiteral("--") << target.host << command;
    return args;
}

std::optional<QStringList> SshCommand::passwordLogin(const Target& target, const QString& command)
{
    auto args = common(target);
    if (!args)
        return std::nullopt;
    QStringList front {QStringLiteral("-T")};
    front << option(QStringLiteral("NumberOfPasswordPrompts=1"))
          << option(QStringLiteral("PreferredAuthentications=keyboard-interactive,password"))
          << option(QStringLiteral("PubkeyAuthentication=no"));
    args->removeFirst();
    *args = front + *args;
    *args << QStringLiteral("--") << target.host << command;
    return args;
}

std::optional<QStringList> SshCommand::deviceLogin(const QString& alias, const QString& command)
{
    if (!SSHConfig::isValidDeviceAlias(alias))
        return std::nullopt;
    return QStringList {QStringLiteral("-F"), Paths::inData(QStringLiteral("ssh_config_devices")), QStringLiteral("-T"),
        QStringLiteral("-o"), QStringLiteral("BatchMode=yes"), QStringLiteral("--"), alias, command};
}

std::optional<QStringList> SshCommand::deviceCleanupLogin(const Server& server, const QString& command)
{
    const auto options = SSHConfig::deviceOptions(server, SSHConfig::currentContext());
    if (!options)
        return std::nullopt;
    QStringList args{QStringLiteral("-F"), QStringLiteral("/dev/null"), QStringLiteral("-T")};
    args << option(QStringLiteral("BatchMode=yes")) << option(QStringLiteral("ControlMaster=no"))
         << option(QStringLiteral("ControlPath=none"));
    for (const QString& line : *options)
        args << option(line);
    args << QStringLiteral("--") << *server.deviceAlias << command;
    return args;
}

std::optional<QStringList> SshCommand::lookup(const QString& host, std::optional<int> port,
    const std::optional<QString>& user)
{
    if (!SSHConfig::isValidHost(host) || (user && !SSHConfig::isValidUser(*user)))
        return std::nullopt;
    QStringList args {QStringLiteral("-G")};
    if (port)
        args << QStringLiteral("-p") << QString::number(*port);
    if (user)
        args << QStringLiteral("-l") << *user;
    args << QStringLiteral("--") << host;
    return args;
}
