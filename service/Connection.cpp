#include "Connection.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <string_view>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
constexpr size_t headerLimit = 64u << 10;
constexpr auto lingerTime = std::chrono::seconds(2);
// The slowest upload taken: a body must arrive at this many bytes a second on average.
constexpr size_t slowestBody = 32u << 10;

int remaining(Connection::Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Connection::Clock::now());
    return int(std::clamp<long long>(left.count(), 0, 24 * 3600 * 1000));
}

void numericAddress(const sockaddr_storage& address, socklen_t length, std::string& ip, int& port)
{
    char host[NI_MAXHOST];
    char service[NI_MAXSERV];
    if (::getnameinfo(reinterpret_cast<const sockaddr*>(&address), length, host, sizeof host, service,
                      sizeof service, NI_NUMERICHOST | NI_NUMERICSERV) != 0)
        return;
    ip = host;
    port = std::atoi(service);
}

std::string lowered(std::string_view text)
{
    std::string low(text);
    std::transform(low.begin(), low.end(), low.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return low;
}

std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

bool nameCharacter(unsigned char c) { return std::isalnum(c) || (c && std::strchr("!#$%&'*+-.^_`|~", c)); }
bool controlCharacter(unsigned char c) { return (c < 0x20 && c != '\t' && c != '\r' && c != '\n') || c == 0x7f; }
bool digit(unsigned char c) { return c >= '0' && c <= '9'; }

// How a request's body is framed: its announced length, and whether it comes in chunks.
struct Framing {
    size_t length = 0;
    bool chunked = false;
};

// The framing a request head gives, its lines ended by CR LF alone; none when it could be read in more
// than one way: a control character, a header line that is not "name: value" (a folded line, a space
// before the colon), or a length given twice or in anything but digits.
std::optional<Framing> framing(std::string_view head)
{
    if (std::any_of(head.begin(), head.end(), controlCharacter) || head.rfind("\r\n", 0) == 0)
        return std::nullopt;
    Framing found;
    bool lengthGiven = false;
    for (size_t start = head.find("\r\n") + 2;;) {
        const size_t end = head.find("\r\n", start);
        const std::string_view line = head.substr(start, end - start);
        if (line.empty())
            return found;
        start = end + 2;
        const size_t colon = line.find(':');
        if (colon == 0 || colon == std::string_view::npos ||
            !std::all_of(line.begin(), line.begin() + colon, nameCharacter))
            return std::nullopt;
        const std::string name = lowered(line.substr(0, colon));
        const std::string_view value = trimmed(line.substr(colon + 1));
        if (name == "content-length") {
            if (lengthGiven || value.empty() || value.size() > 18 || !std::all_of(value.begin(), value.end(), digit))
                return std::nullopt;
            lengthGiven = true;
            found.length = size_t(std::stoull(std::string(value)));
        } else if (name == "transfer-encoding" && lowered(value).find("chunked") != std::string::npos) {
            found.chunked = true;
        }
    }
}
} // namespace

Connection::Connection(int fd, SSL_CTX* tls, Timeouts timeouts) : fd(fd), timeouts(timeouts)
{
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    if (tls) {
        ssl = SSL_new(tls);
        if (!ssl || SSL_set_fd(ssl, fd) != 1)
            failed = true;
    }
}

Connection::~Connection()
{
    if (fd >= 0)
        close();
}

bool Connection::open(Clock::time_point deadline)
{
    if (!ssl)
        return !failed;
    while (!failed) {
        const int rc = SSL_accept(ssl);
        if (rc == 1)
            return true;
        const int error = SSL_get_error(ssl, rc);
        if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) {
            if (!wait(error == SSL_ERROR_WANT_READ ? Io::wantRead : Io::wantWrite, deadline))
                failed = true;
            continue;
        }
        failed = true;
    }
    return false;
}

bool Connection::awaitRequest(std::chrono::milliseconds wait)
{
    if (pendingAt < pending.size() || (ssl && SSL_pending(ssl) > 0))
        return true;
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, int(wait.count())) > 0;
}

Connection::Head Connection::beginRequest(Clock::time_point deadline)
{
    pending.erase(0, pendingAt);
    pendingAt = 0;
    inHeaders = true;
    chunked = false;
    bodyExpected = 0;
    bodyRead = 0;
    headLeft = 0;
    for (size_t scanned = 0;;) {
        for (; scanned < pending.size() && scanned < headerLimit; ++scanned) {
            // A line feed without its carriage return, or a carriage return alone: read differently by others.
            const bool afterReturn = scanned > 0 && pending[scanned - 1] == '\r';
            if ((pending[scanned] == '\n') != afterReturn) {
                headRefused = true;
                return Head::ambiguous;
            }
            if (afterReturn && scanned >= 3 && pending.compare(scanned - 3, 3, "\r\n\r") == 0)
                return headEnded(scanned + 1);
        }
        if (scanned >= headerLimit) {
            failed = true;
            return Head::missing;
        }
        if (!fill(deadline))
            return Head::missing;
    }
}

// Reads what the client has sent next, waiting until `deadline`; false when nothing more comes.
bool Connection::fill(Clock::time_point deadline)
{
    char chunk[8192];
    for (;;) {
        size_t got = 0;
        const Io io = receive(chunk, sizeof chunk, got);
        if (io == Io::done) {
            pending.append(chunk, got);
            return true;
        }
        if (io == Io::closed)
            return false;
        if (io == Io::failed || !wait(io, deadline)) {
            failed = true;
            return false;
        }
    }
}

// The head of `size` bytes at the start of what is pending is complete: its body's framing and deadline.
Connection::Head Connection::headEnded(size_t size)
{
    const auto found = framing(std::string_view(pending).substr(0, size));
    if (!found) {
        headRefused = true;
        return Head::ambiguous;
    }
    inHeaders = false;
    headLeft = size;
    bodyExpected = found->length;
    chunked = found->chunked;
    const auto bodyTime = std::chrono::milliseconds(std::min<size_t>(bodyExpected, size_t(1) << 40) * 1000 / slowestBody);
    bodyDeadline = Clock::now() + timeouts.read + bodyTime;
    return Head::complete;
}

bool Connection::reusable() const { return !failed && !inHeaders && !chunked && bodyRead >= bodyExpected; }

void Connection::close()
{
    const bool unread = !failed && (headRefused || (!inHeaders && (chunked || bodyRead < bodyExpected)));
    if (ssl) {
        if (!failed)
            SSL_shutdown(ssl);
        SSL_free(ssl);
        ssl = nullptr;
    }
    if (unread) {
        // Closing with unread bytes would reset the connection and could destroy the reply in flight.
        ::shutdown(fd, SHUT_WR);
        const auto until = Clock::now() + lingerTime;
        char sink[16384];
        for (;;) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, remaining(until)) <= 0 || ::recv(fd, sink, sizeof sink, 0) <= 0)
                break;
        }
    }
    ::shutdown(fd, SHUT_RDWR);
    ::close(fd);
    fd = -1;
}

// What an SSL_read or SSL_write that moved nothing means: wait for a direction, or the end.
Connection::Io Connection::tlsStall(int rc, bool reading) const
{
    switch (SSL_get_error(ssl, rc)) {
    case SSL_ERROR_WANT_READ:
        return Io::wantRead;
    case SSL_ERROR_WANT_WRITE:
        return Io::wantWrite;
    case SSL_ERROR_ZERO_RETURN:
        return reading ? Io::closed : Io::failed;
    default:
        return Io::failed;
    }
}

Connection::Io Connection::receive(char* ptr, size_t size, size_t& got)
{
    if (ssl) {
        const int rc = SSL_read(ssl, ptr, int(std::min<size_t>(size, 1u << 30)));
        if (rc > 0) {
            got = size_t(rc);
            return Io::done;
        }
        return tlsStall(rc, true);
    }
    for (;;) {
        const ssize_t rc = ::recv(fd, ptr, size, 0);
        if (rc > 0) {
            got = size_t(rc);
            return Io::done;
        }
        if (rc == 0)
            return Io::closed;
        if (errno == EINTR)
            continue;
        return errno == EAGAIN || errno == EWOULDBLOCK ? Io::wantRead : Io::failed;
    }
}

Connection::Io Connection::send(const char* ptr, size_t size, size_t& sent)
{
    if (ssl) {
        const int rc = SSL_write(ssl, ptr, int(std::min<size_t>(size, 1u << 30)));
        if (rc > 0) {
            sent = size_t(rc);
            return Io::done;
        }
        return tlsStall(rc, false);
    }
    for (;;) {
        const ssize_t rc = ::send(fd, ptr, size, MSG_NOSIGNAL);
        if (rc >= 0) {
            sent = size_t(rc);
            return Io::done;
        }
        if (errno == EINTR)
            continue;
        return errno == EAGAIN || errno == EWOULDBLOCK ? Io::wantWrite : Io::failed;
    }
}

bool Connection::wait(Io want, Clock::time_point deadline) const
{
    pollfd p{fd, short(want == Io::wantWrite ? POLLOUT : POLLIN), 0};
    for (;;) {
        const int rc = ::poll(&p, 1, remaining(deadline));
        if (rc > 0)
            return true;
        if (rc == 0 || errno != EINTR)
            return false;
    }
}

ssize_t Connection::read(char* ptr, size_t size)
{
    if (failed || inHeaders)
        return -1;
    if (pendingAt < pending.size()) {
        const size_t taken = std::min(size, pending.size() - pendingAt);
        std::memcpy(ptr, pending.data() + pendingAt, taken);
        pendingAt += taken;
        handedOver(taken);
        return ssize_t(taken);
    }
    for (;;) {
        size_t got = 0;
        const Io io = receive(ptr, size, got);
        if (io == Io::done) {
            handedOver(got);
            return ssize_t(got);
        }
        if (io == Io::closed)
            return 0;
        if (io == Io::failed || !wait(io, bodyDeadline)) {
            failed = true;
            return -1;
        }
    }
}

ssize_t Connection::write(const char* ptr, size_t size)
{
    if (failed)
        return -1;
    const Clock::time_point deadline = Clock::now() + timeouts.write;
    for (;;) {
        size_t sent = 0;
        const Io io = send(ptr, size, sent);
        if (io == Io::done)
            return ssize_t(sent);
        if (io == Io::failed || io == Io::closed || !wait(io, deadline)) {
            failed = true;
            return -1;
        }
    }
}

bool Connection::is_readable() const
{
    if (pendingAt < pending.size() || (ssl && SSL_pending(ssl) > 0))
        return true;
    return !inHeaders && wait(Io::wantRead, bodyDeadline);
}

bool Connection::is_writable() const { return !failed && wait(Io::wantWrite, Clock::now() + timeouts.write); }

void Connection::get_remote_ip_and_port(std::string& ip, int& port) const
{
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (::getpeername(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        numericAddress(address, length, ip, port);
}

void Connection::get_local_ip_and_port(std::string& ip, int& port) const
{
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        numericAddress(address, length, ip, port);
}

// Counts what the library took: the rest of the head first, then the body.
void Connection::handedOver(size_t size)
{
    const size_t head = std::min(size, headLeft);
    headLeft -= head;
    bodyRead += size - head;
}
