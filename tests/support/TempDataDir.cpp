#include "support/TempDataDir.h"

#include "state/Log.h"

#include <QDir>
#include <QFile>
#include <sys/stat.h>

TempDataDir::TempDataDir()
{
    qputenv("TARNEL_DATA", dir.path().toUtf8());
    Log::setFile(dir.filePath(QStringLiteral("logs/tarnel.log")));
}

void TempDataDir::usePrivateRuntimeDir() const
{
    const QString runtime = dir.filePath(QStringLiteral("run"));
    QDir().mkpath(runtime);
    ::chmod(QFile::encodeName(runtime).constData(), 0700);
    qputenv("XDG_RUNTIME_DIR", runtime.toUtf8());
}

QStringList TempDataDir::logLines() const
{
    Log::flush();
    const QString text = QString::fromUtf8(readFile(Log::file()));
    QStringList lines = text.split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeWholeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

int fileMode(const QString& path)
{
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return -1;
    return int(st.st_mode & 07777);
}
