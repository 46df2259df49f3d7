#include "Api.h"

#include "AddressGroup.h"
#include "Secrets.h"
#include "ServiceServer.h"
#include "ServiceText.h"
#if TARNEL_TEST_HOOKS
#include "TestHooks.h"
#endif

#include <QJsonArray>
#include <QJsonDocument>
#include <httplib.h>

using ServiceText::q;
using ServiceText::refuse;
using ServiceText::reply;
using ServiceText::s;

namespace {
const QString disabledText = QStringLiteral("你的账号已停用，请联系管理员");
const QString unknownInviteText = QStringLiteral("邀请码不对");

std::optional<QJsonObject> jsonBody(const httplib::Request& req)
{
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(req.body), &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return std::nullopt;
    return doc.object();
}

std::optional<std::string> text(const QJsonObject& o, const char* key)
{
    const QJsonValue v = o.value(QLatin1String(key));
    if (!v.isString())
        return std::nullopt;
    return s(v.toString());
}

// A text field as it is stored: at most `limit` characters.
std::string bounded(const QJsonObject& o, const char* key, int limit)
{
    const QJsonValue v = o.value(QLatin1String(key));
    return v.isString() ? s(v.toString().left(limit)) : std::string();
}

std::string bounded(const std::string& text, int limit) { return s(q(text).left(limit)); }

constexpr int shortField = 64;
constexpr int longField = 256;

std::optional<int64_t> whole(const QJsonObject& o, const char* key)
{
    const QJsonValue v = o.value(QLatin1String(key));
    if (!v.isDouble() || v.toDouble() != double(int64_t(v.toDouble())))
        return std::nullopt;
    return int64_t(v.toDouble());
}

// This service's own id, made with its database and kept with it.
std::string serviceIdentity(Database& db)
{
    auto lock = db.lock();
    auto row = db.query("SELECT id FROM service");
    if (row.step())
        return row.text(0);
    const std::string id = Secrets::newToken().substr(0, 32);
    db.run("INSERT INTO service (id) VALUES (?)", id);
    return id;
}

QJsonObject authReply(const User& user, const std::string& token)
{
    return QJsonObject{{QStringLiteral("token"), q(token)},
                       {QStringLiteral("username"), q(user.username)},
                       {QStringLiteral("displayName"), q(user.displayName)},
                       {QStringLiteral("role"), q(user.role)},
                       {QStringLiteral("status"), q(user.status)}};
}

QJsonObject ok(int64_t id)
{
    return QJsonObject{{QStringLiteral("ok"), true}, {QStringLiteral("id"), double(id)}};
}

bool validChannel(const std::string& channel) { return channel == "stable" || channel == "test"; }

std::string formText(const httplib::Request& req, const char* name)
{
    return req.has_file(name) ? req.get_file_value(name).content : std::string();
}
} // namespace

Api::Api(Database& db, std::string publicBase, TestHooks* hooks)
    : db(db), publicBase(std::move(publicBase)), hooks(hooks)
{
}

size_t Api::bodyLimit(const std::string& path)
{
    if (path == "/api/feedback")
        return feedbackLimit;
    if (path == "/api/diag")
        return diagLimit;
    return smallBodyLimit;
}

bool Api::admit(const httplib::Request& req, httplib::Response& res, bool hold)
{
    // Only an announced length is checked before the body comes: a chunked body, whatever length it
    // also claims, could run on without end.
    if (req.has_header("Transfer-Encoding")) {
        refuse(res, 411, QStringLiteral("请求要写明内容长度"));
        return false;
    }
    const std::string announced = req.get_header_value("Content-Length");
    const size_t length = announced.empty() ? 0 : size_t(std::strtoull(announced.c_str(), nullptr, 10));
    if (length > bodyLimit(req.path)) {
        refuse(res, 413, QStringLiteral("上传的内容太大了"));
        return false;
    }
    // Under test hooks a script may answer the path for any caller, so there the handler decides.
    return length <= smallBodyLimit || hooks || admitUpload(req, res, length, hold);
}

// Large bodies are taken only from a signed-in account within its quota, a few of its own at once, and
// while the service has room for them.
bool Api::admitUpload(const httplib::Request& req, httplib::Response& res, size_t length, bool hold)
{
    std::optional<User> user;
    {
        auto lock = db.lock();
        user = authorise(req, res, true);
        if (!user || !withinQuota(*user, req.path == "/api/feedback", int64_t(length), res))
            return false;
    }
    if (!hold)
        return true;
    auto grant = uploads.take(user->id, length);
    if (grant.refusal == UploadBudget::Refusal::account) {
        res.set_header("Retry-After", "5");
        refuse(res, 429, QStringLiteral("你还有别的上传没传完，请稍后再试"));
        return false;
    }
    if (grant.refusal == UploadBudget::Refusal::service) {
        ServiceText::refuseBusy(res);
        return false;
    }
    ServiceServer::holdUntilAnswered(std::move(grant.hold));
    return true;
}

void Api::install(httplib::Server& server)
{
    auto handler = [this](void (Api::*member)(const httplib::Request&, httplib::Response&)) {
        return httplib::Server::Handler([this, member](const httplib::Request& req, httplib::Response& res) {
#if TARNEL_TEST_HOOKS
            if (hooks && hooks->intercept(req, res))
                return;
#endif
            (this->*member)(req, res);
        });
    };
    server.set_payload_max_length(feedbackLimit);
    // Every reply names the service, so a client can tell it from another one at the same address.
    server.set_default_headers({{"X-Tarnel-Service", serviceIdentity(db)}});
    server.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
        return admit(req, res, true) ? httplib::Server::HandlerResponse::Unhandled
                                     : httplib::Server::HandlerResponse::Handled;
    });
    // A client that waits for "100 Continue" before sending its body is refused before it sends it; the
    // room for the body is taken once, as the request is routed.
    server.set_expect_100_continue_handler([this](const httplib::Request& req, httplib::Response& res) {
        return admit(req, res, false) ? 100 : res.status;
    });
    server.Post("/api/login", handler(&Api::login));
    server.Post("/api/register", handler(&Api::registerAccount));
    server.Post("/api/app/ping", handler(&Api::ping));
    server.Post("/api/logout", handler(&Api::logout));
    server.Get("/api/update", handler(&Api::update));
    server.Get(R"(/downloads/(\d+)/tarnel\.zip)", handler(&Api::download));
    server.Post("/api/diag", handler(&Api::diag));
    server.Post("/api/feedback", handler(&Api::feedback));
    server.Post(R"(/api/device/(.+)/remove)", handler(&Api::removeDevice));

#if TARNEL_TEST_HOOKS
    if (hooks) {
        // Under test every request is recorded and may be scripted, also on paths the API does not have.
        const httplib::Server::Handler anyPath = [this](const httplib::Request& req, httplib::Response& res) {
            if (!hooks->intercept(req, res))
                refuse(res, 404, QStringLiteral("没有这个接口"));
        };
        server.Get("/.*", anyPath);
        server.Post("/.*", anyPath);
        server.Put("/.*", anyPath);
        server.Delete("/.*", anyPath);
    }
#endif
    server.set_exception_handler([](const httplib::Request&, httplib::Response& res, std::exception_ptr error) {
        try {
            std::rethrow_exception(error);
        } catch (const Secrets::Busy&) {
            ServiceText::refuseBusy(res);
        } catch (...) {
            refuse(res, 500, QStringLiteral("服务器内部出错，请稍后再试"));
        }
    });
    // Replies the library makes itself (no route, too large, bad request) get the same JSON shape.
    server.set_error_handler([](const httplib::Request&, httplib::Response& res) {
        if (!res.body.empty())
            return;
#if TARNEL_TEST_HOOKS
        if (TestHooks::answeredByScript())
            return;
#endif
        switch (res.status) {
        case 404:
            refuse(res, 404, QStringLiteral("没有这个接口"));
            break;
        case 413:
            refuse(res, 413, QStringLiteral("上传的内容太大了"));
            break;
        case 400:
            refuse(res, 400, QStringLiteral("请求格式不对"));
            break;
        default:
            refuse(res, res.status, QStringLiteral("服务器出错了，请稍后再试"));
        }
    });
}

std::optional<User> Api::authorise(const httplib::Request& req, httplib::Response& res, bool active)
{
    const std::string header = req.get_header_value("Authorization");
    const std::string prefix = "Bearer ";
    const std::string token = header.rfind(prefix, 0) == 0 ? header.substr(prefix.size()) : std::string();
    const std::optional<User> user = Accounts::byToken(db, token);
    if (!user) {
        ServiceText::refuseSignIn(res, Accounts::revokedWithDevice(db, token));
        return std::nullopt;
    }
    if (active && user->status != "active") {
        refuse(res, 403, disabledText, QStringLiteral("disabled"));
        return std::nullopt;
    }
    return user;
}

void Api::login(const httplib::Request& req, httplib::Response& res)
{
    const auto body = jsonBody(req);
    const auto username = body ? text(*body, "username") : std::nullopt;
    const auto password = body ? text(*body, "password") : std::nullopt;
    if (!username || !password || username->empty() || password->empty())
        return refuse(res, 400, QStringLiteral("请填写用户名和密码"));
    if (const int wait = throttle.secondsToWait(req.remote_addr, *username); wait > 0) {
        res.set_header("Retry-After", std::to_string(wait));
        return refuse(res, 429, QStringLiteral("密码试错太多次，请 %1 秒后再试").arg(wait));
    }

    std::optional<User> user;
    std::string hash;
    {
        auto lock = db.lock();
        auto row = db.query("SELECT password_hash FROM users WHERE username = ?", *username);
        if (row.step()) {
            hash = row.text(0);
            user = Accounts::byName(db, *username);
        }
    }
    // The slow check runs outside the lock; an unknown name costs the same time as a wrong password.
    if (!user) {
        Secrets::burnPasswordCheck(*password);
        throttle.failed(req.remote_addr, *username);
        return refuse(res, 401, QStringLiteral("用户名或密码不对"));
    }
    if (!Secrets::verifyPassword(*password, hash)) {
        throttle.failed(req.remote_addr, *username);
        return refuse(res, 401, QStringLiteral("用户名或密码不对"));
    }
    throttle.succeeded(req.remote_addr, *username);
    if (user->status != "active")
        return refuse(res, 403, disabledText, QStringLiteral("disabled"));

    auto lock = db.lock();
    const std::string token = Accounts::issueToken(db, user->id);
    reply(res, 200, authReply(*user, token));
}

void Api::registerAccount(const httplib::Request& req, httplib::Response& res)
{
    const auto body = jsonBody(req);
    if (!body)
        return refuse(res, 400, QStringLiteral("请求格式不对"));
    const std::string username = text(*body, "username").value_or("");
    const std::string password = text(*body, "password").value_or("");
    // As sent, before UTF-8 would turn a lone surrogate into something else.
    const QString displayName = body->value(QStringLiteral("displayName")).toString();
    const std::string invite = text(*body, "invite").value_or("");
    if (!Accounts::validUsername(username))
        return refuse(res, 400, QStringLiteral("用户名只能用字母、数字和 . _ -，2 到 32 个字符，以字母或数字开头"));
    if (!Accounts::validPassword(password))
        return refuse(res, 400, QStringLiteral("密码至少要 6 个字符"));
    if (const auto problem = Accounts::displayNameProblem(displayName))
        return refuse(res, 400, *problem);
    if (invite.empty())
        return refuse(res, 400, QStringLiteral("请填写邀请码"));
    // Guessed codes are slowed down per address like guessed passwords, and together, once many guess at
    // once, for the neighbourhoods that guessed wrong; one where nobody did is never held.
    const std::string guesser = "register " + AddressGroup::of(req.remote_addr);
    int wait = registrations.secondsToWait(req.remote_addr, guesser);
    if (registrations.failedNearby(req.remote_addr))
        wait = std::max(wait, inviteGuesses.secondsToWait({}));
    if (wait > 0) {
        res.set_header("Retry-After", std::to_string(wait));
        return refuse(res, 429, QStringLiteral("邀请码试错太多次，请 %1 秒后再试").arg(wait));
    }
    // The code and the name are checked before the slow hash, and again with it in hand.
    {
        auto lock = db.lock();
        if (const auto problem = registrationProblem(invite, username)) {
            if (problem->first == 403 && problem->second == unknownInviteText) {
                registrations.failed(req.remote_addr, guesser);
                inviteGuesses.count({});
            }
            return refuse(res, problem->first, problem->second);
        }
    }
    const std::string hash = Secrets::hashPassword(password);
    auto lock = db.lock();
    Database::Transaction transaction(db);
    if (const auto problem = registrationProblem(invite, username))
        return refuse(res, problem->first, problem->second);
    registrations.succeeded(req.remote_addr, guesser);

    db.run("INSERT INTO users (username, password_hash, display_name, role, status, invite, created_at) "
           "VALUES (?, ?, ?, 'user', 'active', ?, ?)",
           username, hash, s(displayName.trimmed()), invite, ServiceText::now());
    const int64_t id = db.lastInsertId();
    db.run("UPDATE invites SET uses = uses + 1 WHERE code = ?", invite);
    const std::string token = Accounts::issueToken(db, id);
    transaction.commit();
    reply(res, 200, authReply(*Accounts::byName(db, username), token));
}

std::optional<std::pair<int, QString>> Api::registrationProblem(const std::string& invite, const std::string& username)
{
    auto code = db.query("SELECT max_uses, uses, expires_at, revoked FROM invites WHERE code = ?", invite);
    if (!code.step())
        return std::pair(403, unknownInviteText);
    if (code.integer(3) != 0)
        return std::pair(403, QStringLiteral("邀请码已作废"));
    if (!code.isNull(2) && code.integer(2) <= ServiceText::now())
        return std::pair(403, QStringLiteral("邀请码已过期"));
    if (code.integer(1) >= code.integer(0))
        return std::pair(403, QStringLiteral("邀请码已经用完了"));
    if (Accounts::byName(db, username))
        return std::pair(409, QStringLiteral("这个用户名已经有人用了"));
    return std::nullopt;
}

void Api::ping(const httplib::Request& req, httplib::Response& res)
{
    auto lock = db.lock();
    const auto user = authorise(req, res, false);
    if (!user)
        return;
    const std::string tokenHash = Secrets::sha256Hex(req.get_header_value("Authorization").substr(7));
    if (const int wait = checkIns.take(tokenHash); wait > 0) {
        res.set_header("Retry-After", std::to_string(wait));
        return refuse(res, 429, QStringLiteral("报到太频繁了，请 %1 秒后再试").arg(wait));
    }
    const auto body = jsonBody(req);
    const auto version = body ? text(*body, "version") : std::nullopt;
    const auto build = body ? whole(*body, "build") : std::nullopt;
    const auto channel = body ? text(*body, "channel") : std::nullopt;
    if (!version || !build || !channel || !validChannel(*channel))
        return refuse(res, 400, QStringLiteral("报到内容不对，请更新 tarnel"));

    // A sign-in's latest check-in replaces its earlier one.
    Database::Transaction transaction(db);
    db.run("DELETE FROM checkins WHERE token_hash = ?", tokenHash);
    db.run("INSERT INTO checkins (user_id, username, at, version, build, channel, os, model, servers, shots, address, "
           "token_hash) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
           user->id, user->username, ServiceText::now(), bounded(*version, shortField), *build, *channel,
           bounded(*body, "os", longField), bounded(*body, "model", longField), whole(*body, "servers").value_or(0),
           whole(*body, "shots").value_or(0), bounded(req.remote_addr, shortField), tokenHash);
    transaction.commit();

    QJsonObject answer{{QStringLiteral("account"), q(user->status)},
                       {QStringLiteral("displayName"), q(user->displayName)},
                       {QStringLiteral("role"), q(user->role)}};
    if (auto offer = Accounts::offer(db, *channel, *build, publicBase))
        answer.insert(QStringLiteral("update"), *offer);
    reply(res, 200, answer);
}

void Api::logout(const httplib::Request& req, httplib::Response& res)
{
    auto lock = db.lock();
    if (!authorise(req, res, false))
        return;
    const std::string token = req.get_header_value("Authorization").substr(7);
    db.run("DELETE FROM tokens WHERE hash = ?", Secrets::sha256Hex(token));
    reply(res, 200, QJsonObject{{QStringLiteral("ok"), true}});
}

void Api::update(const httplib::Request& req, httplib::Response& res)
{
    const std::string channel = req.get_param_value("channel");
    bool numeric = false;
    const qint64 build = q(req.get_param_value("build")).toLongLong(&numeric);
    if (!validChannel(channel) || !numeric)
        return refuse(res, 400, QStringLiteral("检查更新的参数不对"));
    auto lock = db.lock();
    reply(res, 200, Accounts::offer(db, channel, build, publicBase).value_or(QJsonObject{{QStringLiteral("available"), false}}));
}

void Api::download(const httplib::Request& req, httplib::Response& res)
{
    bool numeric = false;
    const int64_t id = q(req.matches[1]).toLongLong(&numeric);
    if (!numeric)
        return refuse(res, 404, QStringLiteral("没有这个更新包"));
    int64_t size = 0;
    {
        auto lock = db.lock();
        auto row = db.query("SELECT size FROM releases WHERE id = ? AND published = 1", id);
        if (!row.step())
            return refuse(res, 404, QStringLiteral("没有这个更新包"));
        size = row.integer(0);
    }
    // Sent in pieces straight from the database, so a large archive never sits in memory whole.
    res.set_content_provider(size_t(size), "application/zip", [this, id](size_t offset, size_t length, httplib::DataSink& sink) {
        const size_t piece = std::min<size_t>(length, 1u << 20);
        std::string bytes;
        {
            auto lock = db.lock();
            auto row = db.query("SELECT substr(archive, ?, ?) FROM releases WHERE id = ?", int64_t(offset + 1),
                                int64_t(piece), id);
            if (!row.step())
                return false;
            bytes = row.blob(0);
        }
        if (bytes.empty())
            return false;
        return sink.write(bytes.data(), bytes.size());
    });
}

bool Api::withinQuota(const User& user, bool feedback, int64_t incoming, httplib::Response& res)
{
    const int64_t now = ServiceText::now();
    auto recent = db.query(feedback ? "SELECT COUNT(*), MIN(at) FROM feedback WHERE user_id = ? AND at > ?"
                                    : "SELECT COUNT(*), MIN(at) FROM diagnostics WHERE user_id = ? AND at > ?",
                           user.id, now - 3600);
    recent.step();
    if (recent.integer(0) >= (feedback ? feedbackPerHour : diagPerHour)) {
        res.set_header("Retry-After", std::to_string(std::max<int64_t>(1, recent.integer(1) + 3600 - now)));
        refuse(res, 429, feedback ? QStringLiteral("反馈发得太频繁了，请过一个小时再试")
                                  : QStringLiteral("诊断报告发得太频繁了，请过一会儿再试"));
        return false;
    }
    auto stored = db.query(feedback ? "SELECT COALESCE(SUM(length(CAST(text AS BLOB)) + length(CAST(env AS BLOB)) + "
                                      "length(CAST(log AS BLOB))), 0) + COALESCE((SELECT SUM(length(i.bytes)) FROM "
                                      "feedback_images i JOIN feedback f ON f.id = i.feedback_id WHERE f.user_id = ?1), 0) "
                                      "FROM feedback WHERE user_id = ?1"
                                    : "SELECT COALESCE(SUM(length(CAST(report AS BLOB))), 0) FROM diagnostics WHERE user_id = ?1",
                           user.id);
    stored.step();
    if (stored.integer(0) + incoming > (feedback ? feedbackStored : diagStored)) {
        refuse(res, 429, feedback ? QStringLiteral("你存在服务器上的反馈已经太多了，请联系管理员清理后再发")
                                  : QStringLiteral("你存在服务器上的诊断报告已经太多了，请联系管理员清理后再发"));
        return false;
    }
    return true;
}

void Api::diag(const httplib::Request& req, httplib::Response& res)
{
    auto lock = db.lock();
    const auto user = authorise(req, res, true);
    if (!user)
        return;
    if (req.body.size() > diagLimit)
        return refuse(res, 413, QStringLiteral("诊断报告太大了（最多 4 MB）"));
    const auto body = jsonBody(req);
    if (!body)
        return refuse(res, 400, QStringLiteral("诊断报告格式不对"));
    if (!withinQuota(*user, false, int64_t(req.body.size()), res))
        return;
    db.run("INSERT INTO diagnostics (user_id, username, at, reason, version, build, device_name, device_alias, report) "
           "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)",
           user->id, user->username, ServiceText::now(), bounded(*body, "reason", longField),
           bounded(*body, "version", shortField), whole(*body, "build").value_or(0),
           bounded(*body, "deviceName", longField), bounded(*body, "deviceAlias", longField), req.body);
    reply(res, 200, ok(db.lastInsertId()));
}

void Api::feedback(const httplib::Request& req, httplib::Response& res)
{
    {
        auto lock = db.lock();
        if (!authorise(req, res, true))
            return;
    }
    if (!req.is_multipart_form_data())
        return refuse(res, 400, QStringLiteral("反馈格式不对"));
    const std::string text = formText(req, "text");
    const std::string env = formText(req, "env");
    const std::string log = formText(req, "log");
    const auto images = req.files.equal_range("images");
    const auto imageCount = std::distance(images.first, images.second);
    if (q(text).size() > textLimit)
        return refuse(res, 413, QStringLiteral("反馈文字太长了（最多 20000 字）"));
    if (env.size() > envLimit || log.size() > logLimit)
        return refuse(res, 413, QStringLiteral("附带的日志太大了"));
    if (imageCount > imageCountLimit)
        return refuse(res, 413, QStringLiteral("最多附 6 张图"));
    for (auto it = images.first; it != images.second; ++it) {
        if (it->second.content.size() > imageLimit)
            return refuse(res, 413, QStringLiteral("图片太大了（每张最多 10 MB）"));
        if (!ServiceText::imageSuffix(it->second.content))
            return refuse(res, 415, QStringLiteral("只能附 PNG 或 JPEG 图片"));
    }

    auto lock = db.lock();
    const auto user = authorise(req, res, true);
    if (!user)
        return;
    int64_t incoming = int64_t(text.size() + env.size() + log.size());
    for (auto it = images.first; it != images.second; ++it)
        incoming += int64_t(it->second.content.size());
    if (!withinQuota(*user, true, incoming, res))
        return;
    Database::Transaction transaction(db);
    db.run("INSERT INTO feedback (user_id, username, at, text, env, log, image_count) VALUES (?, ?, ?, ?, ?, ?, ?)",
           user->id, user->username, ServiceText::now(), text, env, log, int64_t(imageCount));
    const int64_t id = db.lastInsertId();
    int position = 1;
    for (auto it = images.first; it != images.second; ++it, ++position)
        db.prepare("INSERT INTO feedback_images (feedback_id, position, filename, bytes) VALUES (?, ?, ?, ?)")
            .bind(1, id)
            .bind(2, position)
            .bind(3, bounded(it->second.filename, longField))
            .bindBlob(4, it->second.content)
            .run();
    transaction.commit();
    reply(res, 200, ok(id));
}

void Api::removeDevice(const httplib::Request& req, httplib::Response& res)
{
    auto lock = db.lock();
    const auto user = authorise(req, res, true);
    if (!user)
        return;
    const std::string id = req.matches[1];
    // Another account's device answers exactly like a missing one.
    auto row = db.query("SELECT 1 FROM devices WHERE id = ? AND user_id = ?", id, user->id);
    if (!row.step())
        return refuse(res, 404, QStringLiteral("你的账号里没有这台设备"));
    db.run("DELETE FROM devices WHERE id = ? AND user_id = ?", id, user->id);
    reply(res, 200, QJsonObject{{QStringLiteral("ok"), true}});
}
