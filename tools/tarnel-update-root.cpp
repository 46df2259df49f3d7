// tarnel-update-root: the administrator step of an update. The install script runs it through pkexec,
// from the installed bundle (owned by root, never written at update time), when the user cannot replace
// that bundle. The staged bundle belongs to the user and may change at any time, so this copies it into a
// folder of its own first, checks the publisher's signature on that copy, and puts the copy in place:
// owned by root, folders 0755, files 0644 or 0755.
//   tarnel-update-root <staged tarnel.app> <installed tarnel.app>

#include "platform/BundleCheck.h"
#include "platform/Fd.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

extern const char* const publisherKeys;

namespace {

// The same bounds as an update archive's unpacked contents.
constexpr qint64 maxBytes = qint64(1) << 30;
constexpr int maxEntries = 20000;
constexpr int maxDepth = 64;

void say(const QString& text) { std::fprintf(stderr, "tarnel-update-root：%s\n", text.toUtf8().constData()); }

struct Budget {
    qint64 bytes = 0;
    int entries = 0;
};

bool copyFile(int fromDir, int toDir, const char* name, bool executable, Budget& budget)
{
    // Not following a link, and not hanging on a FIFO put there meanwhile.
    const Fd in(::openat(fromDir, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat info {};
    if (in.get() < 0 || ::fstat(in.get(), &info) != 0 || !S_ISREG(info.st_mode))
        return false;
    const mode_t mode = executable ? 0755 : 0644;
    const Fd out(::openat(toDir, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
    if (out.get() < 0 || ::fchown(out.get(), 0, 0) != 0 || ::fchmod(out.get(), mode) != 0)
        return false;
    char buffer[1 << 16];
    for (;;) {
        const ssize_t n = ::read(in.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            return true;
        budget.bytes += n;
        if (budget.bytes > maxBytes)
            return false;
        for (ssize_t done = 0; done < n;) {
            const ssize_t written = ::write(out.get(), buffer + done, size_t(n - done));
            if (written < 0 && errno == EINTR)
                continue;
            if (written <= 0)
                return false;
            done += written;
        }
    }
}

// Copies the folder's entries without following any link: files by content, links as links (the
// manifest check refuses one that leaves the bundle), folders below; anything else fails.
bool copyTree(int fromDir, int toDir, int depth, Budget& budget)
{
    if (depth > maxDepth)
        return false;
    const int listed = ::dup(fromDir);
    DIR* dir = listed >= 0 ? ::fdopendir(listed) : nullptr;
    if (!dir) {
        if (listed >= 0)
            ::close(listed);
        return false;
    }
    bool ok = true;
    while (ok) {
        errno = 0;
        const dirent* entry = ::readdir(dir);
        if (!entry) {
            ok = errno == 0;
            break;
        }
        const char* name = entry->d_name;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0)
            continue;
        if (++budget.entries > maxEntries) {
            ok = false;
            break;
        }
        struct stat info {};
        if (::fstatat(fromDir, name, &info, AT_SYMLINK_NOFOLLOW) != 0) {
            ok = false;
        } else if (S_ISDIR(info.st_mode)) {
            const Fd from(::openat(fromDir, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
            ok = from.get() >= 0 && ::mkdirat(toDir, name, 0755) == 0;
            const Fd to(ok ? ::openat(toDir, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC) : -1);
            ok = ok && to.get() >= 0 && ::fchown(to.get(), 0, 0) == 0 && ::fchmod(to.get(), 0755) == 0
                && copyTree(from.get(), to.get(), depth + 1, budget);
        } else if (S_ISREG(info.st_mode)) {
            ok = copyFile(fromDir, toDir, name, (info.st_mode & S_IXUSR) != 0, budget);
        } else if (S_ISLNK(info.st_mode)) {
            QByteArray target(4096, '\0');
            const ssize_t n = ::readlinkat(fromDir, name, target.data(), size_t(target.size()));
            ok = n > 0 && n < target.size();
            if (ok) {
                target.truncate(n);
                ok = ::symlinkat(target.constData(), toDir, name) == 0
                    && ::fchownat(toDir, name, 0, 0, AT_SYMLINK_NOFOLLOW) == 0;
            }
        } else {
            ok = false;
        }
    }
    ::closedir(dir);
    return ok;
}

bool copyBundle(const QString& from, const QString& to)
{
    const Fd source(::open(QFile::encodeName(from).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (source.get() < 0 || ::mkdir(QFile::encodeName(to).constData(), 0755) != 0)
        return false;
    const Fd target(::open(QFile::encodeName(to).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    Budget budget;
    return target.get() >= 0 && ::fchown(target.get(), 0, 0) == 0 && ::fchmod(target.get(), 0755) == 0
        && copyTree(source.get(), target.get(), 0, budget);
}

bool rename(const QString& from, const QString& to)
{
    return ::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0;
}

bool exists(const QString& path)
{
    struct stat info {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0;
}

// Only root can have changed it: root owns it and it is not writable by others, unless it is a folder
// whose sticky bit keeps others from moving what root put there. Links are never followed.
bool rootsOwn(const struct stat& info)
{
    return info.st_uid == 0 && ((info.st_mode & 022) == 0 || (S_ISDIR(info.st_mode) && (info.st_mode & S_ISVTX)));
}

// The folder and every folder above it belong to root alone; `path` is already without links. The folder
// itself is not writable by others even with a sticky bit: there anyone could put a tarnel.app.old or a
// work folder of their own beside the bundle and block every update.
bool onlyRootCanChange(const QString& path)
{
    for (QString folder = path;; folder = QFileInfo(folder).path()) {
        struct stat info {};
        if (::lstat(QFile::encodeName(folder).constData(), &info) != 0 || !S_ISDIR(info.st_mode) || !rootsOwn(info)
            || (folder == path && (info.st_mode & 022) != 0))
            return false;
        if (folder == QLatin1String("/"))
            return true;
    }
}

// An installed bundle root owns: a real folder, not a link to one.
bool installedBundle(const QString& path)
{
    struct stat info {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 && S_ISDIR(info.st_mode) && rootsOwn(info);
}

// The checked copy into place, the old bundle put back when that fails.
bool swap(const QString& copy, const QString& installed)
{
    const QString old = installed + QStringLiteral(".old");
    // A run that stopped between its two moves left only the old copy: put it back first, never delete it.
    if (!exists(installed) && exists(old) && !rename(old, installed))
        return false;
    if (exists(old) && !QDir(old).removeRecursively())
        return false;
    if (exists(installed) && !rename(installed, old))
        return false;
    if (!rename(copy, installed)) {
        if (exists(old))
            rename(old, installed);
        return false;
    }
    QDir(old).removeRecursively();
    return true;
}

int run(const QString& staged, const QString& installed)
{
    if (::geteuid() != 0) {
        say(QStringLiteral("要以管理员身份运行"));
        return 1;
    }
    ::umask(022);
    if (!QFileInfo(staged).isAbsolute() || !QFileInfo(installed).isAbsolute()
        || QFileInfo(installed).fileName() != QLatin1String("tarnel.app")) {
        say(QStringLiteral("路径不对"));
        return 1;
    }
    // The bundle to replace is one already installed, in folders nobody but root can change, so nothing
    // moves between these checks and the swap; a link at it or at its old copy is never followed.
    const QString parent = QFileInfo(QFileInfo(installed).absolutePath()).canonicalFilePath();
    if (parent.isEmpty() || !onlyRootCanChange(parent)) {
        say(QStringLiteral("%1 不在只有管理员能改的文件夹里").arg(installed));
        return 1;
    }
    const QString target = parent + QStringLiteral("/tarnel.app");
    const QString old = target + QStringLiteral(".old");
    const QString current = exists(target) ? target : old;
    if (!installedBundle(current) || (exists(old) && !installedBundle(old))) {
        say(QStringLiteral("%1 不是装好的 tarnel.app").arg(installed));
        return 1;
    }
    const std::optional<qint64> now = BundleCheck::build(current);
    if (!now) {
        say(QStringLiteral("读不出已装版本的版本号"));
        return 1;
    }
    // A folder only root can enter, beside the target so the last step is a rename.
    QByteArray pattern = QFile::encodeName(parent + QStringLiteral("/.tarnel-update-XXXXXX"));
    if (!::mkdtemp(pattern.data())) {
        say(QStringLiteral("建不了临时文件夹：%1").arg(QString::fromLocal8Bit(std::strerror(errno))));
        return 1;
    }
    const QString work = QFile::decodeName(pattern);
    const QString copy = work + QStringLiteral("/tarnel.app");
    const auto fail = [&](const QString& why) {
        say(why);
        QDir(work).removeRecursively();
        return 1;
    };
    if (!copyBundle(staged, copy))
        return fail(QStringLiteral("复制不了新版本（读不了、有特殊文件或太大）"));
    const QList<QByteArray> keys = BundleCheck::decodeKeys(QString::fromLatin1(publisherKeys));
    if (const auto problem = BundleCheck::verify(copy, std::nullopt, keys.isEmpty() ? std::nullopt : std::optional(keys)))
        return fail(*problem);
    // A signed older release is no update.
    if (BundleCheck::build(copy) <= now)
        return fail(QStringLiteral("新版本不比已装的新"));
    if (!swap(copy, target))
        return fail(QStringLiteral("换不了 %1").arg(installed));
    QDir(work).removeRecursively();
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fputs("用法：tarnel-update-root 新版本的tarnel.app 要换掉的tarnel.app\n", stderr);
        return 2;
    }
    return run(QFile::decodeName(argv[1]), QFile::decodeName(argv[2]));
}
