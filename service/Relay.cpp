#include "Relay.h"

#include "Secrets.h"
#include "ServiceText.h"

#include <arpa/inet.h>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
constexpr char greeting[] = "TARNEL-RELAY ";
constexpr size_t lineLimit = 160;

// Strangers are counted per IPv4 address, and per /64 for IPv6, where one machine holds a whole /64.
std::string addressKey(const sockaddr_storage& address)
{
    char text[INET6_ADDRSTRLEN] = {};
    if (address.ss_family == AF_INET) {
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in&>(address).sin_addr, text, sizeof text);
        return text;
    }
    in6_addr bytes = reinterpret_cast<const sockaddr_in6&>(address).sin6_addr;
    if (!IN6_IS_ADDR_V4MAPPED(&bytes))
        std::memset(bytes.s6_addr + 8, 0, 8);
    inet_ntop(AF_INET6, &bytes, text, sizeof text);
    return text;
}

int millisecondsUntil(std::chrono::steady_clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return int(std::max<int64_t>(0, left.count()));
}

struct Direction {
    int from;
    int to;
    std::string buffer;
    size_t offset = 0;
    bool eof = false;
    bool shut = false;
};
} // namespace

Relay::Relay(Limits limits) : limits(limits) {}

Relay::~Relay() { stop(); }

std::optional<int> Relay::listen(const std::string& host, int port)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICHOST;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.empty() ? nullptr : host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0)
        return std::nullopt;
    const int fd = socket(found->ai_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    const bool bound = fd >= 0 && bind(fd, found->ai_addr, found->ai_addrlen) == 0 && ::listen(fd, SOMAXCONN) == 0;
    freeaddrinfo(found);
    if (!bound) {
        if (fd >= 0)
            close(fd);
        return std::nullopt;
    }
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    boundPort = ntohs(address.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&address)->sin6_port
                                                    : reinterpret_cast<sockaddr_in*>(&address)->sin_port);
    listenFd = fd;
    acceptor = std::thread([this] { acceptLoop(); });
    return boundPort;
}

void Relay::stop()
{
    if (stopping.exchange(true))
        return;
    if (listenFd >= 0)
        shutdown(listenFd, SHUT_RDWR);
    if (acceptor.joinable())
        acceptor.join();
    if (listenFd >= 0)
        close(listenFd);
    paired.notify_all();
}

std::optional<Relay::Ticket> Relay::ticket(int64_t account, const std::string& device, const std::string& peer,
                                           bool fresh, const std::string& session)
{
    std::lock_guard<std::mutex> lock(mutex);
    expire(ServiceText::now());
    std::string id = session;
    if (id.empty()) {
        const std::string pairKey = device < peer ? device + "|" + peer : peer + "|" + device;
        auto current = linkSessions.find(pairKey);
        if (!fresh && current != linkSessions.end()) {
            id = current->second;
        } else {
            id = Secrets::newToken().substr(0, 32);
            Session& created = sessions[id];
            created.ends[0] = device;
            created.ends[1] = peer;
            created.created = ServiceText::now();
            created.account = account;
            if (!fresh) {
                created.pairKey = pairKey;
                linkSessions[pairKey] = id;
            }
        }
    }
    auto it = sessions.find(id);
    if (it == sessions.end())
        return std::nullopt;
    Session& found = it->second;
    const int end = found.ends[0] == device ? 0 : found.ends[1] == device ? 1 : -1;
    if (end < 0 || found.ends[1 - end] != peer)
        return std::nullopt;
    // A ticket is good for one connection: an end that asks again after using it gets a new one.
    if (found.tickets[end].empty() || !byTicket.count(found.tickets[end])) {
        found.tickets[end] = Secrets::newToken();
        byTicket[found.tickets[end]] = {id, end};
        found.created = ServiceText::now();
    }
    return Ticket{id, found.tickets[end]};
}

void Relay::expire(int64_t now)
{
    for (auto it = sessions.begin(); it != sessions.end();) {
        const Session& session = it->second;
        const bool waiting = session.waitingFd[0] >= 0 || session.waitingFd[1] >= 0;
        if (!session.taken && !waiting && now - session.created > unpairedSeconds) {
            for (const auto& t : session.tickets)
                byTicket.erase(t);
            if (!session.pairKey.empty())
                linkSessions.erase(session.pairKey);
            it = sessions.erase(it);
        } else {
            ++it;
        }
    }
}

void Relay::acceptLoop()
{
    while (!stopping) {
        sockaddr_storage from{};
        socklen_t length = sizeof from;
        const int fd = accept4(listenFd, reinterpret_cast<sockaddr*>(&from), &length, SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EMFILE || errno == ENFILE)
                std::this_thread::sleep_for(std::chrono::milliseconds(100)); // until a connection ends
            if (errno == EINTR || errno == ECONNABORTED || errno == EMFILE || errno == ENFILE)
                continue;
            return;
        }
        const std::string address = addressKey(from);
        const auto stranger = admitStranger(fd, address);
        if (!stranger) {
            close(fd);
            continue;
        }
        std::thread([this, fd, stranger, address] { serveConnection(fd, *stranger, address); }).detach();
    }
}

std::optional<uint64_t> Relay::admitStranger(int fd, const std::string& address)
{
    std::lock_guard<std::mutex> lock(countMutex);
    if (strangersFrom[address] >= limits.strangersPerAddress)
        return std::nullopt;
    if (int(strangers.size()) >= limits.strangers) {
        // Its greeting ends at once (its own thread closes it): a device with a ticket says it within a
        // round trip, so only an idle stranger is ever the oldest.
        const auto oldest = strangers.begin();
        ::shutdown(oldest->second.fd, SHUT_RDWR);
        if (--strangersFrom[oldest->second.address] <= 0)
            strangersFrom.erase(oldest->second.address);
        strangers.erase(oldest);
    }
    ++strangersFrom[address];
    strangers.emplace(++arrivals, Stranger{fd, address});
    return arrivals;
}

void Relay::strangerLeft(uint64_t stranger)
{
    std::lock_guard<std::mutex> lock(countMutex);
    const auto it = strangers.find(stranger);
    if (it == strangers.end())
        return; // made way for a newer one
    if (--strangersFrom[it->second.address] <= 0)
        strangersFrom.erase(it->second.address);
    strangers.erase(it);
}

bool Relay::admitTicketed(int64_t account)
{
    int& ofAccount = ticketedOf[account];
    // The last places are kept for accounts with less than one session's two ends, so accounts holding
    // many never fill the relay for everyone else.
    const int kept = std::max(2, limits.ticketed / 8);
    const bool intoKept = ticketed >= limits.ticketed - kept && ofAccount >= 2;
    if (ticketed >= limits.ticketed || ofAccount >= limits.ticketedPerAccount || intoKept) {
        if (ofAccount == 0)
            ticketedOf.erase(account);
        return false;
    }
    ++ticketed;
    ++ofAccount;
    return true;
}

void Relay::ticketedLeft(int64_t account, int count)
{
    ticketed -= count;
    if ((ticketedOf[account] -= count) <= 0)
        ticketedOf.erase(account);
}

void Relay::serveConnection(int fd, uint64_t stranger, const std::string& address)
{
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    std::string early;
    const std::optional<std::string> ticket = greet(fd, &early);
    strangerLeft(stranger);
    if (!ticket) {
        close(fd);
        return;
    }
    pair(fd, *ticket, early);
}

std::optional<std::string> Relay::greet(int fd, std::string* early) const
{
    // One deadline for the whole line: a client trickling bytes gains no time.
    const auto deadline = std::chrono::steady_clock::now() + limits.greeting;
    std::string line;
    char chunk[512];
    size_t newline = std::string::npos;
    while (newline == std::string::npos && line.size() < lineLimit) {
        pollfd watch{fd, POLLIN, 0};
        const int ready = poll(&watch, 1, millisecondsUntil(deadline));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return std::nullopt;
        const ssize_t n = recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0)
            return std::nullopt;
        line.append(chunk, size_t(n));
        newline = line.find('\n');
    }
    if (newline == std::string::npos || line.compare(0, sizeof greeting - 1, greeting) != 0)
        return std::nullopt;
    *early = line.substr(newline + 1);
    return line.substr(sizeof greeting - 1, newline - (sizeof greeting - 1));
}

void Relay::pair(int fd, const std::string& ticket, const std::string& early)
{
    std::unique_lock<std::mutex> lock(mutex);
    auto known = byTicket.find(ticket);
    if (known == byTicket.end()) {
        lock.unlock();
        close(fd);
        return;
    }
    const auto [id, end] = known->second;
    byTicket.erase(known); // a ticket is good for one connection
    Session& session = sessions[id];
    const int64_t account = session.account;
    if (!admitTicketed(account)) {
        lock.unlock();
        close(fd);
        return;
    }
    const int other = 1 - end;
    if (session.waitingFd[other] >= 0 && !session.taken) {
        session.taken = true;
        const int partner = session.waitingFd[other];
        const std::string partnerEarly = session.early[other];
        session.waitingFd[other] = -1;
        if (!session.pairKey.empty())
            linkSessions.erase(session.pairKey);
        paired.notify_all();
        lock.unlock();
        splice(fd, early, partner, partnerEarly);
        lock.lock();
        ticketedLeft(account, 2);
        sessions.erase(id);
        return;
    }
    // This end came back on a new connection: the one still waiting was abandoned; its thread closes it.
    if (session.waitingFd[end] >= 0)
        shutdown(session.waitingFd[end], SHUT_RDWR);
    session.waitingFd[end] = fd;
    session.early[end] = early;
    paired.notify_all();
    const bool hungUp = waitForPartner(lock, id, end, fd);
    auto it = sessions.find(id);
    if (it == sessions.end() || it->second.taken)
        return; // paired: the splice owns the connection
    close(fd);
    ticketedLeft(account, 1);
    if (it->second.waitingFd[end] != fd)
        return; // a newer connection of this end took its place
    it->second.waitingFd[end] = -1;
    if (hungUp && !stopping)
        return; // the session stays for this end's next ticket and the other end's
    // Nobody came (or the service stops): the session goes.
    if (!it->second.pairKey.empty())
        linkSessions.erase(it->second.pairKey);
    sessions.erase(it);
}

bool Relay::waitForPartner(std::unique_lock<std::mutex>& lock, const std::string& id, int end, int fd)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(unpairedSeconds);
    const auto done = [&] {
        auto it = sessions.find(id);
        return stopping || it == sessions.end() || it->second.taken || it->second.waitingFd[end] != fd;
    };
    while (!done() && std::chrono::steady_clock::now() < deadline) {
        // A device that gave up on this attempt closes its end: it is not kept waiting for the other.
        pollfd watch{fd, POLLRDHUP, 0};
        if (poll(&watch, 1, 0) > 0 && (watch.revents & (POLLRDHUP | POLLHUP | POLLERR)))
            return true;
        paired.wait_for(lock, hangUpCheck);
    }
    return false;
}

void Relay::splice(int a, const std::string& earlyA, int b, const std::string& earlyB) const
{
    for (int fd : {a, b})
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    Direction ways[2] = {{a, b, earlyA}, {b, a, earlyB}};
    std::string scratch(64 * 1024, '\0');
    while (true) {
        pollfd watch[2] = {{a, 0, 0}, {b, 0, 0}};
        bool active = false;
        for (Direction& way : ways) {
            pollfd& from = watch[way.from == a ? 0 : 1];
            pollfd& to = watch[way.to == a ? 0 : 1];
            if (way.offset < way.buffer.size()) {
                to.events |= POLLOUT;
                active = true;
            } else if (!way.eof) {
                from.events |= POLLIN;
                active = true;
            } else if (!way.shut) {
                shutdown(way.to, SHUT_WR);
                way.shut = true;
            }
        }
        if (!active)
            break;
        const int ready = poll(watch, 2, int(limits.idle.count()));
        if (ready == 0 || (ready < 0 && errno != EINTR))
            break; // idle for too long, or broken
        if (ready < 0)
            continue;
        bool broken = false;
        for (Direction& way : ways) {
            const pollfd& from = watch[way.from == a ? 0 : 1];
            const pollfd& to = watch[way.to == a ? 0 : 1];
            if (way.offset < way.buffer.size() && (to.revents & (POLLOUT | POLLERR | POLLHUP))) {
                const ssize_t n = send(way.to, way.buffer.data() + way.offset, way.buffer.size() - way.offset,
                                       MSG_NOSIGNAL);
                if (n < 0 && errno != EAGAIN && errno != EINTR)
                    broken = true;
                if (n > 0)
                    way.offset += size_t(n);
                if (way.offset == way.buffer.size()) {
                    way.buffer.clear();
                    way.offset = 0;
                }
            } else if (way.buffer.empty() && !way.eof && (from.revents & (POLLIN | POLLERR | POLLHUP))) {
                const ssize_t n = recv(way.from, scratch.data(), scratch.size(), 0);
                if (n > 0)
                    way.buffer.assign(scratch.data(), size_t(n));
                else if (n == 0 || (errno != EAGAIN && errno != EINTR))
                    way.eof = true;
            }
        }
        if (broken)
            break;
    }
    close(a);
    close(b);
}
