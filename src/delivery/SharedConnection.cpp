#include "delivery/SharedConnection.h"

#include "platform/Fd.h"

#include <QElapsedTimer>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// Message numbers and the protocol version of ssh's control socket.
constexpr quint32 helloMessage = 0x00000001;
constexpr quint32 newSessionRequest = 0x10000002;
constexpr quint32 terminateRequest = 0x10000005;
constexpr quint32 okReply = 0x80000001;
constexpr quint32 exitMessage = 0x80000004;
constexpr quint32 sessionOpenedReply = 0x80000006;
constexpr quint32 protocolVersion = 4;
constexpr quint32 noEscapeCharacter = 0xffffffff;
constexpr quint32 requestId = 1;
constexpr int tickMs = 50;
constexpr int exitStatusWhenCut = 255; // what ssh answers when the connection goes

void putNumber(QByteArray& into, quint32 value)
{
    const char bytes[4] = { char(value >> 24), char(value >> 16), char(value >> 8), char(value) };
    into.append(bytes, 4);
}

void putText(QByteArray& into, const QByteArray& text)
{
    putNumber(into, quint32(text.size()));
    into.append(text);
}

quint32 numberAt(const QByteArray& bytes, qsizetype at)
{
    const auto byte = [&](qsizetype i) { return quint32(quint8(bytes[at + i])); };
    return byte(0) << 24 | byte(1) << 16 | byte(2) << 8 | byte(3);
}

QByteArray packet(const QByteArray& body)
{
    QByteArray framed;
    putNumber(framed, quint32(body.size()));
    return framed + body;
}

bool sendAll(int socket, const QByteArray& bytes)
{
    qsizetype sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(socket, bytes.constData() + sent, size_t(bytes.size() - sent), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        sent += n;
    }
    return true;
}

// One descriptor with a single byte, as the master reads them.
bool sendDescriptor(int socket, int fd)
{
    char byte = 0;
    iovec data { &byte, 1 };
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] {};
    msghdr message {};
    message.msg_iov = &data;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    cmsghdr* header = CMSG_FIRSTHDR(&message);
    header->cmsg_level = SOL_SOCKET;
    header->cmsg_type = SCM_RIGHTS;
    header->cmsg_len = CMSG_LEN(sizeof(int));
    std::memcpy(CMSG_DATA(header), &fd, sizeof(int));
    ssize_t n;
    do
        n = ::sendmsg(socket, &message, MSG_NOSIGNAL);
    while (n < 0 && errno == EINTR);
    return n == 1;
}

// The master's socket, when one listens at the path and runs as this user.
bool connectToMaster(Fd& socket, const QString& path)
{
    const QByteArray name = QFile::encodeName(path);
    sockaddr_un address {};
    if (name.isEmpty() || size_t(name.size()) >= sizeof address.sun_path)
        return false;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, name.constData(), size_t(name.size()));
    socket.reset(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!socket.open() || ::connect(socket.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        return false;
    ucred peer {};
    socklen_t length = sizeof peer;
    return ::getsockopt(socket.get(), SOL_SOCKET, SO_PEERCRED, &peer, &length) == 0 && peer.uid == ::geteuid();
}

// Packets as they come in on the socket.
class Inbox {
public:
    // Reads what is there now; false once the master closed the socket or it failed.
    bool receive(int socket)
    {
        char buffer[4096];
        for (;;) {
            const ssize_t n = ::recv(socket, buffer, sizeof buffer, MSG_DONTWAIT);
            if (n > 0) {
                bytes.append(buffer, n);
                continue;
            }
            return n < 0 && (errno == EAGAIN || errno == EINTR);
        }
    }
    // The next whole packet's body, if one is complete.
    std::optional<QByteArray> next()
    {
        if (bytes.size() < 4 || bytes.size() < 4 + qsizetype(numberAt(bytes, 0)))
            return std::nullopt;
        const qsizetype length = numberAt(bytes, 0);
        QByteArray body = bytes.mid(4, length);
        bytes.remove(0, 4 + length);
        return body;
    }

private:
    QByteArray bytes;
};

} // namespace

std::optional<CommandResult> SharedConnection::run(const QString& socketPath, const QString& command,
    const std::optional<QByteArray>& input, double timeoutSeconds, const ProcessRunner::CancelToken& cancel)
{
    Fd socket;
    if (!connectToMaster(socket, socketPath))
        return std::nullopt;
    QByteArray hello;
    putNumber(hello, helloMessage);
    putNumber(hello, protocolVersion);
    QByteArray request;
    putNumber(request, newSessionRequest);
    putNumber(request, requestId);
    putText(request, {}); // reserved
    for (int flag = 0; flag < 4; ++flag)
        putNumber(request, 0); // no tty, no X11, no agent, not a subsystem: the master reads each as a number
    putNumber(request, noEscapeCharacter);
    putText(request, {}); // terminal type
    putText(request, command.toUtf8());

    // The remote side's stdin comes from a socket pair (a write into a closed one raises no signal), its
    // output and errors go into pipes.
    Fd inOurs, inTheirs, outRead, outWrite, errRead, errWrite;
    int pair[2];
    if (input && ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) == 0) {
        inOurs.reset(pair[0]);
        inTheirs.reset(pair[1]);
    } else if (!input) {
        inTheirs.reset(::open("/dev/null", O_RDONLY | O_CLOEXEC));
    }
    if (!inTheirs.open() || !Fd::makePipe(outRead, outWrite) || !Fd::makePipe(errRead, errWrite))
        return std::nullopt;
    if (!sendAll(socket.get(), packet(hello)) || !sendAll(socket.get(), packet(request)) ||
        !sendDescriptor(socket.get(), inTheirs.get()) || !sendDescriptor(socket.get(), outWrite.get()) ||
        !sendDescriptor(socket.get(), errWrite.get()))
        return std::nullopt;
    inTheirs.close();
    outWrite.close();
    errWrite.close();
    if (inOurs.open()) {
        Fd::setNonBlocking(inOurs.get());
        if (input->isEmpty())
            inOurs.close();
    }
    Fd::setNonBlocking(outRead.get());
    Fd::setNonBlocking(errRead.get());

    CommandResult result;
    QByteArray out, err;
    Inbox inbox;
    bool greeted = false, opened = false, exited = false;
    qsizetype written = 0;
    QElapsedTimer clock;
    clock.start();
    const qint64 timeoutMs = qint64(timeoutSeconds * 1000);
    while (socket.open() || outRead.open() || errRead.open()) {
        if (exited && !outRead.open() && !errRead.open())
            break;
        if (cancel.isCancelled() || clock.elapsed() >= timeoutMs || out.size() > ProcessRunner::outputCap ||
            err.size() > ProcessRunner::outputCap) {
            // Closing the socket makes the master end the session.
            result.cancelled = cancel.isCancelled();
            result.timedOut = !result.cancelled && clock.elapsed() >= timeoutMs;
            result.overflowed = !result.cancelled && !result.timedOut;
            break;
        }
        pollfd fds[4];
        int count = 0;
        const auto watch = [&](const Fd& fd, short events) {
            if (!fd.open())
                return -1;
            fds[count] = { fd.get(), events, 0 };
            return count++;
        };
        const int socketIndex = watch(socket, POLLIN);
        const int inIndex = watch(inOurs, POLLOUT);
        const int outIndex = watch(outRead, POLLIN);
        const int errIndex = watch(errRead, POLLIN);
        if (::poll(fds, nfds_t(count), tickMs) < 0 && errno != EINTR)
            break;

        if (socketIndex >= 0 && fds[socketIndex].revents) {
            const bool open = inbox.receive(socket.get());
            while (const auto body = inbox.next()) {
                const quint32 type = body->size() >= 4 ? numberAt(*body, 0) : 0;
                if (!greeted) {
                    if (type != helloMessage || body->size() < 8 || numberAt(*body, 4) != protocolVersion)
                        return std::nullopt;
                    greeted = true;
                } else if (type == sessionOpenedReply) {
                    opened = true;
                } else if (type == exitMessage && body->size() >= 12) {
                    result.status = qint32(numberAt(*body, 8));
                    exited = true;
                } else if (type != okReply && !opened) {
                    return std::nullopt; // refused: nothing ran
                }
            }
            if (!open) {
                if (!opened)
                    return std::nullopt;
                socket.close();
                if (!exited)
                    result.status = exitStatusWhenCut;
                exited = true;
            }
        }
        if (inIndex >= 0 && fds[inIndex].revents) {
            const ssize_t n = ::send(inOurs.get(), input->constData() + written, size_t(input->size() - written), MSG_NOSIGNAL);
            if (n > 0)
                written += n;
            if ((n < 0 && errno != EAGAIN && errno != EINTR) || written == input->size())
                inOurs.close();
        }
        if (outIndex >= 0 && fds[outIndex].revents)
            Fd::drain(outRead, out, ProcessRunner::outputCap);
        if (errIndex >= 0 && fds[errIndex].revents)
            Fd::drain(errRead, err, ProcessRunner::outputCap);
    }
    if (!exited && !result.cancelled && !result.timedOut && !result.overflowed)
        result.status = exitStatusWhenCut;
    result.stdout = QString::fromUtf8(out.left(ProcessRunner::outputCap));
    result.stderr = QString::fromUtf8(err.left(ProcessRunner::outputCap));
    return result;
}

bool SharedConnection::close(const QString& socketPath, double timeoutSeconds)
{
    Fd socket;
    if (!connectToMaster(socket, socketPath))
        return false;
    QByteArray hello, request;
    putNumber(hello, helloMessage);
    putNumber(hello, protocolVersion);
    putNumber(request, terminateRequest);
    putNumber(request, requestId);
    if (!sendAll(socket.get(), packet(hello)) || !sendAll(socket.get(), packet(request)))
        return false;
    // The master greets, says ok (or that it refuses), then goes.
    Inbox inbox;
    bool greeted = false;
    std::optional<bool> ended;
    QElapsedTimer clock;
    clock.start();
    while (!ended && clock.elapsed() < qint64(timeoutSeconds * 1000)) {
        pollfd fd { socket.get(), POLLIN, 0 };
        if (::poll(&fd, 1, tickMs) < 0 && errno != EINTR)
            return false;
        const bool open = inbox.receive(socket.get());
        while (!ended) {
            const auto body = inbox.next();
            if (!body)
                break;
            const quint32 type = body->size() >= 4 ? numberAt(*body, 0) : 0;
            if (!greeted && type != helloMessage)
                return false;
            if (greeted)
                ended = type == okReply;
            greeted = true;
        }
        if (!open)
            break;
    }
    return ended.value_or(false);
}
