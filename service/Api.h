#pragma once

#include "Accounts.h"
#include "LoginThrottle.h"
#include "RateLimit.h"
#include "UploadBudget.h"

#include <QString>
#include <optional>
#include <utility>

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
    // `publicBase` is the service's address as clients reach it ("https://host:port"), for links it hands out.
    Api(Database& db, std::string publicBase, TestHooks* hooks);
    void install(httplib::Server& server);

    static constexpr size_t diagLimit = 4u << 20;
    static constexpr size_t imageLimit = 10u << 20;
    static constexpr size_t logLimit = 4u << 20;
    static constexpr size_t envLimit = 64u << 10;
    static constexpr int textLimit = 20000;
    static constexpr int imageCountLimit = 6;
    static constexpr size_t smallBodyLimit = 64u << 10;
    // A feedback form with every part at its largest, and room for the form's own lines.
    static constexpr size_t feedbackLimit =
        imageCountLimit * imageLimit + logLimit + envLimit + 4 * size_t(textLimit) + (64u << 10);
    // What one user may send and keep: reports per hour and bytes stored, of each kind.
    static constexpr int diagPerHour = 12;
    static constexpr int64_t diagStored = 32ll << 20;
    static constexpr int feedbackPerHour = 10;
    static constexpr int64_t feedbackStored = 128ll << 20;
    // Check-ins one sign-in may make in ten minutes; wrong invitation codes the addresses that guess may
    // try together.
    static constexpr int checkInsPerTenMinutes = 20;
    static constexpr int inviteGuessesPerTenMinutes = 60;

    // The most a request body may announce on this path.
    static size_t bodyLimit(const std::string& path);

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
    // Why a registration with this code and name cannot go ahead (status and text), or none. Holds the lock.
    std::optional<std::pair<int, QString>> registrationProblem(const std::string& invite, const std::string& username);
    std::optional<User> authorise(const httplib::Request& req, httplib::Response& res, bool active);
    // False after answering 429 when the user sent too many reports of this kind in the last hour, or
    // would store more than its share with `incoming` more bytes. Holds the lock.
    bool withinQuota(const User& user, bool feedback, int64_t incoming, httplib::Response& res);
    // Checks a request once its headers are in, before any body is read: the announced length against
    // the path's limit, and for a large body the account's sign-in and quota, and room for the body when
    // `hold` (kept until the request is answered). False after answering.
    bool admit(const httplib::Request& req, httplib::Response& res, bool hold);
    bool admitUpload(const httplib::Request& req, httplib::Response& res, size_t length, bool hold);

    Database& db;
    std::string publicBase;
    TestHooks* hooks;
    LoginThrottle throttle;
    LoginThrottle registrations;
    RateLimit checkIns{checkInsPerTenMinutes, std::chrono::minutes(10)};
    RateLimit inviteGuesses{inviteGuessesPerTenMinutes, std::chrono::minutes(10)};
    UploadBudget uploads{UploadBudget::Limits{}};
};
