#include "link/UnixSocket.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QJsonDocument>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

class Socket {
public:
    Socket() : fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0)) {}
    ~Socket()
    {
        if (fd >= 0)
            ::close(fd);
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    int get() const { return fd; }

private:
    int fd;
};

// Waits until `fd` is ready for `events` or the deadline passes.
bool waitFor(int fd, short events, const QDeadlineTimer& deadline)
{
    for (;;) {
        pollfd p{fd, events, 0};
        const int ready = ::poll(&p, 1, int(std::max<qint64>(0, deadline.remainingTime())));
        if (ready > 0)
            return true;
        if (ready == 0 || errno != EINTR)
            return false;
    }
}

bool connectTo(int fd, const sockaddr_un& address, const QDeadlineTimer& deadline)
{
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0)
        return true;
    if (errno != EINPROGRESS && errno != EAGAIN)
        return false;
    if (!waitFor(fd, POLLOUT, deadline))
        return false;
    int error = 0;
    socklen_t size = sizeof error;
    return ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0;
}

bool sendAll(int fd, const QByteArray& bytes, const QDeadlineTimer& deadline)
{
    qsizetype sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.constData() + sent, size_t(bytes.size() - sent), MSG_NOSIGNAL);
        if (n > 0) {
            sent += n;
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && errno == EAGAIN) {
            if (!waitFor(fd, POLLOUT, deadline))
                return false;
        } else {
            return false;
        }
    }
    return true;
}

} // namespace

Outcome<QByteArray> UnixSocket::requestLine(const QString& path, const QByteArray& line, double timeoutSeconds)
{
    using Result = Outcome<QByteArray>;
    const QDeadlineTimer deadline(qint64(timeoutSeconds * 1000));
    const Socket socket;
    if (socket.get() < 0)
        return Result::failure(QStringLiteral("建不了本地 socket"));

    const QByteArray pathBytes = QFile::encodeName(path);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (pathBytes.size() > maxPathBytes)
        return Result::failure(QStringLiteral("socket 路径太长"));
    std::memcpy(address.sun_path, pathBytes.constData(), size_t(pathBytes.size()));

    if (!connectTo(socket.get(), address, deadline))
        return Result::failure(QStringLiteral("tarnel 设备互联没有在运行"));
    if (!sendAll(socket.get(), line + '\n', deadline))
        return Result::failure(QStringLiteral("发给 tarnel-net 失败"));

    QByteArray reply;
    char chunk[4096];
    for (;;) {
        if (!waitFor(socket.get(), POLLIN, deadline))
            break;
        const ssize_t n = ::recv(socket.get(), chunk, sizeof chunk, 0);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (n <= 0)
            break;
        reply.append(chunk, n);
        const qsizetype end = reply.indexOf('\n', reply.size() - n);
        if (end >= 0)
            return Result::success(reply.left(end));
        if (reply.size() > maxReplyBytes)
            return Result::failure(QStringLiteral("tarnel-net 的回复过大"));
    }
    return Result::failure(reply.isEmpty() ? QStringLiteral("tarnel-net 没有回复（超时）")
                                           : QStringLiteral("tarnel-net 的回复不完整"));
}

Outcome<QJsonObject> UnixSocket::request(const QString& path, const QJsonObject& json, double timeoutSeconds)
{
    const auto line = requestLine(path, QJsonDocument(json).toJson(QJsonDocument::Compact), timeoutSeconds);
    if (!line.ok())
        return Outcome<QJsonObject>::failure(line.failure());
    const QJsonDocument reply = QJsonDocument::fromJson(line.value());
    if (!reply.isObject())
        return Outcome<QJsonObject>::failure(QStringLiteral("tarnel-net 的回复不是 JSON"));
    return Outcome<QJsonObject>::success(reply.object());
}
