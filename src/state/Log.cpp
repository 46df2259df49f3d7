#include "state/Log.h"

#include "state/Clock.h"
#include "state/Paths.h"

#include <QFile>
#include <QFileInfo>

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
