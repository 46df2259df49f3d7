#include "state/Paths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
QString computeDataDirectory()
{
    if (auto override = Paths::dataOverride())
        return QDir::cleanPath(*override);
    QString base = qEnvironmentVariable("XDG_DATA_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QDir::homePath() + QStringLiteral("/.local/share");
    return QDir::cleanPath(base + QStringLiteral("/tarnel"));
}

// A folder for this user alone, made with mkdir and checked without following a link: a link or a
// folder someone else put at that name is never used, nor has its mode changed.
bool privateFolder(const QString& dir)
{
    const QByteArray path = QFile::encodeName(dir);
    if (::mkdir(path.constData(), 0700) != 0 && errno != EEXIST)
        return false;
    const int fd = ::open(path.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st {};
    const bool ours = ::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid()
        && ((st.st_mode & 077) == 0 || ::fchmod(fd, 0700) == 0);
    ::close(fd);
    return ours;
}
} // namespace

std::optional<QString> Paths::dataOverride()
{
    const QString value = qEnvironmentVariable("TARNEL_DATA");
    if (value.isEmpty())
        return std::nullopt;
    return value;
}

QString Paths::dataDirectory()
{
    static const QString dir = computeDataDirectory();
    return dir;
}

QString Paths::inData(const QString& name) { return dataDirectory() + QLatin1Char('/') + name; }

QString Paths::controlDirectory()
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QDir::isAbsolutePath(runtime) && QFileInfo(runtime).isDir()) {
        const QString dir = runtime + QStringLiteral("/tarnel");
        if (privateFolder(dir))
            return dir;
    }
    const QString dir = QDir::tempPath() + QStringLiteral("/tarnel-%1").arg(::getuid());
    if (privateFolder(dir))
        return dir;
    // Someone else holds that name: take a fresh private folder instead of trusting theirs.
    static const QString fallback = [] {
        QByteArray pattern = QFile::encodeName(QDir::tempPath()) + "/tarnel-XXXXXX";
        return ::mkdtemp(pattern.data()) ? QFile::decodeName(pattern) : QString();
    }();
    return fallback;
}

std::optional<QString> Paths::netBinary()
{
    const QString dir = QCoreApplication::applicationDirPath();
    if (dir.isEmpty())
        return std::nullopt;
    const QString path = dir + QStringLiteral("/tarnel-net");
    if (::access(QFile::encodeName(path).constData(), X_OK) != 0 || !QFileInfo(path).isFile())
        return std::nullopt;
    return path;
}

bool Paths::ensure(const QString& dir)
{
    const QByteArray path = QFile::encodeName(dir);
    bool made = QDir().mkpath(dir);
    if (made) {
        // mkpath follows the umask; parents we create are tightened too when they are ours.
        made = ::chmod(path.constData(), 0700) == 0;
    }
    return made;
}
