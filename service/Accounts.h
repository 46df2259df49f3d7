#pragma once

#include "Database.h"

#include <QJsonObject>
#include <QString>
#include <optional>
#include <string>

struct User {
    int64_t id = 0;
    std::string username;
    std::string displayName;
    std::string role;
    std::string status; // "active" or "disabled"
};

// The rules about accounts and releases that both the HTTP side and the admin command line apply.
// Callers hold the database lock.
namespace Accounts {

std::optional<User> byName(Database& db, const std::string& username);
std::optional<User> byToken(Database& db, const std::string& token);
std::string issueToken(Database& db, int64_t userId); // returns the token; only its hash is stored

// A sign-in token as the device API sees it: its account, and the device and proven certificate it
// belongs to once that device synced with it (empty before).
struct Session {
    User user;
    std::string hash;
    std::string device;
    int64_t createdAt = 0;
    std::string certificate;
};
std::optional<Session> session(Database& db, const std::string& token);
// True when `token` was revoked because its device was removed from the account.
bool revokedWithDevice(Database& db, const std::string& token);
void revokeTokens(Database& db, int64_t userId);

bool validUsername(const std::string& name);
// Why a display name is refused, as the refusal says it; none when it may be used.
std::optional<QString> displayNameProblem(const QString& name);
bool validPassword(const std::string& password);

// The newest published release for the channel ("test" also sees stable ones) above `build`, as an
// update offer; none when there is nothing newer. `base` is the service's own address for the download.
std::optional<QJsonObject> offer(Database& db, const std::string& channel, int64_t build, const std::string& base);

} // namespace Accounts
