#include "platform/Fd.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

void Fd::reset(int value)
{
    close();
    fd = value;
}

void Fd::close()
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

bool Fd::makePipe(Fd& readEnd, Fd& writeEnd)
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return false;
    readEnd.reset(fds[0]);
    writeEnd.reset(fds[1]);
    return true;
}

void Fd::setNonBlocking(int fd) { ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK); }

bool Fd::drain(Fd& fd, QByteArray& into, qsizetype cap)
{
    char buffer[65536];
    while (into.size() <= cap) {
        const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n > 0) {
            into.append(buffer, n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN)
            return true;
        fd.close();
        return false;
    }
    return true;
}
