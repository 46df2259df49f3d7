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
// A device records a certificate only with a proof that it holds its key, and its token stays bound to
// that certificate. A device removed from the account answers 410 from then on, under its id or any
// certificate it used.
class NetApi {
public:
    NetApi(Database& db, Relay& relay, std::string relayHost, TestHooks* hooks);
    void install(httplib::Server& server);

    // The device tables next to the account tables; run on every start, also for the admin command line.
    static void migrate(Database& db);

    static constexpr int onlineSeconds = 45;
    static constexpr int maxEndpoints = 16;
    // Devices one account may hold; a new one beyond them is refused until the user removes one.
    static constexpr int maxDevices = 100;

private:
    void sync(const httplib::Request& req, httplib::Response& res);
    void rename(const httplib::Request& req, httplib::Response& res);
    void relayTicket(const httplib::Request& req, httplib::Response& res);

    std::optional<Accounts::Session> authorise(const httplib::Request& req, httplib::Response& res);
    // True when `id` is the caller's own device (or, with `mayBeNew`, a new one). A token serves the one
    // device it first synced for; a removed device answers 410 to a sign-in made after its removal and
    // revokes an older one (401); another account's device, removed or not, answers like an unknown one
    // (404).
    bool ownDevice(const Accounts::Session& caller, const std::string& id, httplib::Response& res, bool mayBeNew);

    Database& db;
    Relay& relay;
    std::string relayHost;
    TestHooks* hooks;
};
