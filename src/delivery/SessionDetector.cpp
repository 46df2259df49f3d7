#include "delivery/SessionDetector.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>

#include <unistd.h>

namespace {

const QString valueOptions = QStringLiteral("BbcDEeFIiJLlmOopQRSWw");
const QString refusedFlags = QStringLiteral("NGs");
const QString refusedValueOptions = QStringLiteral("WO");

struct Parsed {
    std::optional<QString> user;
    std::optional<int> port;
    bool refused = false;
};

std::optional<int> portNumber(const QString& text)
{
    bool ok = false;
    const int port = text.toInt(&ok);
    return ok && port >= 1 && port <= 65535 ? std::optional<int>(port) : std::nullopt;
}

bool samePath(const QString& a, const QString& b)
{
    if (a == b)
        return true;
    const QString canonical = QFileInfo(a).canonicalFilePath();
    return !canonical.isEmpty() && canonical == QFileInfo(b).canonicalFilePath();
}

// ssh keeps the first value it is given for an option.
void option(QChar letter, const QString& value, const QString& ownConfig, Parsed& p)
{
    if (refusedValueOptions.contains(letter))
        p.refused = true;
    else if (letter == QLatin1Char('F') && !ownConfig.isEmpty() && samePath(value, ownConfig))
        p.refused = true;
    else if (letter == QLatin1Char('l') && !p.user)
        p.user = value;
    else if (letter == QLatin1Char('p') && !p.port)
        p.port = portNumber(value);
    else if (letter == QLatin1Char('o')) {
        const qsizetype split = value.indexOf(QRegularExpression(QStringLiteral("[=\\s]")));
        if (split <= 0)
            return;
        const QString key = value.left(split).toLower();
        QString rest = value.mid(split + 1).trimmed();
        if (rest.startsWith(QLatin1Char('=')))
            rest = rest.mid(1).trimmed();
        if (key == QLatin1String("user") && !p.user)
            p.user = rest;
        else if (key == QLatin1String("port") && !p.port)
            p.port = portNumber(rest);
    }
}

// Consumes options from `i` on; stops at the first word that is not one. False on a malformed run.
bool options(const QStringList& argv, qsizetype& i, const QString& ownConfig, Parsed& p)
{
    while (i < argv.size()) {
        const QString& arg = argv[i];
        if (arg == QLatin1String("--")) {
            ++i;
            return true;
        }
        if (!arg.startsWith(QLatin1Char('-')) || arg.size() < 2)
            return true;
        ++i;
        for (qsizetype k = 1; k < arg.size(); ++k) {
            const QChar letter = arg[k];
            if (valueOptions.contains(letter)) {
                QString value = arg.mid(k + 1);
                if (value.isEmpty()) {
                    if (i >= argv.size())
                        return false;
                    value = argv[i++];
                }
                option(letter, value, ownConfig, p);
                break;
            }
            if (refusedFlags.contains(letter))
                p.refused = true;
        }
    }
    return true;
}

// "ssh://[user@]host[:port]" or "[user@]host"; the host may be a bracketed IPv6 address.
bool destination(const QString& word, Parsed& p, QString& host)
{
    QString rest = word;
    const bool url = rest.startsWith(QLatin1String("ssh://"));
    if (url)
        rest = rest.mid(6);
    const qsizetype at = rest.lastIndexOf(QLatin1Char('@'));
    std::optional<QString> user;
    if (at >= 0) {
        user = rest.left(at);
        rest = rest.mid(at + 1);
    }
    std::optional<int> port;
    if (rest.startsWith(QLatin1Char('['))) {
        const qsizetype close = rest.indexOf(QLatin1Char(']'));
        if (close < 0)
            return false;
        host = rest.mid(1, close - 1);
        const QString after = rest.mid(close + 1);
        if (url && after.startsWith(QLatin1Char(':')))
            port = portNumber(after.mid(1));
        else if (!after.isEmpty())
            return false;
    } else if (url && rest.count(QLatin1Char(':')) == 1) {
        host = rest.section(QLatin1Char(':'), 0, 0);
        port = portNumber(rest.section(QLatin1Char(':'), 1));
    } else {
        host = rest;
    }
    if (url && rest.endsWith(QLatin1Char('/')))
        host.chop(1);
    if (host.isEmpty() || host.contains(QRegularExpression(QStringLiteral("[\\s/]"))))
        return false;
    // Options given before the destination win, as in ssh.
    if (!p.user && user && !user->isEmpty())
        p.user = user;
    if (!p.port && port)
        p.port = port;
    return true;
}

QByteArray readProc(pid_t pid, const char* what)
{
    QFile file(QStringLiteral("/proc/%1/%2").arg(pid).arg(QLatin1String(what)));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

std::optional<SSHSession> SessionDetector::parse(const QStringList& argv, const QString& ownConfigPath)
{
    Parsed p;
    qsizetype i = 1;
    if (!options(argv, i, ownConfigPath, p) || i >= argv.size())
        return std::nullopt;
    QString host;
    if (!destination(argv[i++], p, host))
        return std::nullopt;
    // ssh reads options after the destination too, up to the remote command.
    if (!options(argv, i, ownConfigPath, p))
        return std::nullopt;
    if (p.refused)
        return std::nullopt;
    if (i < argv.size() && argv[i].startsWith(QLatin1String("git-")))
        return std::nullopt; // git's own background connections
    return SSHSession { p.user, host, p.port };
}

QList<SSHSession> SessionDetector::activeSessions(pid_t ownPID, const QString& ownConfigPath)
{
    QList<pid_t> pids;
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool number = false;
        const pid_t pid = pid_t(entry.toInt(&number));
        if (number)
            pids << pid;
    }
    std::sort(pids.begin(), pids.end());

    const uid_t me = ::getuid();
    QList<SSHSession> sessions;
    QSet<SSHSession> seen;
    for (const pid_t pid : pids) {
        if (readProc(pid, "comm").trimmed() != "ssh")
            continue;
        bool mine = false;
        pid_t parent = -1;
        for (const QByteArray& line : readProc(pid, "status").split('\n')) {
            if (line.startsWith("Uid:"))
                mine = line.mid(4).simplified().split(' ').value(0).toUInt() == me;
            else if (line.startsWith("PPid:"))
                parent = pid_t(line.mid(5).trimmed().toInt());
        }
        if (!mine || parent == ownPID)
            continue;
        QByteArray cmdline = readProc(pid, "cmdline");
        if (cmdline.endsWith('\0'))
            cmdline.chop(1);
        QStringList argv;
        for (const QByteArray& arg : cmdline.split('\0'))
            argv << QString::fromLocal8Bit(arg);
        const auto session = parse(argv, ownConfigPath);
        if (session && !seen.contains(*session)) {
            seen.insert(*session);
            sessions << *session;
        }
    }
    return sessions;
}
