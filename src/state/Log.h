#pragma once

#include <QString>

// The application log: one line per event, "[yyyy-MM-dd HH:mm:ss] message", appended on a background
// thread so callers never wait for the disk. A line that cannot be written is dropped: there is nowhere
// else to report it.
class Log {
public:
    static void write(const QString& message);

    // Redirects the log (default: <data>/logs/tarnel.log). For start-up and tests.
    static void setFile(const QString& path);
    static QString file();

    // Waits until every line written so far is on disk.
    static void flush();
};
