#include "ServiceServer.h"

#include "AddressGroup.h"
#include "Connection.h"

#include <algorithm>
#include <condition_variable>
#include <netdb.h>
#include <sys/socket.h>
#include <thread>
#include <vector>
#include <unistd.h>

namespace {
std::string peerAddress(int fd)
{
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    char host[NI_MAXHOST];
    if (::getpeername(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
        ::getnameinfo(reinterpret_cast<sockaddr*>(&address), length, host, sizeof host, nullptr, 0, NI_NUMERICHOST) != 0)
        return {};
    return host;
}

// A whole error reply in the API's JSON shape, for refusals made before the library reads a request.
std::string errorReply(const char* status, const char* error, int retryAfter = 0)
{
    const std::string body = std::string("{\"error\":\"") + error + "\"}";
    return std::string("HTTP/1.1 ") + status + "\r\nContent-Type: application/json\r\nConnection: close\r\n" +
        (retryAfter > 0 ? "Retry-After: " + std::to_string(retryAfter) + "\r\n" : std::string()) +
        "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

void answerBusy(int fd)
{
    const std::string reply = errorReply("503 Service Unavailable", "服务器很忙，请稍后再试", 5);
    (void)!::send(fd, reply.data(), reply.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
}

void answer(Connection& connection, const std::string& reply)
{
    for (size_t sent = 0; sent < reply.size();) {
        const ssize_t rc = connection.write(reply.data() + sent, reply.size() - sent);
        if (rc <= 0)
            return;
        sent += size_t(rc);
    }
}

// What the request being served on this thread holds until it is answered.
thread_local std::vector<std::shared_ptr<void>> heldByRequest;
} // namespace

// One thread per connection; shutting down waits for them all, after ending their connections.
class ServiceServer::Threads : public httplib::TaskQueue {
public:
    explicit Threads(ServiceServer& server) : server(server), state(std::make_shared<State>()) {}

    void enqueue(std::function<void()> fn) override
    {
        {
            std::lock_guard<std::mutex> lock(state->mutex);
            ++state->running;
        }
        try {
            std::thread([state = state, fn = std::move(fn)] {
                fn();
                std::lock_guard<std::mutex> lock(state->mutex);
                if (--state->running == 0)
                    state->idle.notify_all();
            }).detach();
        } catch (const std::system_error&) {
            std::lock_guard<std::mutex> lock(state->mutex);
            --state->running;
        }
    }

    void shutdown() override
    {
        server.closeAll();
        std::unique_lock<std::mutex> lock(state->mutex);
        state->idle.wait(lock, [this] { return state->running == 0; });
    }

private:
    struct State {
        std::mutex mutex;
        std::condition_variable idle;
        size_t running = 0;
    };
    ServiceServer& server;
    std::shared_ptr<State> state;
};

// A connection's place in the counts, for as long as it is served.
class ServiceServer::Admission {
public:
    Admission(ServiceServer& server, int fd) : server(server), fd(fd), address(AddressGroup::of(peerAddress(fd)))
    {
        std::lock_guard<std::mutex> lock(server.mutex);
        const size_t held = server.perAddress[address];
        const size_t free = server.limits.connections - std::min(server.open.size(), server.limits.connections);
        admitted = !server.stopping && free > 0 && held < server.limits.perAddress && held * 4 < free;
        if (!admitted) {
            if (server.perAddress[address] == 0)
                server.perAddress.erase(address);
            return;
        }
        ++server.perAddress[address];
        server.open.insert(fd);
    }
    ~Admission()
    {
        if (!admitted)
            return;
        std::lock_guard<std::mutex> lock(server.mutex);
        server.open.erase(fd);
        if (--server.perAddress[address] == 0)
            server.perAddress.erase(address);
    }
    explicit operator bool() const { return admitted; }

private:
    ServiceServer& server;
    int fd;
    std::string address;
    bool admitted = false;
};

ServiceServer::ServiceServer(Limits limits) : limits(limits)
{
    new_task_queue = [this] { return new Threads(*this); };
}

ServiceServer::~ServiceServer()
{
    if (tls)
        SSL_CTX_free(tls);
}

bool ServiceServer::useTls(const std::string& certificateFile, const std::string& keyFile)
{
    SSL_CTX* context = SSL_CTX_new(TLS_server_method());
    if (!context)
        return false;
    SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
    SSL_CTX_set_options(context, SSL_OP_NO_COMPRESSION | SSL_OP_NO_RENEGOTIATION);
    SSL_CTX_set_mode(context, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    if (SSL_CTX_use_certificate_chain_file(context, certificateFile.c_str()) != 1 ||
        SSL_CTX_use_PrivateKey_file(context, keyFile.c_str(), SSL_FILETYPE_PEM) != 1 ||
        SSL_CTX_check_private_key(context) != 1) {
        SSL_CTX_free(context);
        return false;
    }
    if (tls)
        SSL_CTX_free(tls);
    tls = context;
    return true;
}

int ServiceServer::bind(const std::string& host, int port)
{
    const int bound = port == 0 ? bind_to_any_port(host) : (bind_to_port(host, port) ? port : -1);
    // The library listens with a queue of 5, too short for a crowd of connections arriving at once.
    if (bound < 0 || ::listen(svr_sock_, SOMAXCONN) != 0)
        return -1;
    return bound;
}

bool ServiceServer::process_and_close_socket(socket_t sock)
{
    const Admission admission(*this, sock);
    if (!admission) {
        answerBusy(sock);
        ::shutdown(sock, SHUT_RDWR);
        ::close(sock);
        return true;
    }
    serve(sock);
    return true;
}

void ServiceServer::serve(socket_t sock)
{
    using std::chrono::duration_cast;
    using std::chrono::milliseconds;
    Connection::Timeouts timeouts;
    timeouts.read = duration_cast<milliseconds>(std::chrono::seconds(read_timeout_sec_) +
                                                std::chrono::microseconds(read_timeout_usec_));
    timeouts.write = duration_cast<milliseconds>(std::chrono::seconds(write_timeout_sec_) +
                                                 std::chrono::microseconds(write_timeout_usec_));
    Connection connection(sock, tls, timeouts);
    // The handshake and the first request share one deadline.
    const auto first = Connection::Clock::now() + limits.headerTime;
    if (!connection.open(first))
        return;
    for (size_t left = keep_alive_max_count_; left > 0; --left) {
        if (left != keep_alive_max_count_ && !connection.awaitRequest(std::chrono::seconds(keep_alive_timeout_sec_)))
            break;
        const auto head = connection.beginRequest(left == keep_alive_max_count_ ? first
                                                                                : Connection::Clock::now() + limits.headerTime);
        if (head == Connection::Head::ambiguous)
            answer(connection, errorReply("400 Bad Request", "请求格式不对"));
        if (head != Connection::Head::complete)
            break;
        bool closed = false;
        const bool served = process_request(connection, left == 1, closed, nullptr);
        heldByRequest.clear();
        if (!served || closed || !connection.reusable())
            break;
        std::lock_guard<std::mutex> lock(mutex);
        if (stopping)
            break;
    }
}

void ServiceServer::holdUntilAnswered(std::shared_ptr<void> held) { heldByRequest.push_back(std::move(held)); }

void ServiceServer::closeAll()
{
    std::lock_guard<std::mutex> lock(mutex);
    stopping = true;
    for (int fd : open)
        ::shutdown(fd, SHUT_RDWR);
}
