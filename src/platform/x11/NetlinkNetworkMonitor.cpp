#include "platform/x11/NetlinkNetworkMonitor.h"

#include <QSocketNotifier>
#include <QStringList>
#include <QTimer>

#include <cerrno>
#include <ifaddrs.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
bool usableAddress(const sockaddr* address)
{
    if (!address)
        return false;
    if (address->sa_family == AF_INET)
        return true;
    if (address->sa_family == AF_INET6)
        return !IN6_IS_ADDR_LINKLOCAL(&reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr);
    return false;
}
} // namespace

NetlinkNetworkMonitor::NetlinkNetworkMonitor(QObject* parent) : NetworkMonitor(parent) {}

NetlinkNetworkMonitor::~NetlinkNetworkMonitor() { stop(); }

QString NetlinkNetworkMonitor::currentKey()
{
    QStringList names;
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) == 0) {
        for (const ifaddrs* entry = list; entry; entry = entry->ifa_next) {
            const unsigned flags = entry->ifa_flags;
            if ((flags & IFF_UP) && (flags & IFF_RUNNING) && !(flags & IFF_LOOPBACK) && usableAddress(entry->ifa_addr))
                names << QString::fromLocal8Bit(entry->ifa_name);
        }
        ::freeifaddrs(list);
    }
    names.sort();
    names.removeDuplicates();
    return names.join(QLatin1Char(',')) + (names.isEmpty() ? QStringLiteral("|unsatisfied") : QStringLiteral("|satisfied"));
}

void NetlinkNetworkMonitor::start()
{
    stop();
    fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, NETLINK_ROUTE);
    if (fd >= 0) {
        sockaddr_nl address{};
        address.nl_family = AF_NETLINK;
        address.nl_groups = RTMGRP_LINK | RTMGRP_IPV4_IFADDR | RTMGRP_IPV6_IFADDR;
        if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            ::close(fd);
            fd = -1;
        }
    }
    if (fd >= 0) {
        notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
        connect(notifier.get(), &QSocketNotifier::activated, this, &NetlinkNetworkMonitor::readEvents);
    }
    // The first report, from the event loop like every later one.
    QTimer::singleShot(0, this, [this] {
        if (notifier)
            Q_EMIT pathChanged(currentKey());
    });
}

void NetlinkNetworkMonitor::stop()
{
    notifier.reset();
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

void NetlinkNetworkMonitor::readEvents()
{
    char buffer[16384];
    for (;;) {
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n > 0)
            continue;
        if (n < 0 && errno == EINTR)
            continue;
        break; // EAGAIN: drained; ENOBUFS: events were lost, the key below covers them
    }
    Q_EMIT pathChanged(currentKey());
}
