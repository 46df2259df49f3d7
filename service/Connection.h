#pragma once

#include <httplib.h>

#include <chrono>
#include <string>

// One client connection (plain or TLS) as the HTTP library reads and writes it. Waiting is bounded: a
// request's line and headers must arrive whole before one deadline, however slowly the bytes trickle in;
// its body then has one deadline of its own, set by its announced length; every write has its own time-out.
// The connection reads and checks a request's head itself before the library sees any of it, so both
// agree on where the headers end and on the body's length. It also notes how much of the announced body
// was read, so a connection whose request was answered early is not used again.
class Connection : public httplib::Stream {
public:
    using Clock = std::chrono::steady_clock;
    // How the next request's line and headers arrived: whole and plain; in a form that could be read in
    // more than one way; or not at all (the connection ended, they grew too large or came too late).
    enum class Head { complete, ambiguous, missing };

    struct Timeouts {
        std::chrono::milliseconds read{5000};
        std::chrono::milliseconds write{5000};
    };

    Connection(int fd, SSL_CTX* tls, Timeouts timeouts);
    ~Connection() override;
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // The TLS handshake (nothing to do without TLS); false when it fails or the deadline passes.
    bool open(Clock::time_point deadline);
    // True when the next request begins within `wait`.
    bool awaitRequest(std::chrono::milliseconds wait);
    // Reads the next request's line and headers, which must be complete by `deadline`: every line ends
    // in CR LF, header names are plain names, and at most one length is given, in digits.
    Head beginRequest(Clock::time_point deadline);
    // The last request was read whole and nothing failed: the connection may carry another one.
    bool reusable() const;
    // Ends the connection. When a request body was left unread (a refusal before it), the client is
    // given a moment to see the reply before the socket closes.
    void close();

    bool is_readable() const override;
    bool is_writable() const override;
    ssize_t read(char* ptr, size_t size) override;
    ssize_t write(const char* ptr, size_t size) override;
    void get_remote_ip_and_port(std::string& ip, int& port) const override;
    void get_local_ip_and_port(std::string& ip, int& port) const override;
    socket_t socket() const override { return fd; }

private:
    enum class Io { done, wantRead, wantWrite, closed, failed };
    Io tlsStall(int rc, bool reading) const;
    Io receive(char* ptr, size_t size, size_t& got);
    Io send(const char* ptr, size_t size, size_t& sent);
    bool wait(Io want, Clock::time_point deadline) const;
    bool fill(Clock::time_point deadline);
    Head headEnded(size_t size);
    void handedOver(size_t size);

    int fd;
    SSL* ssl = nullptr;
    Timeouts timeouts;
    bool failed = false;
    bool inHeaders = false;
    Clock::time_point bodyDeadline;
    bool headRefused = false;
    // Bytes read from the client that the library has not yet taken, from `pendingAt` on; the head
    // of the current request, `headLeft` bytes of it still to hand over, comes first.
    std::string pending;
    size_t pendingAt = 0;
    size_t headLeft = 0;
    bool chunked = false;
    size_t bodyExpected = 0;
    size_t bodyRead = 0;
};
