#include "support/Processes.h"

#include <QFile>
#include <csignal>
#include <unistd.h>

std::optional<ProcessStat> processStat(pid_t pid)
{
    QFile file(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    // "pid (name) state ppid ...": the name may hold spaces and brackets, so read after the last ')'.
    const QByteArray text = file.readAll();
    const qsizetype close = text.lastIndexOf(')');
    if (close < 0)
        return std::nullopt;
    const QList<QByteArray> fields = text.mid(close + 2).split(' ');
    if (fields.size() < 2 || fields[0].isEmpty())
        return std::nullopt;
    // utime and stime are the 14th and 15th fields, the 12th and 13th after the name.
    const long long ticks = fields.size() > 12 ? fields[11].toLongLong() + fields[12].toLongLong() : 0;
    // rss, in pages, is the 24th.
    const long long resident = fields.size() > 21 ? fields[21].toLongLong() * ::sysconf(_SC_PAGESIZE) : 0;
    return ProcessStat{fields[0][0], pid_t(fields[1].toInt()), ticks, resident};
}

bool processAlive(qint64 pid)
{
    if (pid <= 0 || ::kill(pid_t(pid), 0) != 0)
        return false;
    const auto stat = processStat(pid_t(pid));
    return stat && stat->state != 'Z';
}

QList<pid_t> withoutForkedChildren(const QList<pid_t>& pids)
{
    QList<pid_t> kept;
    for (pid_t pid : pids) {
        const auto stat = processStat(pid);
        if (!stat || !pids.contains(stat->parent))
            kept << pid;
    }
    return kept;
}
