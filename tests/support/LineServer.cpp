#include "support/LineServer.h"

#include <QFile>

#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

LineServer::LineServer(QString path, Mode mode, QByteArray reply)
    : socketPath(std::move(path)), mode(mode), reply(std::move(reply))
{
    const QByteArray bytes = QFile::encodeName(socketPath);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (size_t(bytes.size()) >= sizeof address.sun_path)
        return;
    std::memcpy(address.sun_path, bytes.constData(), size_t(bytes.size()));
    ::unlink(bytes.constData());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 8) != 0 ||
        ::pipe(wake) != 0) {
        if (fd >= 0)
            ::close(fd);
        return;
    }
    listenFd = fd;
    thread = std::thread([this] { serve(); });
}

LineServer::~LineServer()
{
    if (thread.joinable()) {
        (void)!::write(wake[1], "x", 1);
        thread.join();
    }
    for (int fd : {listenFd, wake[0], wake[1]})
        if (fd >= 0)
            ::close(fd);
    ::unlink(QFile::encodeName(socketPath).constData());
}

QByteArray LineServer::lastRequest() const
{
    std::lock_guard guard(lock);
    return request;
}

void LineServer::serve()
{
    std::vector<int> held; // silent connections, closed at the end
    for (;;) {
        pollfd fds[2] = {{listenFd, POLLIN, 0}, {wake[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0 || (fds[1].revents & POLLIN))
            break;
        const int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        if (mode == Mode::closeAtOnce) {
            ::close(fd);
            continue;
        }
        handle(fd);
        if (mode == Mode::silent)
            held.push_back(fd);
        else
            ::close(fd);
    }
    for (int fd : held)
        ::close(fd);
}

void LineServer::handle(int fd)
{
    QByteArray line;
    char c;
    while (::read(fd, &c, 1) == 1 && c != '\n')
        line.append(c);
    {
        std::lock_guard guard(lock);
        request = line;
    }
    if (mode != Mode::reply)
        return;
    qsizetype sent = 0;
    while (sent < reply.size()) {
        const ssize_t n = ::send(fd, reply.constData() + sent, size_t(reply.size() - sent), MSG_NOSIGNAL);
        if (n <= 0)
            break; // the client gave up reading
        sent += n;
    }
}
