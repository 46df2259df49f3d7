#pragma once

#include <QString>

// What one subprocess run gave back. A run never throws: every way it can end is described here.
struct CommandResult {
    // Exit status; 128 + signal when a signal ended it; -1 when the program could not be started.
    qint32 status = -1;
    QString stdout;
    QString stderr;
    bool timedOut = false;
    bool cancelled = false;
    bool overflowed = false; // it printed more than is kept, and was stopped

    bool succeeded() const { return status == 0 && !timedOut && !cancelled && !overflowed; }
};
