#include "support/SshServerFixture.h"

#include "platform/ProcessRunner.h"
#include "support/Processes.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QThread>

#include <arpa/inet.h>
#include <csignal>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

quint16 freeLoopbackPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    quint16 port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    ::close(fd);
    return port;
}

bool accepts(quint16 port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return ok;
}

CommandResult runTool(const QString& program, const QStringList& args, const std::optional<QByteArray>& input = {})
{
    return ProcessRunner::run(program, args, input, 30);
}

// Parent pid of a process, or -1.
// The process and everything below it.
QList<pid_t> processTree(pid_t root)
{
    QList<pid_t> tree { root };
    QList<QPair<pid_t, pid_t>> all;
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool number = false;
        const pid_t pid = pid_t(entry.toInt(&number));
        if (number)
            if (const auto stat = processStat(pid))
                all.append({ pid, stat->parent });
    }
    for (qsizetype i = 0; i < tree.size(); ++i)
        for (const auto& [pid, parent] : all)
            if (parent == tree[i] && !tree.contains(pid))
                tree.append(pid);
    return tree;
}

} // namespace

SshServerFixture::SshServerFixture()
{
    // sshd reads authorized keys as the login user: the folders on the way must be open to it.
    ::chmod(QFile::encodeName(dir.path()).constData(), 0755);
    QDir(dir.path()).mkpath(QStringLiteral("authorized_keys"));
    ::chmod(QFile::encodeName(dir.filePath(QStringLiteral("authorized_keys"))).constData(), 0755);
    makeHostKey();
}

SshServerFixture::~SshServerFixture()
{
    stop();
    removeAccounts();
}

bool SshServerFixture::makeHostKey()
{
    const QString key = dir.filePath(QStringLiteral("host_ed25519"));
    QFile::remove(key);
    QFile::remove(key + QStringLiteral(".pub"));
    return runTool(QStringLiteral("/usr/bin/ssh-keygen"),
               { QStringLiteral("-q"), QStringLiteral("-t"), QStringLiteral("ed25519"), QStringLiteral("-N"),
                   QString(), QStringLiteral("-C"), QStringLiteral("fixture"), QStringLiteral("-f"), key })
               .status == 0;
}

void SshServerFixture::replaceHostKey() { makeHostKey(); }

QString SshServerFixture::hostKeyPublicPath() const { return dir.filePath(QStringLiteral("host_ed25519.pub")); }

QString SshServerFixture::knownHostsLine() const
{
    QFile file(hostKeyPublicPath());
    file.open(QIODevice::ReadOnly);
    const QStringList words = QString::fromUtf8(file.readAll()).split(QLatin1Char(' '));
    return QStringLiteral("[%1]:%2 %3 %4").arg(host()).arg(listenPort).arg(words.value(0), words.value(1));
}

QString SshServerFixture::log() const
{
    QFile file(dir.filePath(QStringLiteral("sshd.log")));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

std::optional<QString> SshServerFixture::start()
{
    if (running())
        return std::nullopt;
    if (::getuid() == 0)
        QDir().mkpath(QStringLiteral("/run/sshd")); // privilege separation needs it
    const bool firstStart = listenPort == 0;
    for (int attempt = 0; attempt < 5; ++attempt) {
        if (firstStart)
            listenPort = freeLoopbackPort();
        const QString pidFile = dir.filePath(QStringLiteral("sshd.pid"));
        QFile::remove(pidFile);
        const QString config = QStringLiteral(
            "Port %1\n"
            "ListenAddress 127.0.0.1\n"
            "HostKey %2/host_ed25519\n"
            "PidFile %2/sshd.pid\n"
            "AuthorizedKeysFile %2/authorized_keys/%u%3\n"
            "UsePAM no\n"
            "StrictModes no\n"
            "PasswordAuthentication yes\n"
            "KbdInteractiveAuthentication no\n"
            "PermitRootLogin no\n"
            "MaxStartups 200\n"
            "LogLevel VERBOSE\n"
            "Subsystem sftp /usr/lib/openssh/sftp-server\n")
                                   .arg(listenPort)
                                   .arg(dir.path())
                                   .arg(homeKeys ? QStringLiteral(" .ssh/authorized_keys") : QString()) +
            extra + QLatin1Char('\n');
        const QString configPath = dir.filePath(QStringLiteral("sshd_config"));
        QFile file(configPath);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return QStringLiteral("cannot write sshd_config");
        file.write(config.toUtf8());
        file.close();

        // Without -D sshd binds its port, then goes to the background: when this returns it listens.
        const CommandResult r = runTool(QStringLiteral("/usr/sbin/sshd"),
            { QStringLiteral("-f"), configPath, QStringLiteral("-E"), dir.filePath(QStringLiteral("sshd.log")) });
        if (r.status != 0) {
            if (firstStart)
                continue; // most likely someone took the port in between
            return QStringLiteral("sshd failed: ") + r.stderr + log();
        }
        for (int i = 0; i < 200 && pid <= 0; ++i) {
            QFile pids(pidFile);
            if (pids.open(QIODevice::ReadOnly))
                pid = pid_t(pids.readAll().trimmed().toInt());
            if (pid <= 0)
                QThread::msleep(10);
        }
        if (pid <= 0)
            return QStringLiteral("sshd wrote no pid file");
        for (int i = 0; i < 200 && !accepts(listenPort); ++i)
            QThread::msleep(10);
        return std::nullopt;
    }
    return QStringLiteral("sshd did not start: ") + log();
}

void SshServerFixture::stop()
{
    if (pid <= 0)
        return;
    const QList<pid_t> tree = processTree(pid);
    for (pid_t p : tree)
        ::kill(p, SIGKILL);
    for (int i = 0; i < 300; ++i) {
        bool any = false;
        for (pid_t p : tree)
            any = any || processAlive(p);
        if (!any)
            break;
        QThread::msleep(10);
    }
    pid = -1;
}

bool SshServerFixture::canCreateAccounts() { return ::getuid() == 0; }

std::optional<SshServerFixture::Account> SshServerFixture::account(const QString& given)
{
    if (!canCreateAccounts()) {
        const passwd* me = ::getpwuid(::getuid());
        if (!me)
            return std::nullopt;
        const QString home = dir.filePath(QStringLiteral("home-") + given);
        QDir().mkpath(home);
        return Account { QString::fromLocal8Bit(me->pw_name), home, me->pw_uid, me->pw_gid };
    }
    const QString name = given + QLatin1Char('-')
        + QString::fromLatin1(QCryptographicHash::hash(TARNEL_SOURCE_DIR, QCryptographicHash::Sha1).toHex().left(4));
    const QString home = QStringLiteral("/home/") + name;
    // Test runs of other checkouts on the same machine use the same names: take turns per name, so
    // none deletes an account another is still using. The kernel drops the lock if the test dies.
    if (!accountLocks.contains(name)) {
        auto lock = std::make_unique<FileLock>(QStringLiteral("/tmp/tarnel-test-account-") + name + QStringLiteral(".lock"));
        if (lock->held())
            accountLocks.emplace(name, std::move(lock));
    }
    runTool(QStringLiteral("/usr/sbin/userdel"), { QStringLiteral("-r"), name });
    // useradd locks /etc/passwd: parallel test processes may have to wait for one another.
    bool made = false;
    for (int attempt = 0; attempt < 150 && !made; ++attempt) {
        made = runTool(QStringLiteral("/usr/sbin/useradd"),
                   { QStringLiteral("-m"), QStringLiteral("-d"), home, QStringLiteral("-s"), QStringLiteral("/bin/sh"),
                       QStringLiteral("-p"), QStringLiteral("*"), name })
                   .status == 0;
        if (!made)
            QThread::msleep(100);
    }
    const passwd* entry = made ? ::getpwnam(name.toLocal8Bit().constData()) : nullptr;
    if (!entry)
        return std::nullopt;
    createdAccounts << name;
    return Account { name, home, entry->pw_uid, entry->pw_gid };
}

void SshServerFixture::removeAccounts()
{
    for (const QString& name : std::as_const(createdAccounts))
        runTool(QStringLiteral("/usr/sbin/userdel"), { QStringLiteral("-r"), name });
    createdAccounts.clear();
    accountLocks.clear();
}

bool SshServerFixture::authorize(const Account& account, const QString& authorizedKeys)
{
    const QString path = dir.filePath(QStringLiteral("authorized_keys/") + account.name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    file.write(authorizedKeys.toUtf8());
    file.close();
    return ::chmod(QFile::encodeName(path).constData(), 0644) == 0;
}

bool SshServerFixture::setPassword(const Account& account, const QString& password)
{
    if (!canCreateAccounts())
        return false;
    return runTool(QStringLiteral("/usr/sbin/chpasswd"), {}, (account.name + QLatin1Char(':') + password + '\n').toUtf8())
               .status == 0;
}

bool SshServerFixture::makeDirectory(const Account& account, const QString& path)
{
    if (!QDir().mkpath(path))
        return false;
    // Every folder from the home down belongs to the account.
    QString current = path;
    while (current.startsWith(account.home) && current.size() >= account.home.size()) {
        const QByteArray name = QFile::encodeName(current);
        if (::chown(name.constData(), account.uid, account.gid) != 0 || ::chmod(name.constData(), 0700) != 0)
            return false;
        if (current == account.home)
            break;
        current = QFileInfo(current).path();
    }
    return true;
}

bool SshServerFixture::writeFile(const Account& account, const QString& path, const QByteArray& bytes, int mode)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    file.write(bytes);
    file.close();
    const QByteArray name = QFile::encodeName(path);
    return ::chown(name.constData(), account.uid, account.gid) == 0 && ::chmod(name.constData(), mode_t(mode)) == 0;
}
