#include "PlainStream.h"

#include <QSocketNotifier>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
void nonBlocking(int fd) { fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK); }
} // namespace

PlainStream::PlainStream(int readFd, int writeFd, QObject* parent) : Stream(parent), in(readFd), outFd(writeFd)
{
    nonBlocking(in);
    nonBlocking(outFd);
    readable = new QSocketNotifier(in, QSocketNotifier::Read, this);
    writable = new QSocketNotifier(outFd, QSocketNotifier::Write, this);
    writable->setEnabled(false);
    connect(readable, &QSocketNotifier::activated, this, [this] {
        readable->setEnabled(false); // until the reader comes back for more
        Q_EMIT readyRead();
    });
    connect(writable, &QSocketNotifier::activated, this, &PlainStream::flush);
}

PlainStream::~PlainStream() { close(); }

QByteArray PlainStream::read(qint64 max)
{
    if (dead || eof)
        return {};
    QByteArray bytes(max, Qt::Uninitialized);
    const ssize_t n = ::read(in, bytes.data(), size_t(max));
    if (n > 0) {
        bytes.resize(n);
        return bytes;
    }
    if (n == 0) {
        eof = true;
    } else if (errno == EAGAIN || errno == EINTR) {
        readable->setEnabled(true);
    } else {
        // A reset counts as the end of what the far side sends; writing reports its own failure.
        eof = true;
    }
    return {};
}

void PlainStream::write(const QByteArray& bytes)
{
    if (dead || finishing)
        return;
    out.append(bytes);
    flush();
}

void PlainStream::flush()
{
    if (dead)
        return;
    bool progress = false;
    while (outOffset < out.size()) {
        const ssize_t n = in == outFd ? ::send(outFd, out.constData() + outOffset, size_t(out.size() - outOffset), MSG_NOSIGNAL)
                                      : ::write(outFd, out.constData() + outOffset, size_t(out.size() - outOffset));
        if (n > 0) {
            outOffset += n;
            progress = true;
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            break;
        return fail(QString::fromLocal8Bit(std::strerror(errno)));
    }
    if (outOffset == out.size()) {
        out.clear();
        outOffset = 0;
    } else if (outOffset > (1 << 20)) {
        out.remove(0, outOffset);
        outOffset = 0;
    }
    writable->setEnabled(outOffset < out.size());
    if (finishing && !finished && out.isEmpty()) {
        finished = true;
        if (in == outFd)
            ::shutdown(outFd, SHUT_WR);
        else
            ::close(std::exchange(outFd, -1));
        writable->setEnabled(false);
    }
    if (progress)
        Q_EMIT written();
}

void PlainStream::finishWrite()
{
    finishing = true;
    flush();
}

void PlainStream::fail(const QString& reason)
{
    shut();
    QMetaObject::invokeMethod(this, [this, reason] {
        if (!silent)
            Q_EMIT broken(reason);
    }, Qt::QueuedConnection);
}

void PlainStream::close()
{
    silent = true;
    shut();
}

void PlainStream::shut()
{
    if (dead)
        return;
    dead = true;
    readable->setEnabled(false);
    writable->setEnabled(false);
    if (outFd >= 0 && outFd != in)
        ::close(outFd);
    ::close(in);
}
