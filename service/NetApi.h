#pragma once

#include "Accounts.h"

#include <optional>
#include <string>

namespace httplib {
class Server;
struct Request;
struct Response;
}
class Relay;
class TestHooks;

// The device API of the link program: each device syncs its own record and gets its account's device
// list back, renames itself, and asks for relay tickets when its peers cannot be reached directly.
// A device removed from the account answers 410 from then on.
class NetApi {
public:
    NetApi(Database& db, Relay& relay, std::string relayHost, TestHooks* hooks);
    void install(httplib::Server& server);

    // The device tables next to the account tables; run on every start, also for the admin command line.
    static void migrate(Database& db);

    static constexpr int onlineSeconds = 45;
    static constexpr int maxEndpoints = 16;

private:
    void sync(const httplib::Request& req, httplib::Response& res);
    void rename(const httplib::Request& req, httplib::Response& res);
    void relayTicket(const httplib::Request& req, httplib::Response& res);

    std::optional<User> authorise(const httplib::Request& req, httplib::Response& res);
    // 410 for a removed device, 409 for another account's, 404 for an unknown one; true when it is ours.
    bool ownDevice(const User& user, const std::string& id, httplib::Response& res, bool mayBeNew);

    Database& db;
    Relay& relay;
    std::string relayHost;
    TestHooks* hooks;
};
