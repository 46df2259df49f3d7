#include "support/FileLock.h"

#include <QFile>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

FileLock::FileLock(const QString& lockPath) : path(QFile::encodeName(lockPath))
{
    for (;;) {
        const int opened = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        if (opened < 0)
            return;
        struct stat mine {}, current {};
        if (::flock(opened, LOCK_EX) != 0 || ::fstat(opened, &mine) != 0) {
            ::close(opened);
            return;
        }
        // The last holder deleted the file this one waited on: the lock lives on the new file.
        if (::stat(path.constData(), &current) == 0 && current.st_ino == mine.st_ino && current.st_dev == mine.st_dev) {
            fd = opened;
            return;
        }
        ::close(opened);
    }
}

FileLock::~FileLock()
{
    if (fd < 0)
        return;
    ::unlink(path.constData()); // still held: no one else can hold this file now
    ::close(fd);
}
