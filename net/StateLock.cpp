#include "StateLock.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

bool StateLock::acquire(const QString& stateDir, int waitMs)
{
    const QByteArray path = QFile::encodeName(QDir(stateDir).filePath(QStringLiteral("lock")));
    fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    QElapsedTimer clock;
    clock.start();
    while (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (clock.elapsed() >= waitMs)
            return false;
        QThread::msleep(50);
    }
    return true;
}
