#include "NetApi.h"

#include "Relay.h"
#include "link/DeviceName.h"
#include "link/DeviceProof.h"
#include "Secrets.h"
#include "ServiceText.h"
#if TARNEL_TEST_HOOKS
#include "TestHooks.h"
#endif

#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <httplib.h>

using ServiceText::q;
using ServiceText::refuse;
using ServiceText::reply;
using ServiceText::s;

namespace {

const char* const schema = R"sql(
CREATE TABLE IF NOT EXISTS net_devices (
  id TEXT PRIMARY KEY REFERENCES devices(id) ON DELETE CASCADE,
  ssh_user TEXT NOT NULL DEFAULT '',
  ssh_pubkey TEXT NOT NULL DEFAULT '',
  host_pubkey TEXT NOT NULL DEFAULT '',
  model TEXT NOT NULL DEFAULT '',
  os_version TEXT NOT NULL DEFAULT '',
  app_build INTEGER NOT NULL DEFAULT 0,
  remote_access INTEGER NOT NULL DEFAULT 0,
  version TEXT NOT NULL DEFAULT '',
  cert_sha256 TEXT NOT NULL DEFAULT '',
  endpoints TEXT NOT NULL DEFAULT '[]',
  last_sync INTEGER NOT NULL DEFAULT 0
);
CREATE TABLE IF NOT EXISTS removed_devices (
  id TEXT PRIMARY KEY,
  user_id INTEGER NOT NULL,
  at INTEGER NOT NULL
);
CREATE TABLE IF NOT EXISTS revoked_tokens (
  hash TEXT PRIMARY KEY,
  device_id TEXT NOT NULL,
  at INTEGER NOT NULL
);
CREATE TABLE IF NOT EXISTS device_certificates (
  device_id TEXT NOT NULL REFERENCES devices(id) ON DELETE CASCADE,
  cert_sha256 TEXT NOT NULL,
  PRIMARY KEY (device_id, cert_sha256)
);
CREATE TABLE IF NOT EXISTS removed_certificates (
  user_id INTEGER NOT NULL,
  cert_sha256 TEXT NOT NULL,
  at INTEGER NOT NULL,
  PRIMARY KEY (user_id, cert_sha256)
);
)sql";

// Databases from before certificates were proven: every certificate a device was known by is its own,
// removed devices' certificates stay refused in their account, and a token that synced is bound to its
// device's certificate. Each statement changes nothing the second time.
const char* const certificateMigration = R"sql(
INSERT OR IGNORE INTO device_certificates (device_id, cert_sha256)
  SELECT n.id, n.cert_sha256 FROM net_devices n JOIN devices d ON d.id = n.id WHERE n.cert_sha256 <> '';
INSERT OR IGNORE INTO removed_certificates (user_id, cert_sha256, at)
  SELECT user_id, cert_sha256, at FROM removed_devices WHERE cert_sha256 <> '';
UPDATE tokens SET cert_sha256 = (SELECT n.cert_sha256 FROM net_devices n WHERE n.id = tokens.device_id)
  WHERE cert_sha256 IS NULL AND device_id IS NOT NULL;
)sql";

// A removed device leaves for good: its id and every certificate it used are refused in its account from
// then on, and the sign-in tokens it synced with stop working, so the machine is signed out and must sign
// in again.
const char* const removalTrigger = R"sql(CREATE TRIGGER devices_removed BEFORE DELETE ON devices BEGIN
  INSERT OR REPLACE INTO removed_devices (id, user_id, at, cert_sha256) VALUES (old.id, old.user_id,
    CAST(strftime('%s', 'now') AS INTEGER), COALESCE((SELECT cert_sha256 FROM net_devices WHERE id = old.id), ''));
  INSERT OR IGNORE INTO removed_certificates (user_id, cert_sha256, at)
    SELECT old.user_id, cert_sha256, CAST(strftime('%s', 'now') AS INTEGER) FROM device_certificates
    WHERE device_id = old.id;
  INSERT OR REPLACE INTO revoked_tokens (hash, device_id, at)
    SELECT hash, old.id, CAST(strftime('%s', 'now') AS INTEGER) FROM tokens WHERE device_id = old.id;
  DELETE FROM tokens WHERE device_id = old.id;
END)sql";

void addColumn(Database& db, const char* table, const char* column, const char* type)
{
    if (!db.query(std::string("SELECT 1 FROM pragma_table_info('") + table + "') WHERE name = ?", column).step())
        db.exec(std::string("ALTER TABLE ") + table + " ADD COLUMN " + column + " " + type);
}

const QString removedText = QStringLiteral("这台设备已经从账号里移除了");
const QString missingText = QStringLiteral("你的账号里没有这台设备");
const QString otherDeviceText = QStringLiteral("这个登录属于另一台设备，请重新登录");
const QString aliasText = QStringLiteral("别名只能是 qx- 加小写字母、数字、短横，最长 24 个字符");
const QString aliasTakenText = QStringLiteral("别名 %1 已经被你的另一台设备用了，换一个吧");

bool matches(const char* pattern, const QString& text)
{
    return QRegularExpression(QString::fromLatin1(pattern)).match(text).hasMatch();
}

bool validId(const QString& id) { return matches("^[A-Za-z0-9._-]{8,64}$", id); }
bool validAlias(const QString& alias) { return matches("^qx-[a-z0-9-]{1,24}$", alias); }

bool plainText(const QString& text, int limit)
{
    if (text.size() > limit)
        return false;
    for (QChar c : text)
        if (c.category() == QChar::Other_Control)
            return false;
    return true;
}

// Why a device name is refused, in the words the rename box shows; none when it is kept.
std::optional<QString> nameProblem(const QString& name) { return DeviceName::problem(name.trimmed()); }

// A key line as ssh writes it: type, base64 data, optional comment; one line.
bool validKeyLine(const QString& line)
{
    return line.isEmpty() || (plainText(line, 8192) && matches("^[a-z0-9@.-]+ [A-Za-z0-9+/=]+( .*)?$", line));
}

std::optional<QJsonObject> jsonBody(const httplib::Request& req)
{
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(req.body), &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return std::nullopt;
    return doc.object();
}

// Endpoints a device may advertise: numeric addresses and ports only.
std::optional<QJsonArray> endpoints(const QJsonValue& value)
{
    if (!value.isArray() || value.toArray().size() > NetApi::maxEndpoints)
        return std::nullopt;
    QJsonArray clean;
    for (const QJsonValue& item : value.toArray()) {
        const QString host = item.toObject().value(QStringLiteral("host")).toString();
        const int port = item.toObject().value(QStringLiteral("port")).toInt(0);
        if (!matches("^[0-9a-fA-F:.]{2,45}$", host) || port < 1 || port > 65535)
            return std::nullopt;
        clean.append(QJsonObject{{QStringLiteral("host"), host}, {QStringLiteral("port"), port}});
    }
    return clean;
}

QJsonObject selfRecord(Database& db, const std::string& id)
{
    auto row = db.query("SELECT name, alias, created_at FROM devices WHERE id = ?", id);
    if (!row.step())
        return {};
    return QJsonObject{{QStringLiteral("id"), q(id)},
                       {QStringLiteral("name"), q(row.text(0))},
                       {QStringLiteral("alias"), q(row.text(1))},
                       {QStringLiteral("createdAt"), q(ServiceText::isoTime(row.integer(2)))}};
}

bool aliasTaken(Database& db, int64_t userId, const std::string& alias, const std::string& except)
{
    auto row = db.query("SELECT 1 FROM devices WHERE user_id = ? AND alias = ? AND id <> ?", userId, alias, except);
    return row.step();
}

// The wanted alias, or the first free one with a number after it.
std::string freeAlias(Database& db, int64_t userId, const std::string& wanted, const std::string& id)
{
    if (!aliasTaken(db, userId, wanted, id))
        return wanted;
    for (int n = 2;; ++n) {
        const std::string number = std::to_string(n);
        // Appended piece by piece: GCC 12 warns (-Wrestrict) about "-" + std::string.
        std::string candidate = wanted.substr(0, std::min(wanted.size(), size_t(26) - number.size()));
        candidate += '-';
        candidate += number;
        if (!aliasTaken(db, userId, candidate, id))
            return candidate;
    }
}

} // namespace

NetApi::NetApi(Database& db, Relay& relay, std::string relayHost, TestHooks* hooks)
    : db(db), relay(relay), relayHost(std::move(relayHost)), hooks(hooks)
{
}

void NetApi::migrate(Database& db)
{
    Database::Transaction transaction(db); // the admin command line may migrate at the same time
    db.exec(schema);
    addColumn(db, "removed_devices", "cert_sha256", "TEXT NOT NULL DEFAULT ''");
    addColumn(db, "tokens", "device_id", "TEXT");
    addColumn(db, "tokens", "cert_sha256", "TEXT");
    db.exec("CREATE INDEX IF NOT EXISTS removed_devices_cert ON removed_devices(cert_sha256)");
    // What a sync and a removal look up: an account's devices and aliases, a device's sign-ins.
    db.exec("CREATE INDEX IF NOT EXISTS devices_user_alias ON devices(user_id, alias)");
    db.exec("CREATE INDEX IF NOT EXISTS tokens_device ON tokens(device_id)");
    db.exec(certificateMigration);
    // Every admin command migrates too: the trigger is made again only when it differs, since a schema
    // change makes the running service prepare its statements anew.
    const std::string stored = [&] {
        auto trigger = db.query("SELECT sql FROM sqlite_master WHERE type = 'trigger' AND name = 'devices_removed'");
        return trigger.step() ? trigger.text(0) : std::string();
    }();
    if (stored != removalTrigger) {
        db.exec("DROP TRIGGER IF EXISTS devices_removed");
        db.exec(removalTrigger);
    }
    transaction.commit();
}

void NetApi::install(httplib::Server& server)
{
    auto handler = [this](void (NetApi::*member)(const httplib::Request&, httplib::Response&)) {
        return httplib::Server::Handler([this, member](const httplib::Request& req, httplib::Response& res) {
#if TARNEL_TEST_HOOKS
            if (hooks && hooks->intercept(req, res))
                return;
#endif
            (this->*member)(req, res);
        });
    };
    server.Post("/api/net/sync", handler(&NetApi::sync));
    server.Post("/api/net/rename", handler(&NetApi::rename));
    server.Post("/api/net/relay", handler(&NetApi::relayTicket));
}

std::optional<Accounts::Session> NetApi::authorise(const httplib::Request& req, httplib::Response& res)
{
    const std::string header = req.get_header_value("Authorization");
    const std::string token = header.rfind("Bearer ", 0) == 0 ? header.substr(7) : std::string();
    const auto caller = Accounts::session(db, token);
    if (!caller) {
        ServiceText::refuseSignIn(res, Accounts::revokedWithDevice(db, token));
        return std::nullopt;
    }
    if (caller->user.status != "active") {
        refuse(res, 403, QStringLiteral("你的账号已停用，请联系管理员"), QStringLiteral("disabled"));
        return std::nullopt;
    }
    return caller;
}

bool NetApi::ownDevice(const Accounts::Session& caller, const std::string& id, httplib::Response& res, bool mayBeNew)
{
    if (!caller.device.empty() && caller.device != id) {
        refuse(res, 401, otherDeviceText, QStringLiteral("invalid"));
        return false;
    }
    auto removed = db.query("SELECT at, user_id FROM removed_devices WHERE id = ?", id);
    const bool wasRemoved = removed.step();
    if (wasRemoved && removed.integer(1) != caller.user.id) {
        refuse(res, 404, missingText);
        return false;
    }
    if (wasRemoved) {
        // A token older than the removal was the removed machine's own: it goes too.
        if (caller.createdAt < removed.integer(0)) {
            db.run("INSERT OR REPLACE INTO revoked_tokens (hash, device_id, at) VALUES (?, ?, ?)", caller.hash, id,
                   ServiceText::now());
            db.run("DELETE FROM tokens WHERE hash = ?", caller.hash);
            ServiceText::refuseSignIn(res, true);
        } else {
            refuse(res, 410, removedText);
        }
        return false;
    }
    auto row = db.query("SELECT 1 FROM devices WHERE id = ? AND user_id = ?", id, caller.user.id);
    if (row.step())
        return true;
    if (!mayBeNew || db.query("SELECT 1 FROM devices WHERE id = ?", id).step()) {
        refuse(res, 404, missingText);
        return false;
    }
    return true;
}

void NetApi::sync(const httplib::Request& req, httplib::Response& res)
{
    auto lock = db.lock();
    const auto caller = authorise(req, res);
    if (!caller)
        return;
    const User* user = &caller->user;
    const auto body = jsonBody(req);
    if (!body)
        return refuse(res, 400, QStringLiteral("请求格式不对"));
    const auto field = [&](const char* key) { return body->value(QLatin1String(key)).toString(); };
    const QString id = field("id");
    const QString name = field("name");
    const QString alias = field("alias");
    const auto points = endpoints(body->value(QStringLiteral("endpoints")));
    if (!validId(id))
        return refuse(res, 400, QStringLiteral("设备编号不对"));
    if (const auto problem = nameProblem(name))
        return refuse(res, 400, *problem);
    if (!validAlias(alias))
        return refuse(res, 400, aliasText);
    // The certificate counts only with the proof that this caller holds its key.
    const std::string certificate = s(DeviceProof::verify(
        QByteArray::fromBase64(field("certificate").toLatin1()), QByteArray::fromBase64(field("proof").toLatin1()),
        DeviceProof::statement(id, QByteArray::fromStdString(caller->hash))));
    if (!matches("^[A-Za-z0-9._][A-Za-z0-9._-]{0,63}$|^$", field("sshUser")) || !validKeyLine(field("sshPubKey")) ||
        !validKeyLine(field("hostPubKey")) || certificate.empty() || certificate != s(field("certSha256")) ||
        !points || !plainText(field("model"), 200) || !plainText(field("osVersion"), 200) ||
        !plainText(field("version"), 64))
        return refuse(res, 400, QStringLiteral("设备信息不对，请更新 tarnel"));

    Database::Transaction transaction(db);
    const std::string key = s(id);
    if (!ownDevice(*caller, key, res, true)) {
        transaction.commit(); // a refusal may have revoked the token
        return;
    }
    // A token serves the certificate its device first proved: a copy of it elsewhere replaces nothing.
    if (!caller->certificate.empty() && caller->certificate != certificate)
        return refuse(res, 401, otherDeviceText, QStringLiteral("invalid"));
    // A certificate of a device removed from this account stays refused whatever id it comes under.
    if (db.query("SELECT 1 FROM removed_certificates WHERE user_id = ? AND cert_sha256 = ?", user->id, certificate)
            .step())
        return refuse(res, 410, removedText);
    if (caller->device.empty() || caller->certificate.empty())
        db.run("UPDATE tokens SET device_id = ?, cert_sha256 = ? WHERE hash = ?", key, certificate, caller->hash);
    auto existing = db.query("SELECT name, alias FROM devices WHERE id = ?", key);
    if (!existing.step()) {
        // 409, not 403: the sign-in stays good, so the link program keeps running and shows why.
        auto count = db.query("SELECT COUNT(*) FROM devices WHERE user_id = ?", user->id);
        if (count.step() && count.integer(0) >= NetApi::maxDevices)
            return refuse(res, 409, QStringLiteral("账号里已经有 %1 台设备了，先踢出用不着的设备再加这台").arg(NetApi::maxDevices));
        db.run("INSERT INTO devices (id, user_id, name, alias, created_at) VALUES (?, ?, ?, ?, ?)", key, user->id,
               s(name.trimmed()), freeAlias(db, user->id, s(alias), key), ServiceText::now());
    } else {
        // The stored name and alias hold once set: only a rename changes them.
        if (existing.text(0).empty())
            db.run("UPDATE devices SET name = ? WHERE id = ?", s(name.trimmed()), key);
        if (!validAlias(q(existing.text(1))))
            db.run("UPDATE devices SET alias = ? WHERE id = ?", freeAlias(db, user->id, s(alias), key), key);
    }
    db.run("INSERT OR REPLACE INTO net_devices (id, ssh_user, ssh_pubkey, host_pubkey, model, os_version, app_build, "
           "remote_access, version, cert_sha256, endpoints, last_sync) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
           key, s(field("sshUser")), s(field("sshPubKey")), s(field("hostPubKey")), s(field("model")),
           s(field("osVersion")), int64_t(body->value(QStringLiteral("appBuild")).toInteger(0)),
           int64_t(body->value(QStringLiteral("remoteAccess")).toBool()), s(field("version")),
           certificate, QJsonDocument(*points).toJson(QJsonDocument::Compact).toStdString(), ServiceText::now());
    db.run("INSERT OR IGNORE INTO device_certificates (device_id, cert_sha256) VALUES (?, ?)", key, certificate);
    transaction.commit();

    QJsonArray devices;
    std::string fingerprint;
    const int64_t now = ServiceText::now();
    auto row = db.query("SELECT d.id, d.name, d.alias, n.ssh_user, n.ssh_pubkey, n.host_pubkey, n.model, n.os_version, "
                        "n.app_build, n.remote_access, n.version, n.cert_sha256, n.endpoints, n.last_sync "
                        "FROM devices d LEFT JOIN net_devices n ON n.id = d.id "
                        "WHERE d.user_id = ? AND d.id <> ? ORDER BY d.created_at, d.id",
                        user->id, key);
    while (row.step()) {
        const int64_t lastSync = row.integer(13);
        devices.append(QJsonObject{
            {QStringLiteral("id"), q(row.text(0))},
            {QStringLiteral("name"), q(row.text(1))},
            {QStringLiteral("alias"), q(row.text(2))},
            {QStringLiteral("sshUser"), q(row.text(3))},
            {QStringLiteral("sshPubKey"), q(row.text(4))},
            {QStringLiteral("hostPubKey"), q(row.text(5))},
            {QStringLiteral("model"), q(row.text(6))},
            {QStringLiteral("osVersion"), q(row.text(7))},
            {QStringLiteral("appBuild"), double(row.integer(8))},
            {QStringLiteral("remoteAccess"), row.integer(9) != 0},
            {QStringLiteral("version"), q(row.text(10))},
            {QStringLiteral("certSha256"), q(row.text(11))},
            {QStringLiteral("endpoints"), QJsonDocument::fromJson(QByteArray::fromStdString(row.text(12))).array()},
            {QStringLiteral("online"), lastSync > 0 && now - lastSync <= onlineSeconds},
            {QStringLiteral("lastSeen"), lastSync > 0 ? q(ServiceText::isoTime(lastSync)) : QString()},
        });
        for (int column : {0, 1, 2, 3, 4, 5, 11})
            fingerprint += row.text(column) + "|";
    }
    reply(res, 200,
          QJsonObject{{QStringLiteral("device"), selfRecord(db, key)},
                      {QStringLiteral("devices"), devices},
                      {QStringLiteral("devicesVersion"), q(Secrets::sha256Hex(fingerprint).substr(0, 16))}});
}

void NetApi::rename(const httplib::Request& req, httplib::Response& res)
{
    auto lock = db.lock();
    const auto caller = authorise(req, res);
    if (!caller)
        return;
    const User* user = &caller->user;
    const auto body = jsonBody(req);
    if (!body)
        return refuse(res, 400, QStringLiteral("请求格式不对"));
    const QString id = body->value(QStringLiteral("id")).toString();
    const QString name = body->value(QStringLiteral("name")).toString().trimmed();
    const QString alias = body->value(QStringLiteral("alias")).toString();
    if (!validAlias(alias))
        return refuse(res, 400, aliasText);
    if (const auto problem = nameProblem(name))
        return refuse(res, 400, *problem);
    if (!validId(id))
        return refuse(res, 404, missingText);
    if (!ownDevice(*caller, s(id), res, false))
        return;
    if (aliasTaken(db, user->id, s(alias), s(id)))
        return refuse(res, 409, aliasTakenText.arg(alias));
    db.run("UPDATE devices SET name = ?, alias = ? WHERE id = ?", s(name), s(alias), s(id));
    reply(res, 200, QJsonObject{{QStringLiteral("device"), selfRecord(db, s(id))}});
}

void NetApi::relayTicket(const httplib::Request& req, httplib::Response& res)
{
    auto lock = db.lock();
    const auto caller = authorise(req, res);
    if (!caller)
        return;
    const User* user = &caller->user;
    const auto body = jsonBody(req);
    if (!body)
        return refuse(res, 400, QStringLiteral("请求格式不对"));
    const std::string id = s(body->value(QStringLiteral("id")).toString());
    const std::string peer = s(body->value(QStringLiteral("peer")).toString());
    if (!validId(q(id)) || !validId(q(peer)) || id == peer)
        return refuse(res, 400, QStringLiteral("设备编号不对"));
    if (!ownDevice(*caller, id, res, false))
        return;
    auto other = db.query("SELECT 1 FROM devices WHERE id = ? AND user_id = ?", peer, user->id);
    if (!other.step())
        return refuse(res, 404, missingText);
    if (relay.port() <= 0)
        return refuse(res, 503, QStringLiteral("中转暂时不可用"));
    const auto ticket = relay.ticket(user->id, id, peer, body->value(QStringLiteral("fresh")).toBool(),
                                     s(body->value(QStringLiteral("session")).toString()));
    if (!ticket)
        return refuse(res, 404, QStringLiteral("中转会话已经过期"));
    reply(res, 200,
          QJsonObject{{QStringLiteral("session"), q(ticket->session)},
                      {QStringLiteral("ticket"), q(ticket->ticket)},
                      {QStringLiteral("host"), q(relayHost)},
                      {QStringLiteral("port"), relay.port()}});
}
