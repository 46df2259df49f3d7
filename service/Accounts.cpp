#include "Accounts.h"

#include "Secrets.h"
#include "ServiceText.h"
#include "state/NameRule.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>

using ServiceText::q;

namespace {
User userFrom(const Database::Statement& row)
{
    return User{row.integer(0), row.text(1), row.text(2), row.text(3), row.text(4)};
}
} // namespace

namespace Accounts {

std::optional<User> byName(Database& db, const std::string& username)
{
    auto row = db.query("SELECT id, username, display_name, role, status FROM users WHERE username = ?", username);
    if (!row.step())
        return std::nullopt;
    return userFrom(row);
}

std::optional<User> byToken(Database& db, const std::string& token)
{
    const auto found = session(db, token);
    return found ? std::optional<User>(found->user) : std::nullopt;
}

std::optional<Session> session(Database& db, const std::string& token)
{
    if (token.empty())
        return std::nullopt;
    const std::string hash = Secrets::sha256Hex(token);
    auto row = db.query("SELECT u.id, u.username, u.display_name, u.role, u.status, COALESCE(t.device_id, ''), "
                        "t.created_at, COALESCE(t.cert_sha256, '') FROM tokens t JOIN users u ON u.id = t.user_id "
                        "WHERE t.hash = ?",
                        hash);
    if (!row.step())
        return std::nullopt;
    Session found{userFrom(row), hash, row.text(5), row.integer(6), row.text(7)};
    db.run("UPDATE tokens SET last_used_at = ? WHERE hash = ?", ServiceText::now(), hash);
    return found;
}

bool revokedWithDevice(Database& db, const std::string& token)
{
    return !token.empty() && db.query("SELECT 1 FROM revoked_tokens WHERE hash = ?", Secrets::sha256Hex(token)).step();
}

std::string issueToken(Database& db, int64_t userId)
{
    const std::string token = Secrets::newToken();
    db.run("INSERT INTO tokens (hash, user_id, created_at) VALUES (?, ?, ?)", Secrets::sha256Hex(token), userId,
           ServiceText::now());
    return token;
}

void revokeTokens(Database& db, int64_t userId) { db.run("DELETE FROM tokens WHERE user_id = ?", userId); }

bool validUsername(const std::string& name)
{
    static const QRegularExpression pattern(
        QRegularExpression::anchoredPattern(QStringLiteral("[A-Za-z0-9][A-Za-z0-9._-]{1,31}")));
    return pattern.match(q(name)).hasMatch();
}

std::optional<QString> displayNameProblem(const QString& name)
{
    return NameRule::problem(name.trimmed(), 64, QStringLiteral("显示名称不能为空，最多 64 个字"));
}

bool validPassword(const std::string& password)
{
    const QString text = q(password);
    return text.toUcs4().size() >= 6 && password.size() <= 1024;
}

std::optional<QJsonObject> offer(Database& db, const std::string& channel, int64_t build, const std::string& base)
{
    auto row = db.query("SELECT id, version, build, date, notes, minimum_system, sha256, size FROM releases "
                        "WHERE published = 1 AND build > ? AND (channel = 'stable' OR channel = ?) "
                        "ORDER BY build DESC, id DESC LIMIT 1",
                        build, channel);
    if (!row.step())
        return std::nullopt;
    QJsonObject info{
        {QStringLiteral("available"), true},
        {QStringLiteral("version"), q(row.text(1))},
        {QStringLiteral("build"), double(row.integer(2))},
        {QStringLiteral("date"), q(row.text(3))},
        {QStringLiteral("notes"), QJsonDocument::fromJson(QByteArray::fromStdString(row.text(4))).array()},
        {QStringLiteral("url"), q(base + "/downloads/" + std::to_string(row.integer(0)) + "/tarnel.zip")},
        {QStringLiteral("sha256"), q(row.text(6))},
        {QStringLiteral("size"), double(row.integer(7))},
    };
    if (!row.text(5).empty())
        info.insert(QStringLiteral("minimumSystem"), q(row.text(5)));
    return info;
}

} // namespace Accounts
