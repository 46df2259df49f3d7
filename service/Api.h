#pragma once

#include "Accounts.h"

#include <optional>

namespace httplib {
class Server;
struct Request;
struct Response;
}
class TestHooks;

// The HTTP API the tarnel client uses: sign-in, registration, check-in, sign-out, update offers and
// downloads, diagnostics, feedback and device removal. Every refusal is a status with a JSON `error`.
class Api {
public:
    Api(Database& db, bool tls, TestHooks* hooks);
    void install(httplib::Server& server);

    static constexpr size_t diagLimit = 4u << 20;
    static constexpr size_t imageLimit = 10u << 20;
    static constexpr size_t logLimit = 4u << 20;
    static constexpr size_t envLimit = 64u << 10;
    static constexpr int textLimit = 20000;
    static constexpr int imageCountLimit = 6;
    static constexpr size_t payloadLimit = 80u << 20;

private:
    void login(const httplib::Request& req, httplib::Response& res);
    void registerAccount(const httplib::Request& req, httplib::Response& res);
    void ping(const httplib::Request& req, httplib::Response& res);
    void logout(const httplib::Request& req, httplib::Response& res);
    void update(const httplib::Request& req, httplib::Response& res);
    void download(const httplib::Request& req, httplib::Response& res);
    void diag(const httplib::Request& req, httplib::Response& res);
    void feedback(const httplib::Request& req, httplib::Response& res);
    void removeDevice(const httplib::Request& req, httplib::Response& res);

    // The signed-in user of a request, or none after answering 401 (or 403 for a disabled account
    // when `active` is required).
    std::optional<User> authorise(const httplib::Request& req, httplib::Response& res, bool active);
    std::string base(const httplib::Request& req) const;

    Database& db;
    bool tls;
    TestHooks* hooks;
};
