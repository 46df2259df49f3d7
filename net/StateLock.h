#pragma once

#include <QString>

// flock on <state>/lock: at most one `serve` per state folder. Held until the process ends.
class StateLock {
public:
    // Waits up to `waitMs` for a predecessor that is quitting; false when the folder stays taken.
    bool acquire(const QString& stateDir, int waitMs);

private:
    int fd = -1;
};
