#include "support/DesktopUser.h"

#include "support/Processes.h"
#include "support/WaitUntil.h"

#include "platform/ProcessRunner.h"

#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <csignal>
#include <grp.h>
#include <unistd.h>

std::optional<DesktopUser> DesktopUser::create(SshServerFixture& sshd, const QString& name)
{
    if (!SshServerFixture::canCreateAccounts())
        return std::nullopt;
    const auto account = sshd.account(name);
    if (!account)
        return std::nullopt;
    DesktopUser desktop;
    desktop.user = *account;
    const QString ssh = account->home + QStringLiteral("/.ssh");
    if (!sshd.makeDirectory(*account, ssh))
        return std::nullopt;
    const QString key = ssh + QStringLiteral("/id_ed25519");
    const CommandResult made = ProcessRunner::run(QStringLiteral("/usr/bin/ssh-keygen"),
        {QStringLiteral("-q"), QStringLiteral("-t"), QStringLiteral("ed25519"), QStringLiteral("-N"), QString(),
            QStringLiteral("-C"), name + QStringLiteral("@desk"), QStringLiteral("-f"), key},
        std::nullopt, 30);
    if (made.status != 0 || !desktop.own(ssh))
        return std::nullopt;
    QFile pub(key + QStringLiteral(".pub"));
    if (!pub.open(QIODevice::ReadOnly))
        return std::nullopt;
    desktop.publicKey = QString::fromUtf8(pub.readAll()).trimmed();
    return desktop;
}

bool DesktopUser::writeSshConfig(const QString& text) const
{
    const QString path = user.home + QStringLiteral("/.ssh/config");
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    file.write(text.toUtf8());
    file.close();
    return own(path);
}

bool DesktopUser::own(const QString& path) const
{
    bool ok = ::chown(QFile::encodeName(path).constData(), user.uid, user.gid) == 0;
    QDirIterator it(path, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
        QDirIterator::Subdirectories);
    while (it.hasNext())
        ok = ::lchown(QFile::encodeName(it.next()).constData(), user.uid, user.gid) == 0 && ok;
    return ok;
}

DesktopUser::AsUser::AsUser(const DesktopUser& desktop)
{
    const gid_t group = desktop.user.gid;
    switched = ::setgroups(1, &group) == 0 && ::setresgid(group, group, 0) == 0
        && ::setresuid(desktop.user.uid, desktop.user.uid, 0) == 0;
}

DesktopUser::AsUser::~AsUser()
{
    if (::setresuid(0, 0, 0) == 0) {
        ::setresgid(0, 0, 0);
        ::setgroups(0, nullptr);
    }
}

void DesktopUser::enterSession(QProcess& process, const QProcessEnvironment& extra) const
{
    const uid_t uid = user.uid;
    const gid_t gid = user.gid;
    process.setChildProcessModifier([uid, gid] {
        if (::setgroups(1, &gid) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0)
            ::_exit(127);
    });
    QProcessEnvironment env;
    env.insert(QStringLiteral("PATH"), QStringLiteral("/usr/local/bin:/usr/bin:/bin"));
    env.insert(QStringLiteral("HOME"), user.home);
    env.insert(QStringLiteral("USER"), user.name);
    env.insert(QStringLiteral("LOGNAME"), user.name);
    env.insert(QStringLiteral("SHELL"), QStringLiteral("/bin/sh"));
    env.insert(QStringLiteral("LANG"), QStringLiteral("C.UTF-8"));
    env.insert(QStringLiteral("DISPLAY"), qEnvironmentVariable("DISPLAY"));
    if (QFile::exists(user.home + QStringLiteral("/.Xauthority")))
        env.insert(QStringLiteral("XAUTHORITY"), user.home + QStringLiteral("/.Xauthority"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), user.home + QStringLiteral("/run"));
    env.insert(extra);
    process.setProcessEnvironment(env);
}

QList<pid_t> DesktopUser::processes() const
{
    QList<pid_t> found;
    for (const QFileInfo& entry : QDir(QStringLiteral("/proc")).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool number = false;
        const pid_t pid = pid_t(entry.fileName().toInt(&number));
        if (!number || entry.ownerId() != user.uid)
            continue;
        const auto stat = processStat(pid);
        if (stat && stat->state != 'Z')
            found << pid;
    }
    return found;
}

bool DesktopUser::stopEverything() const
{
    for (pid_t pid : processes())
        ::kill(pid, SIGKILL);
    return waitUntil([this] { return processes().isEmpty(); });
}
