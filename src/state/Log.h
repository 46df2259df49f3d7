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

    // The last `pieces` pieces of a log file split at line feeds, empty pieces kept (a final line feed
    // yields an empty last piece), joined again with line feeds. Read from the end of the file, so a long
    // log costs no more than its tail. Empty when the file cannot be read or the tail is not UTF-8.
    static QString tail(const QString& path, int pieces);
};
