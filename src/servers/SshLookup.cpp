#include "servers/SshLookup.h"

#include "platform/ProcessRunner.h"
#include "servers/SshCommand.h"

#include <QSet>
#include <QTemporaryFile>

#include <netdb.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Where ssh takes a server entry: the machine's addresses (its name when it does not resolve here, or
// when a jump host resolves it), port, login name and jump host.
struct Reach {
    QSet<QString> addresses;
    int port = 22;
    QString user;
    QString jump;
};

QSet<QString> addressesOf(const QString& host)
{
    QSet<QString> found;
    addrinfo hints {};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    if (::getaddrinfo(host.toUtf8().constData(), nullptr, &hints, &list) == 0) {
        for (const addrinfo* a = list; a; a = a->ai_next) {
            char text[NI_MAXHOST];
            if (::getnameinfo(a->ai_addr, a->ai_addrlen, text, sizeof text, nullptr, 0, NI_NUMERICHOST) == 0)
                found.insert(QString::fromLatin1(text));
        }
        ::freeaddrinfo(list);
    }
    if (found.isEmpty())
        found.insert(host.toLower());
    return found;
}

std::optional<Reach> reach(const Server& s)
{
    if (s.isDevice() || !s.user || s.user->isEmpty())
        return std::nullopt;
    const auto resolved = SshLookup::run(s.host, s.port == 22 ? std::nullopt : std::optional<int>(s.port), s.user);
    Reach r;
    r.user = resolved ? resolved->user : *s.user;
    r.port = resolved ? resolved->port : s.port;
    const QString host = resolved ? resolved->hostname : s.host;
    const auto jump = s.proxyJump ? s.proxyJump : resolved ? resolved->proxyJump : std::nullopt;
    r.jump = jump.value_or(QString()).toLower();
    r.addresses = r.jump.isEmpty() ? addressesOf(host) : QSet<QString>{host.toLower()};
    return r;
}

} // namespace

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

std::optional<Server> SshLookup::sameAccount(const Server& server, const QList<Server>& others)
{
    std::optional<Reach> mine;
    for (const Server& other : others) {
        if (other.id == server.id)
            continue;
        if (!mine && !(mine = reach(server)))
            return std::nullopt;
        const auto theirs = reach(other);
        if (theirs && theirs->user == mine->user && theirs->port == mine->port && theirs->jump == mine->jump
            && theirs->addresses.intersects(mine->addresses))
            return other;
    }
    return std::nullopt;
}
