#include "TestHooks.h"

#include "ServiceText.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <httplib.h>

#include <chrono>
#include <dirent.h>
#include <netdb.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using ServiceText::q;
using ServiceText::s;

namespace {
const size_t recordLimit = 500;
thread_local bool scriptedReply = false;

std::string numericPeer(int fd, int& port)
{
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (::getpeername(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return {};
    char host[NI_MAXHOST];
    char service[NI_MAXSERV];
    if (::getnameinfo(reinterpret_cast<sockaddr*>(&address), length, host, sizeof host, service, sizeof service,
                      NI_NUMERICHOST | NI_NUMERICSERV) != 0)
        return {};
    port = std::atoi(service);
    return host;
}

// The server library does not hand out its sockets: find the one whose peer is this request's client
// and shut it down, so the client sees the connection end without any reply.
void dropConnection(const httplib::Request& req)
{
    DIR* dir = ::opendir("/proc/self/fd");
    if (!dir)
        return;
    while (dirent* entry = ::readdir(dir)) {
        const int fd = std::atoi(entry->d_name);
        if (fd <= 2 || fd == ::dirfd(dir))
            continue;
        int port = -1;
        if (numericPeer(fd, port) == req.remote_addr && port == req.remote_port)
            ::shutdown(fd, SHUT_RDWR);
    }
    ::closedir(dir);
}

std::string normalisedPath(std::string path)
{
    if (path.empty() || path.front() != '/')
        path.insert(path.begin(), '/');
    return path;
}
} // namespace

void TestHooks::install(httplib::Server& server)
{
    server.Post("/_test/script", [this](const httplib::Request& req, httplib::Response& res) {
        const QJsonObject o = QJsonDocument::fromJson(QByteArray::fromStdString(req.body)).object();
        Script script;
        script.status = o.value(QStringLiteral("status")).toInt(200);
        script.body = s(o.value(QStringLiteral("body")).toString());
        script.contentType = s(o.value(QStringLiteral("contentType")).toString(QStringLiteral("application/json")));
        script.delayMs = o.value(QStringLiteral("delayMs")).toInt(0);
        script.drop = o.value(QStringLiteral("drop")).toBool(false);
        const int times = std::max(1, o.value(QStringLiteral("times")).toInt(1));
        const std::string path = normalisedPath(s(o.value(QStringLiteral("path")).toString()));
        std::lock_guard<std::mutex> lock(mutex);
        for (int i = 0; i < times; ++i)
            scripts[path].push_back(script);
        ServiceText::reply(res, 200, QJsonObject{{QStringLiteral("ok"), true}});
    });
    server.Get("/_test/requests", [this](const httplib::Request&, httplib::Response& res) {
        std::lock_guard<std::mutex> lock(mutex);
        res.set_content(QJsonDocument(recorded).toJson(QJsonDocument::Compact).toStdString(), "application/json");
    });
    server.Post("/_test/reset", [this](const httplib::Request&, httplib::Response& res) {
        std::lock_guard<std::mutex> lock(mutex);
        recorded = QJsonArray();
        scripts.clear();
        ServiceText::reply(res, 200, QJsonObject{{QStringLiteral("ok"), true}});
    });
}

void TestHooks::record(const httplib::Request& req)
{
    QJsonObject headers;
    for (const auto& [name, value] : req.headers) {
        if (name == "REMOTE_ADDR" || name == "REMOTE_PORT" || name == "LOCAL_ADDR" || name == "LOCAL_PORT")
            continue;
        headers.insert(q(name).toLower(), q(value));
    }
    QJsonObject query;
    for (const auto& [name, value] : req.params)
        query.insert(q(name), q(value));
    const QJsonObject entry{
        {QStringLiteral("method"), q(req.method)},
        {QStringLiteral("path"), q(req.path)},
        {QStringLiteral("target"), q(req.target)},
        {QStringLiteral("query"), query},
        {QStringLiteral("headers"), headers},
        {QStringLiteral("body"), QString::fromLatin1(QByteArray::fromStdString(req.body).toBase64())},
    };
    std::lock_guard<std::mutex> lock(mutex);
    if (size_t(recorded.size()) >= recordLimit)
        recorded.removeFirst();
    recorded.append(entry);
}

bool TestHooks::answeredByScript() { return scriptedReply; }

bool TestHooks::intercept(const httplib::Request& req, httplib::Response& res)
{
    scriptedReply = false;
    if (req.path.rfind("/_test/", 0) == 0)
        return false;
    record(req);
    Script script;
    {
        std::lock_guard<std::mutex> lock(mutex);
        auto it = scripts.find(req.path);
        if (it == scripts.end() || it->second.empty())
            return false;
        script = it->second.front();
        it->second.pop_front();
    }
    scriptedReply = true;
    if (script.delayMs > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(script.delayMs));
    if (script.drop) {
        dropConnection(req);
        res.status = 500;
        return true;
    }
    res.status = script.status;
    if (!script.body.empty())
        res.set_content(script.body, script.contentType.c_str());
    return true;
}
