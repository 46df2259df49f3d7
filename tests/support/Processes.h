#pragma once

#include <QList>
#include <optional>
#include <sys/types.h>

// What tests read of other processes from /proc.
struct ProcessStat {
    char state = '?'; // 'Z' once it has ended and waits to be reaped
    pid_t parent = -1;
    long long cpuTicks = 0; // user and system time so far, in clock ticks
    long long residentBytes = 0;
};

std::optional<ProcessStat> processStat(pid_t pid);

// Running, not a zombie.
bool processAlive(qint64 pid);

// Leaves out the processes whose parent is also in the list: a fork that has not yet run exec shows its
// parent's program.
QList<pid_t> withoutForkedChildren(const QList<pid_t>& pids);
