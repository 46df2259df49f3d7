#include "servers/SshLookup.h"

#include "platform/ProcessRunner.h"
#include "servers/SshCommand.h"

#include <QTemporaryFile>

#include <pwd.h>
#include <unistd.h>

std::optional<SshLookup::Resolved> SshLookup::run(const QString& host, std::optional<int> port,
    const std::optional<QString>& user)
{
    const auto args = SshCommand::lookup(host, port, user);
    if (!args)
        return std::nullopt;
    const CommandResult result = ProcessRunner::run(ProcessRunner::sshPath(), *args, std::nullopt, 10);
    if (!result.succeeded())
        return std::nullopt;
    return parse(result.stdout);
}

std::optional<QString> SshLookup::configuredUser(const QString& host, std::optional<int> port)
{
    const auto args = SshCommand::lookup(host, port, std::nullopt);
    if (!args)
        return std::nullopt;
    // The user's and the system's configuration, in ssh's own order, then a stand-in name: ssh keeps the
    // first name it meets, so the stand-in shows only when neither named one.
    const QString standIn = QStringLiteral("tarnel-no-user-named");
    // ssh reads ~/.ssh/config from the home in the password database, not from $HOME.
    const passwd* entry = ::getpwuid(::getuid());
    QTemporaryFile config;
    if (!entry || !config.open())
        return std::nullopt;
    const QString userConfig = QFile::decodeName(entry->pw_dir) + QStringLiteral("/.ssh/config");
    if (userConfig.contains(QLatin1Char('"')) || userConfig.contains(QLatin1Char('\n')))
        return std::nullopt;
    config.write(QStringLiteral("Include \"%1\"\nInclude /etc/ssh/ssh_config\nHost *\n  User %2\n")
                     .arg(userConfig, standIn).toUtf8());
    config.flush();
    const CommandResult result = ProcessRunner::run(ProcessRunner::sshPath(),
        QStringList{QStringLiteral("-F"), config.fileName()} + *args, std::nullopt, 10);
    const auto resolved = result.succeeded() ? parse(result.stdout) : std::nullopt;
    if (!resolved || resolved->user.isEmpty() || resolved->user == standIn)
        return std::nullopt;
    return resolved->user;
}

std::optional<SshLookup::Resolved> SshLookup::parse(const QString& output)
{
    Resolved resolved;
    bool any = false;
    const QStringList lines = output.split(QLatin1Char('\n'));
    for (const QString& line : lines) {
        const qsizetype space = line.indexOf(QLatin1Char(' '));
        if (space <= 0)
            continue;
        const QString key = line.left(space);
        const QString value = line.mid(space + 1).trimmed();
        if (key == QLatin1String("hostname")) {
            resolved.hostname = value;
            any = true;
        } else if (key == QLatin1String("user")) {
            resolved.user = value;
        } else if (key == QLatin1String("port")) {
            resolved.port = value.toInt();
        } else if (key == QLatin1String("proxyjump") && value != QLatin1String("none")) {
            resolved.proxyJump = value;
        } else if (key == QLatin1String("identityfile")) {
            resolved.identityFiles << value;
        }
    }
    if (!any || resolved.port < 1 || resolved.port > 65535)
        return std::nullopt;
    return resolved;
}
