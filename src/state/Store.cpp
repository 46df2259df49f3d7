#include "state/Store.h"

#include "state/AtomicFile.h"
#include "state/Json.h"
#include "state/Log.h"
#include "state/Paths.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

Store::Store(QString directory) : dir(std::move(directory)) {}

QString Store::path(const QString& name) const { return dir + QLatin1Char('/') + name; }

void Store::setAside(const QString& name, const QString& reason) const
{
    const auto moved = AtomicFile::keepAside(path(name));
    Log::write(QStringLiteral("状态：%1 读不了（%2），%3，先用默认值")
                   .arg(name, reason,
                        moved ? QStringLiteral("原文件留在 %1").arg(QFileInfo(*moved).fileName())
                              : QStringLiteral("原文件也挪不开")));
}

std::optional<QJsonObject> Store::read(const QString& name, qint64 limit) const
{
    // Opened without blocking and checked before reading: a FIFO or device put here must not hang us.
    const int fd = ::open(QFile::encodeName(path(name)).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno != ENOENT)
            Log::write(QStringLiteral("状态：%1 打不开（%2）").arg(name, QString::fromLocal8Bit(std::strerror(errno))));
        return std::nullopt;
    }
    QFile file;
    file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle);
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        file.close();
        setAside(name, QStringLiteral("不是普通文件"));
        return std::nullopt;
    }
    // Read for its size only (the largest limit is far more than any file holds), and to its end if it grew.
    QByteArray bytes;
    if (info.st_size <= limit) {
        bytes = file.read(info.st_size + 1);
        if (bytes.size() > info.st_size)
            bytes += file.read(limit + 1 - bytes.size());
    }
    if (info.st_size > limit || bytes.size() > limit) {
        file.close();
        setAside(name, QStringLiteral("文件太大"));
        return std::nullopt;
    }
    try {
        return Json::decodeObject(bytes);
    } catch (const JsonError& e) {
        file.close();
        setAside(name, e.text());
        return std::nullopt;
    }
}

bool Store::write(const QString& name, const QJsonObject& object) const
{
    Paths::ensure(dir);
    if (const Outcome<> written = AtomicFile::write(path(name), Json::encode(object), 0600); !written.ok()) {
        Log::write(QStringLiteral("状态：%1 没写进去（%2）").arg(name, written.failure()));
        return false;
    }
    return true;
}

Settings Store::loadSettings() const
{
    return decode<Settings>(QStringLiteral("settings.json"), &Settings::fromJson).value_or(Settings{});
}

void Store::saveSettings(const Settings& settings) const { write(QStringLiteral("settings.json"), settings.toJson()); }

StateFile Store::loadState() const
{
    return decode<StateFile>(QStringLiteral("state.json"), &StateFile::fromJson, StateFile::largestFileBytes)
        .value_or(StateFile{});
}

void Store::saveState(const StateFile& state) const { write(QStringLiteral("state.json"), state.toJson()); }

std::optional<Seq> Store::loadSeq() const { return decode<Seq>(QStringLiteral("seq.json"), &Seq::fromJson); }

void Store::saveSeq(const Seq& seq) const { write(QStringLiteral("seq.json"), seq.toJson()); }
