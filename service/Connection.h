#pragma once

#include <httplib.h>

#include <chrono>
#include <string>

// One client connection (plain or TLS) as the HTTP library reads and writes it. Waiting is bounded: a
// request's line and headers must arrive whole before one deadline, however slowly the bytes trickle in;
// its body then has one deadline of its own, set by its announced length; every write has its own time-out. It also notes how much of the announced body was
// read, so a connection whose request was answered early is not used again.
class Connection : public httplib::Stream {
public:
    using Clock = std::chrono::steady_clock;

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
    // The next request's line and headers must be complete by `deadline`.
    void beginRequest(Clock::time_point deadline);
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
    void account(const char* ptr, size_t size);
    void headersEnded();

    int fd;
    SSL* ssl = nullptr;
    Timeouts timeouts;
    bool failed = false;
    bool inHeaders = false;
    Clock::time_point headerDeadline;
    Clock::time_point bodyDeadline;
    std::string headers;
    bool chunked = false;
    size_t bodyExpected = 0;
    size_t bodyRead = 0;
};
