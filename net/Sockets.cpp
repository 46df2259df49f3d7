#include "Sockets.h"

#include <QFile>
#include <QSocketNotifier>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

QString systemError() { return QString::fromLocal8Bit(std::strerror(errno)); }

socklen_t fill(const QHostAddress& address, int port, sockaddr_storage* storage)
{
    std::memset(storage, 0, sizeof *storage);
    if (address.protocol() == QAbstractSocket::IPv6Protocol) {
        auto* in6 = reinterpret_cast<sockaddr_in6*>(storage);
        in6->sin6_family = AF_INET6;
        in6->sin6_port = htons(quint16(port));
        const Q_IPV6ADDR bytes = address.toIPv6Address();
        std::memcpy(&in6->sin6_addr, bytes.c, 16);
        in6->sin6_scope_id = address.scopeId().toUInt();
        return sizeof(sockaddr_in6);
    }
    auto* in4 = reinterpret_cast<sockaddr_in*>(storage);
    in4->sin_family = AF_INET;
    in4->sin_port = htons(quint16(port));
    in4->sin_addr.s_addr = htonl(address.toIPv4Address());
    return sizeof(sockaddr_in);
}

QHostAddress addressOf(const sockaddr_storage& storage)
{
    QHostAddress address(reinterpret_cast<const sockaddr*>(&storage));
    if (bool ok = false; address.protocol() == QAbstractSocket::IPv6Protocol) {
        const QHostAddress v4(address.toIPv4Address(&ok));
        if (ok)
            return v4;
    }
    return address;
}

void noDelay(int fd)
{
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

} // namespace

Listener::~Listener() { close(); }

std::optional<QString> Listener::listenTcp(const QHostAddress& address, int port)
{
    sockaddr_storage storage;
    const socklen_t length = fill(address, port, &storage);
    const int s = socket(storage.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (s < 0)
        return systemError();
    const int on = 1;
    const int off = 0;
    setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (storage.ss_family == AF_INET6)
        setsockopt(s, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off);
    if (bind(s, reinterpret_cast<sockaddr*>(&storage), length) != 0) {
        const QString error = systemError();
        ::close(s);
        return error;
    }
    sockaddr_storage bound{};
    socklen_t boundLength = sizeof bound;
    getsockname(s, reinterpret_cast<sockaddr*>(&bound), &boundLength);
    boundPort = ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port
                                                  : reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
    return start(s);
}

std::optional<QString> Listener::listenUnix(const QString& path)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray name = QFile::encodeName(path);
    if (name.size() >= qsizetype(sizeof address.sun_path))
        return QStringLiteral("socket 路径太长");
    std::memcpy(address.sun_path, name.constData(), size_t(name.size()));
    const int s = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (s < 0)
        return systemError();
    const mode_t old = umask(0177);
    const bool bound = bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    umask(old);
    if (!bound) {
        const QString error = systemError();
        ::close(s);
        return error;
    }
    chmod(name.constData(), 0600);
    return start(s);
}

std::optional<QString> Listener::start(int s)
{
    if (::listen(s, 64) != 0) {
        const QString error = systemError();
        ::close(s);
        return error;
    }
    fd = s;
    notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &Listener::acceptAll);
    return std::nullopt;
}

void Listener::acceptAll()
{
    while (fd >= 0) {
        sockaddr_storage from{};
        socklen_t length = sizeof from;
        const int client = accept4(fd, reinterpret_cast<sockaddr*>(&from), &length, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (client < 0) {
            if (errno == EINTR || errno == ECONNABORTED || errno == EPROTO)
                continue;
            // Out of descriptors or memory: the connection stays queued and the notifier would fire again
            // at once, so wait a moment instead of spinning.
            if (errno != EAGAIN && errno != EWOULDBLOCK)
                pause();
            return;
        }
        if (from.ss_family != AF_UNIX)
            noDelay(client);
        Q_EMIT accepted(client, from.ss_family == AF_UNIX ? QHostAddress() : addressOf(from));
    }
}

void Listener::pause()
{
    if (!notifier || !notifier->isEnabled())
        return;
    notifier->setEnabled(false);
    QTimer::singleShot(pauseMs, this, [this] {
        if (notifier)
            notifier->setEnabled(true);
    });
}

void Listener::close()
{
    if (fd < 0)
        return;
    delete notifier;
    notifier = nullptr;
    ::close(std::exchange(fd, -1));
}

Connector::Connector(const QHostAddress& address, int port, int timeoutMs, QObject* parent) : QObject(parent)
{
    sockaddr_storage storage;
    const socklen_t length = fill(address, port, &storage);
    fd = socket(storage.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    timer.setSingleShot(true);
    connect(&timer, &QTimer::timeout, this, [this] { giveUp(QStringLiteral("连接超时")); });
    if (fd < 0 || (::connect(fd, reinterpret_cast<sockaddr*>(&storage), length) != 0 && errno != EINPROGRESS)) {
        const QString error = systemError();
        QMetaObject::invokeMethod(this, [this, error] { giveUp(error); }, Qt::QueuedConnection);
        return;
    }
    noDelay(fd);
    notifier = new QSocketNotifier(fd, QSocketNotifier::Write, this);
    connect(notifier, &QSocketNotifier::activated, this, &Connector::finish);
    timer.start(timeoutMs);
}

Connector::~Connector()
{
    if (fd >= 0)
        ::close(fd);
}

void Connector::finish()
{
    int error = 0;
    socklen_t length = sizeof error;
    getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length);
    if (error != 0) {
        errno = error;
        return giveUp(systemError());
    }
    delete notifier;
    notifier = nullptr;
    timer.stop();
    Q_EMIT connected(std::exchange(fd, -1));
}

void Connector::giveUp(const QString& reason)
{
    if (notifier)
        notifier->setEnabled(false);
    timer.stop();
    if (fd >= 0)
        ::close(std::exchange(fd, -1));
    Q_EMIT failed(reason);
}
