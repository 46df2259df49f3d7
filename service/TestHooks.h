#pragma once

#include <QJsonArray>
#include <deque>
#include <map>
#include <mutex>
#include <string>

namespace httplib {
class Server;
struct Request;
struct Response;
}

// `serve --test-hooks`: tests script the next replies to a path (status, body, delay, a dropped
// connection) and read back every request the service received, so a client's failure paths run against
// a real server. Never enabled in normal operation.
class TestHooks {
public:
    void install(httplib::Server& server);
    // Records the request; answers it when a script waits for its path. True when answered.
    bool intercept(const httplib::Request& req, httplib::Response& res);
    // True on the thread whose current request was answered by a script (its body is left as scripted).
    static bool answeredByScript();

private:
    struct Script {
        int status = 200;
        std::string body;
        std::string contentType;
        int delayMs = 0;
        bool drop = false;
    };

    void record(const httplib::Request& req);

    std::mutex mutex;
    std::map<std::string, std::deque<Script>> scripts;
    QJsonArray recorded;
};
