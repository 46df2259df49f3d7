#include "Connection.h"

#include <algorithm>
#include <cctype>
#include <fcntl.h>
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

std::string lowered(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return text;
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
    if (ssl && SSL_pending(ssl) > 0)
        return true;
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, int(wait.count())) > 0;
}

void Connection::beginRequest(Clock::time_point deadline)
{
    inHeaders = true;
    headerDeadline = deadline;
    headers.clear();
    chunked = false;
    bodyExpected = 0;
    bodyRead = 0;
}

bool Connection::reusable() const { return !failed && !inHeaders && !chunked && bodyRead >= bodyExpected; }

void Connection::close()
{
    const bool unread = !failed && !inHeaders && (chunked || bodyRead < bodyExpected);
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
    if (failed)
        return -1;
    const Clock::time_point deadline = inHeaders ? headerDeadline : bodyDeadline;
    for (;;) {
        size_t got = 0;
        const Io io = receive(ptr, size, got);
        if (io == Io::done) {
            account(ptr, got);
            return failed ? -1 : ssize_t(got);
        }
        if (io == Io::closed)
            return 0;
        if (io == Io::failed || !wait(io, deadline)) {
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
    if (ssl && SSL_pending(ssl) > 0)
        return true;
    return wait(Io::wantRead, inHeaders ? headerDeadline : bodyDeadline);
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

void Connection::account(const char* ptr, size_t size)
{
    size_t used = 0;
    while (inHeaders && used < size) {
        headers.push_back(ptr[used++]);
        if (headers.size() > headerLimit) {
            failed = true;
            return;
        }
        const bool ended = (headers.size() >= 4 && headers.compare(headers.size() - 4, 4, "\r\n\r\n") == 0) ||
            (headers.size() >= 2 && headers.compare(headers.size() - 2, 2, "\n\n") == 0);
        if (ended)
            headersEnded();
    }
    bodyRead += size - used;
}

// Reads the announced body length from the header block just completed.
void Connection::headersEnded()
{
    inHeaders = false;
    size_t start = 0;
    while (start < headers.size()) {
        size_t end = headers.find('\n', start);
        if (end == std::string::npos)
            end = headers.size();
        const std::string line = lowered(headers.substr(start, end - start));
        start = end + 1;
        const auto colon = line.find(':');
        if (colon == std::string::npos)
            continue;
        const std::string name = line.substr(0, colon);
        const std::string value = line.substr(colon + 1);
        if (name == "content-length")
            bodyExpected = size_t(std::strtoull(value.c_str(), nullptr, 10));
        else if (name == "transfer-encoding" && value.find("chunked") != std::string::npos)
            chunked = true;
    }
    const auto bodyTime = std::chrono::milliseconds(std::min<size_t>(bodyExpected, size_t(1) << 40) * 1000 / slowestBody);
    bodyDeadline = Clock::now() + timeouts.read + bodyTime;
}
