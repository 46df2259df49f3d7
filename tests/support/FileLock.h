#pragma once

#include <QByteArray>
#include <QString>

// A machine-wide exclusive lock on a file, for test runs that share a resource (a local account). The
// holder deletes the file when it lets go, so nothing is left behind; a waiter that was handed a file
// deleted meanwhile tries again on the one now at the path.
class FileLock {
public:
    explicit FileLock(const QString& path); // waits until held
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    bool held() const { return fd >= 0; }

private:
    QByteArray path;
    int fd = -1;
};
