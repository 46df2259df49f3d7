#pragma once

#include <httplib.h>

#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>

// The HTTP(S) server of the service. Every connection has a thread of its own, so a slow client only
// ever holds its own; a request's headers must arrive whole within `headerTime`; all together may hold at
// most `connections`, and one address (an IPv6 client by its /64) at most `perAddress` and less than a
// quarter of the places still free, so a few addresses never crowd everyone else out (beyond, 503 at once).
class ServiceServer : public httplib::Server {
public:
    struct Limits {
        std::chrono::milliseconds headerTime{10000};
        size_t perAddress = 128;
        size_t connections = 1024;
    };

    explicit ServiceServer(Limits limits);
    ~ServiceServer() override;

    // Serves HTTPS with this certificate chain and key (PEM files); false when they cannot be used.
    bool useTls(const std::string& certificateFile, const std::string& keyFile);
    // Binds to the address, on any free port when `port` is 0, with the system's full queue of
    // connections waiting to be accepted; the port, or -1.
    int bind(const std::string& host, int port);
    // Keeps `held` (a request's share of something bounded) until the request being served on the
    // calling thread is answered or its connection ends.
    static void holdUntilAnswered(std::shared_ptr<void> held);

private:
    class Threads;
    class Admission;

    bool process_and_close_socket(socket_t sock) override;
    void serve(socket_t sock);
    void closeAll();

    Limits limits;
    SSL_CTX* tls = nullptr;
    std::mutex mutex;
    std::map<std::string, size_t> perAddress;
    std::set<int> open;
    bool stopping = false;
};
