#include "Admin.h"
#include "Api.h"
#include "Arguments.h"
#include "Database.h"
#include "NetApi.h"
#include "Relay.h"
#include "ServiceServer.h"
#if TARNEL_TEST_HOOKS
#include "TestHooks.h"
#endif

#include <httplib.h>

#include <QUrl>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <malloc.h>
#include <memory>
#include <pthread.h>
#include <pwd.h>
#include <thread>
#include <unistd.h>

namespace {

bool writePortFile(const std::string& path, int port)
{
    // Written whole and then renamed, so a waiting test never reads half a number.
    const std::string temp = path + ".tmp";
    {
        std::ofstream out(temp, std::ios::trunc);
        out << port << '\n';
        if (!out.flush())
            return false;
    }
    return std::rename(temp.c_str(), path.c_str()) == 0;
}

// The address clients reach the service at, for the links it hands out (never taken from a request's
// Host header): --public-url, else the listening address.
std::string publicBase(const Arguments& args, bool tls, std::string host, int port)
{
    if (auto url = args.option("public-url")) {
        while (!url->empty() && url->back() == '/')
            url->pop_back();
        return *url;
    }
    if (host.empty() || host == "0.0.0.0" || host == "::")
        host = "127.0.0.1";
    if (host.find(':') != std::string::npos)
        host = "[" + host + "]";
    return (tls ? "https://" : "http://") + host + ":" + std::to_string(port);
}

// The host devices dial for the relay (never taken from a request's Host header): the public address's
// host, else the relay's listening address.
std::string advertisedRelayHost(const std::string& publicBase, std::string listenHost)
{
    const QUrl url(QString::fromStdString(publicBase));
    if (!url.host().isEmpty() && url.host() != QLatin1String("127.0.0.1"))
        return url.host().toStdString();
    if (listenHost.empty() || listenHost == "0.0.0.0" || listenHost == "::")
        listenHost = "127.0.0.1";
    return listenHost;
}

int serve(Database& db, const Arguments& args)
{
    // Large blocks (a password hash's 16 MiB, request bodies) are mapped for themselves and go back to the
    // system when freed; with the allocator's own sliding threshold each connection thread's arena would
    // keep them.
    mallopt(M_MMAP_THRESHOLD, 1 << 20);
    const std::string listen = args.option("listen").value_or("127.0.0.1:47800");
    const auto colon = listen.rfind(':');
    if (colon == std::string::npos)
        return std::cerr << "--listen 要写成 地址:端口\n", 2;
    std::string host = listen.substr(0, colon);
    if (host.size() > 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    int port = 0;
    try {
        port = std::stoi(listen.substr(colon + 1));
    } catch (const std::exception&) {
        return std::cerr << "端口不对：" << listen << '\n', 2;
    }

    const auto cert = args.option("tls-cert");
    const auto key = args.option("tls-key");
    if (bool(cert) != bool(key))
        return std::cerr << "--tls-cert 和 --tls-key 要一起给\n", 2;
    ServiceServer::Limits limits;
    Relay::Limits relayLimits;
    const std::pair<const char*, std::chrono::milliseconds*> timeouts[] = {
        {"header-timeout", &limits.headerTime},
        {"relay-greeting-timeout", &relayLimits.greeting},
        {"relay-idle-timeout", &relayLimits.idle},
    };
    for (const auto& [name, target] : timeouts) {
        if (const auto seconds = args.option(name)) {
            const double value = std::atof(seconds->c_str());
            if (value <= 0 || value > 86400)
                return std::cerr << "--" << name << " 要写成正的秒数\n", 2;
            *target = std::chrono::milliseconds(int64_t(value * 1000));
        }
    }
#if TARNEL_TEST_HOOKS
    // The tests' build takes a small relay, which a test fills with a few connections.
    if (const auto places = args.option("relay-places"))
        relayLimits.ticketed = std::max(2, std::atoi(places->c_str()));
#endif
    auto server = std::make_unique<ServiceServer>(limits);
    if (cert && !server->useTls(*cert, *key))
        return std::cerr << "读不了 TLS 证书或私钥\n", 1;

    // Idle keep-alive connections end soon, so a stop finishes quickly.
    server->set_keep_alive_timeout(2);

    // Bound first: the links the API hands out name the port.
    const bool anyPort = port == 0;
    port = server->bind(host, port);
    if (port < 0)
        return std::cerr << "监听不了 " << listen << '\n', 1;

#if TARNEL_TEST_HOOKS
    std::unique_ptr<TestHooks> hooks;
    if (args.flag("test-hooks")) {
        hooks = std::make_unique<TestHooks>();
        hooks->install(*server);
    }
    TestHooks* const testHooks = hooks.get();
#else
    const bool hooks = false;
    TestHooks* const testHooks = nullptr;
#endif
    // The relay listens next to the API: by default on the same address, two ports up (any port when the
    // API's was chosen by the system).
    const std::string relayListen =
        args.option("relay-listen").value_or(host + ":" + std::to_string(anyPort ? 0 : port + 2));
    const auto relayColon = relayListen.rfind(':');
    std::string relayHost = relayListen.substr(0, relayColon);
    if (relayHost.size() > 2 && relayHost.front() == '[')
        relayHost = relayHost.substr(1, relayHost.size() - 2);

    const std::string base = publicBase(args, cert.has_value(), host, port);
    Relay& relay = *new Relay(relayLimits); // lives as long as the process: relayed connections end on their own threads
    NetApi net(db, relay, args.option("relay-host").value_or(advertisedRelayHost(base, relayHost)), testHooks);
    net.install(*server); // before the API's own routes, whose test hooks answer every other path
    Api api(db, base, testHooks);
    api.install(*server);
    if (relayColon == std::string::npos || !relay.listen(relayHost, std::atoi(relayListen.c_str() + relayColon + 1)))
        return std::cerr << "中转端口监听不了 " << relayListen << '\n', 1;
    if (auto file = args.option("port-file"); file && !writePortFile(*file, port))
        return std::cerr << "写不了端口文件 " << *file << '\n', 1;

    // SIGINT/SIGTERM end the service cleanly: a thread waits for them and stops the server.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    std::thread([&signals, &server] {
        int received = 0;
        sigwait(&signals, &received);
        server->stop();
    }).detach();

    std::cerr << "tarnel-accountd：在 " << (cert ? "https" : "http") << "://" << listen.substr(0, colon) << ':'
              << port << "/ 上服务" << (hooks ? "（测试钩子已开）" : "") << std::endl;
    server->listen_after_bind();
    return 0;
}

// One database per user, always in the same place (the home of the password database, not $HOME, so
// a changed environment does not split it): the service and the admin commands meet there without --db.
std::string defaultDatabase()
{
    const passwd* user = ::getpwuid(::geteuid());
    const std::string home = user && user->pw_dir ? user->pw_dir : "";
    return home + "/.local/share/tarnel-accountd/accounts.db";
}

// The admin commands use only an existing database, so a mistyped path does not quietly make a new one
// that no service serves (the service makes its own on first start).
bool databaseExists(const std::string& path)
{
    std::error_code error;
    if (std::filesystem::exists(path, error))
        return true;
    std::cerr << "没有数据库 " << path << "：账号服务还没用它启动过（./scripts/run.sh 会启动服务），"
              << "或者用 --db 指定服务用的数据库\n";
    return false;
}

} // namespace

int main(int argc, char** argv)
{
    // Blocked before any thread starts, so only the waiting thread receives them.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    const Arguments args(argc, argv, {"test-hooks", "help"});
    if (args.flag("help") || args.words().empty()) {
        Admin::usage();
        return args.flag("help") ? 0 : 2;
    }
    if (!args.error().empty())
        return std::cerr << args.error() << '\n', 2;
#if !TARNEL_TEST_HOOKS
    // The hooks hand out every request body, passwords included: they exist only in the tests' build.
    if (args.flag("test-hooks"))
        return std::cerr << "这个 tarnel-accountd 没有测试钩子：--test-hooks 只在测试用的 tarnel-accountd-test 里有\n", 2;
#endif
    const std::string dbPath = args.option("db").value_or(defaultDatabase());
    const bool serving = args.word(0) == "serve";
    if (!serving && !databaseExists(dbPath))
        return 1;
    try {
        Database db(dbPath);
        NetApi::migrate(db);
        if (serving)
            return serve(db, args);
        return Admin::run(db, args);
    } catch (const DatabaseError& error) {
        std::cerr << "数据库出错：" << error.what() << '\n';
        return 1;
    }
}
