#include "state/Log.h"

#include "state/Clock.h"
#include "state/Paths.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>

#include <condition_variable>
#include <deque>
#include <fcntl.h>
#include <mutex>
#include <thread>
#include <unistd.h>

namespace {
class LogQueue {
public:
    LogQueue() : worker([this] { run(); }) { worker.detach(); }

    void push(QByteArray line, QString path)
    {
        std::lock_guard lock(mutex);
        pending.push_back({std::move(line), std::move(path)});
        ++queued;
        wake.notify_all();
    }

    void flush()
    {
        std::unique_lock lock(mutex);
        const quint64 target = queued;
        done.wait(lock, [&] { return written >= target; });
    }

    QString path()
    {
        std::lock_guard lock(mutex);
        if (file.isEmpty())
            file = Paths::logsDirectory() + QStringLiteral("/tarnel.log");
        return file;
    }

    void setPath(const QString& path)
    {
        std::lock_guard lock(mutex);
        file = path;
    }

private:
    struct Entry {
        QByteArray line;
        QString path;
    };

    void run()
    {
        for (;;) {
            Entry entry;
            {
                std::unique_lock lock(mutex);
                wake.wait(lock, [&] { return !pending.empty(); });
                entry = std::move(pending.front());
                pending.pop_front();
            }
            append(entry);
            {
                std::lock_guard lock(mutex);
                ++written;
            }
            done.notify_all();
        }
    }

    static void append(const Entry& entry)
    {
        Paths::ensure(QFileInfo(entry.path).absolutePath());
        const int fd = ::open(QFile::encodeName(entry.path).constData(),
                              O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
        if (fd < 0)
            return;
        const char* data = entry.line.constData();
        qsizetype left = entry.line.size();
        while (left > 0) {
            const ssize_t n = ::write(fd, data, size_t(left));
            if (n <= 0)
                break;
            data += n;
            left -= n;
        }
        ::close(fd);
    }

    std::mutex mutex;
    std::condition_variable wake;
    std::condition_variable done;
    std::deque<Entry> pending;
    quint64 queued = 0;
    quint64 written = 0;
    QString file;
    std::thread worker;
};

LogQueue& queue()
{
    // Never destroyed: lines may still be written while the process exits.
    static auto* q = new LogQueue;
    return *q;
}
} // namespace

void Log::write(const QString& message)
{
    QString text = message;
    // One event is one line: readers split the file at line feeds.
    text.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
    const QString stamp = Clock::instance().now().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    QByteArray line = QStringLiteral("[%1] %2\n").arg(stamp, text).toUtf8();
    queue().push(std::move(line), queue().path());
}

void Log::setFile(const QString& path) { queue().setPath(path); }

QString Log::file() { return queue().path(); }

void Log::flush() { queue().flush(); }

QString Log::tail(const QString& path, int pieces)
{
    if (pieces <= 0)
        return {};
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    // Walk back in blocks until the pieces-th line feed from the end is found; the tail follows it.
    constexpr qint64 block = 64 * 1024;
    qint64 end = file.size();
    QByteArray bytes;
    int feeds = 0;
    qint64 start = -1; // offset in `bytes` where the tail begins
    while (end > 0 && start < 0) {
        const qint64 from = std::max<qint64>(0, end - block);
        if (!file.seek(from))
            return {};
        const QByteArray chunk = file.read(end - from);
        if (chunk.size() != end - from)
            return {};
        for (qint64 i = chunk.size() - 1; i >= 0; --i)
            if (chunk.at(i) == '\n' && ++feeds == pieces) {
                start = i + 1;
                break;
            }
        bytes.prepend(chunk);
        end = from;
    }
    const QByteArray tailBytes = start < 0 ? bytes : bytes.mid(start);
    // Invalid UTF-8 does not survive the round trip unchanged.
    const QString text = QString::fromUtf8(tailBytes);
    return text.toUtf8() == tailBytes ? text : QString();
}
