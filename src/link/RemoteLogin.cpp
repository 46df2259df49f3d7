#include "link/RemoteLogin.h"

#include "platform/ProcessRunner.h"

#include <QStandardPaths>

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

const QString RemoteLogin::enableCommand = QStringLiteral("sudo apt install openssh-server && sudo systemctl enable --now ssh");

bool RemoteLogin::sshdListening(int timeoutMs, quint16 port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool listening = false;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
        listening = true;
    } else if (errno == EINPROGRESS) {
        pollfd waiter{fd, POLLOUT, 0};
        int ready;
        do
            ready = ::poll(&waiter, 1, timeoutMs);
        while (ready < 0 && errno == EINTR);
        int pending = 0;
        socklen_t size = sizeof pending;
        listening = ready == 1 && ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &pending, &size) == 0 && pending == 0;
    }
    ::close(fd);
    return listening;
}

namespace {
QString sharingPanel(const QStringList& searchPaths)
{
    return QStandardPaths::findExecutable(QStringLiteral("gnome-control-center"), searchPaths);
}
} // namespace

bool RemoteLogin::openSharingSettings(const QStringList& searchPaths)
{
    const QString panel = sharingPanel(searchPaths);
    return !panel.isEmpty() && ProcessRunner::startDetached(panel, {QStringLiteral("sharing")});
}

bool RemoteLogin::hasSharingSettings(const QStringList& searchPaths) { return !sharingPanel(searchPaths).isEmpty(); }
