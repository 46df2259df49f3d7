#include "state/AtomicFile.h"

#include "state/Clock.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
QString systemError() { return QString::fromLocal8Bit(std::strerror(errno)); }

void syncPath(const QString& path, int flags = 0)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | flags);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}
} // namespace

Outcome<> AtomicFile::write(const QString& path, const QByteArray& bytes, int mode)
{
    const Outcome<QString> staged = stage(path, bytes, mode);
    if (!staged.ok())
        return Outcome<>::failure(staged.failure());
    return commit(staged.value(), path);
}

Outcome<QString> AtomicFile::stage(const QString& near, const QByteArray& bytes, int mode, bool syncLater)
{
    // A name of its own per write: two threads writing one file never touch each other's temporary file.
    QByteArray tempName = QFile::encodeName(near) + ".tmp-XXXXXX";
    const int fd = ::mkostemp(tempName.data(), O_CLOEXEC);
    if (fd < 0)
        return Outcome<QString>::failure(systemError());
    ::fchmod(fd, mode); // the umask may have narrowed the mode we asked for
    const char* data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, data, size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const QString error = systemError();
            ::close(fd);
            ::unlink(tempName.constData());
            return Outcome<QString>::failure(error);
        }
        data += n;
        left -= n;
    }
    if ((!syncLater && ::fsync(fd) != 0) || ::close(fd) != 0) {
        const QString error = systemError();
        ::unlink(tempName.constData());
        return Outcome<QString>::failure(error);
    }
    return Outcome<QString>::success(QFile::decodeName(tempName));
}

void AtomicFile::syncFolder(const QString& dir) { syncPath(dir, O_DIRECTORY); }

void AtomicFile::syncFile(const QString& path) { syncPath(path); }

Outcome<> AtomicFile::commit(const QString& staged, const QString& path, bool syncLater)
{
    if (::rename(QFile::encodeName(staged).constData(), QFile::encodeName(path).constData()) != 0) {
        const QString error = systemError();
        ::unlink(QFile::encodeName(staged).constData());
        return Outcome<>::failure(error);
    }
    if (!syncLater)
        syncFolder(QFileInfo(path).absolutePath());
    return Outcome<>::success();
}

std::optional<QString> AtomicFile::keepAside(const QString& path)
{
    const QString stamp = Clock::instance().now().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString target = path + QStringLiteral(".broken-") + stamp;
    for (int i = 2; QFileInfo::exists(target); ++i)
        target = path + QStringLiteral(".broken-%1-%2").arg(stamp).arg(i);
    if (::rename(QFile::encodeName(path).constData(), QFile::encodeName(target).constData()) != 0)
        return std::nullopt;
    return target;
}
