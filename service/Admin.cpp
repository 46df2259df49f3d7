#include "Admin.h"

#include "Accounts.h"
#include "Secrets.h"
#include "ServiceText.h"
#include "state/AtomicFile.h"

#include <QDateTime>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <fstream>
#include <iostream>
#include <sstream>

using ServiceText::isoTime;
using ServiceText::q;
using ServiceText::s;

namespace {

std::string shown(const std::string& text, bool multiline = false);

int fail(const std::string& message)
{
    std::cerr << message << '\n';
    return 1;
}

std::optional<int64_t> number(const std::optional<std::string>& text)
{
    if (!text)
        return std::nullopt;
    bool ok = false;
    const qint64 n = q(*text).toLongLong(&ok);
    return ok ? std::optional<int64_t>(n) : std::nullopt;
}

std::string optionalTime(const Database::Statement& row, int column)
{
    return row.isNull(column) ? std::string("-") : isoTime(row.integer(column));
}

std::optional<User> requireUser(Database& db, const std::string& name)
{
    auto user = Accounts::byName(db, name);
    if (!user)
        std::cerr << "没有用户 " << name << '\n';
    return user;
}

int invites(Database& db, const Arguments& args)
{
    const std::string action = args.word(1);
    if (action == "create") {
        const auto uses = number(args.option("uses")).value_or(1);
        if (uses < 1)
            return fail("--uses 至少是 1");
        std::optional<int64_t> expires;
        if (auto days = args.option("days")) {
            const auto n = number(days);
            if (!n)
                return fail("--days 要是整数");
            expires = ServiceText::now() + *n * 86400;
        }
        if (auto at = args.option("expires")) {
            const QDateTime time = QDateTime::fromString(q(*at), Qt::ISODate);
            if (!time.isValid())
                return fail("--expires 要是 ISO 时间，例如 2030-01-01T00:00:00Z");
            expires = time.toSecsSinceEpoch();
        }
        const std::string code = Secrets::newInviteCode();
        db.run("INSERT INTO invites (code, max_uses, expires_at, note, created_at) VALUES (?, ?, ?, ?, ?)", code, uses,
               expires, args.option("note").value_or(""), ServiceText::now());
        std::cout << code << '\n';
        return 0;
    }
    if (action == "list") {
        auto row = db.query("SELECT code, uses, max_uses, expires_at, revoked, note FROM invites ORDER BY created_at");
        std::cout << "code\tuses\texpires\trevoked\tnote\n";
        while (row.step())
            std::cout << row.text(0) << '\t' << row.integer(1) << '/' << row.integer(2) << '\t' << optionalTime(row, 3)
                      << '\t' << (row.integer(4) ? "yes" : "no") << '\t' << row.text(5) << '\n';
        return 0;
    }
    if (action == "revoke") {
        db.run("UPDATE invites SET revoked = 1 WHERE code = ?", args.word(2));
        return db.changes() == 1 ? 0 : fail("没有邀请码 " + args.word(2));
    }
    Admin::usage();
    return 2;
}

int users(Database& db, const Arguments& args)
{
    const std::string action = args.word(1);
    const std::string name = args.word(2);
    if (action == "list") {
        auto row = db.query("SELECT username, display_name, role, status, created_at FROM users ORDER BY id");
        std::cout << "username\tdisplayName\trole\tstatus\tcreated\n";
        while (row.step())
            std::cout << shown(row.text(0)) << '\t' << shown(row.text(1)) << '\t' << row.text(2) << '\t' << row.text(3)
                      << '\t' << isoTime(row.integer(4)) << '\n';
        return 0;
    }
    auto user = requireUser(db, name);
    if (!user)
        return 1;
    if (action == "disable" || action == "enable") {
        // Sign-ins stay valid: the next check-in tells the app the new state.
        db.run("UPDATE users SET status = ? WHERE id = ?", std::string(action == "disable" ? "disabled" : "active"),
               user->id);
        return 0;
    }
    if (action == "delete") {
        Database::Transaction transaction(db);
        Accounts::revokeTokens(db, user->id);
        db.run("DELETE FROM devices WHERE user_id = ?", user->id);
        db.run("DELETE FROM users WHERE id = ?", user->id);
        transaction.commit();
        return 0;
    }
    if (action == "rename") {
        const std::string display = args.word(3);
        if (const auto problem = Accounts::displayNameProblem(q(display)))
            return fail(s(*problem));
        db.run("UPDATE users SET display_name = ? WHERE id = ?", display, user->id);
        return 0;
    }
    if (action == "passwd") {
        // The new password comes on standard input, never on the command line.
        std::string password;
        std::getline(std::cin, password);
        if (!password.empty() && password.back() == '\r')
            password.pop_back();
        if (!Accounts::validPassword(password))
            return fail("密码至少要 6 个字符");
        const std::string hash = Secrets::hashPassword(password);
        Database::Transaction transaction(db);
        db.run("UPDATE users SET password_hash = ? WHERE id = ?", hash, user->id);
        Accounts::revokeTokens(db, user->id);
        transaction.commit();
        return 0;
    }
    Admin::usage();
    return 2;
}

int devices(Database& db, const Arguments& args)
{
    const std::string action = args.word(1);
    if (action == "list") {
        auto row = db.query("SELECT d.id, u.username, d.name, d.alias, d.created_at, n.last_sync, n.version, "
                            "n.remote_access FROM devices d JOIN users u ON u.id = d.user_id "
                            "LEFT JOIN net_devices n ON n.id = d.id "
                            "WHERE ? = '' OR u.username = ? ORDER BY d.created_at",
                            args.word(2), args.word(2));
        std::cout << "id\tusername\tname\talias\tcreated\tlastSeen\tversion\tremoteAccess\n";
        while (row.step())
            std::cout << shown(row.text(0)) << '\t' << row.text(1) << '\t' << shown(row.text(2)) << '\t'
                      << shown(row.text(3)) << '\t' << isoTime(row.integer(4)) << '\t' << optionalTime(row, 5) << '\t'
                      << (row.text(6).empty() ? "-" : shown(row.text(6))) << '\t' << (row.integer(7) ? "yes" : "no") << '\n';
        return 0;
    }
    if (action == "add") {
        auto user = requireUser(db, args.word(2));
        if (!user)
            return 1;
        if (args.word(3).empty())
            return fail("缺少设备编号");
        auto existing = db.query("SELECT 1 FROM devices WHERE id = ?", args.word(3));
        if (existing.step())
            return fail("设备编号已经存在：" + args.word(3));
        db.run("INSERT INTO devices (id, user_id, name, alias, created_at) VALUES (?, ?, ?, ?, ?)", args.word(3),
               user->id, args.word(4), args.word(5), ServiceText::now());
        return 0;
    }
    if (action == "remove") {
        db.run("DELETE FROM devices WHERE id = ?", args.word(2));
        return db.changes() == 1 ? 0 : fail("没有设备 " + args.word(2));
    }
    Admin::usage();
    return 2;
}

std::optional<std::string> readWhole(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

int releases(Database& db, const Arguments& args)
{
    const std::string action = args.word(1);
    if (action == "add") {
        const std::string channel = args.option("channel").value_or("stable");
        const auto version = args.option("version");
        const auto build = number(args.option("build"));
        const auto file = args.option("file");
        if (channel != "stable" && channel != "test")
            return fail("--channel 只能是 stable 或 test");
        if (!version || version->empty() || !build || *build < 1 || !file)
            return fail("需要 --version、--build（正整数）和 --file");
        const auto archive = readWhole(*file);
        if (!archive)
            return fail("读不了 " + *file);
        QJsonArray notes;
        for (const std::string& line : args.all("note"))
            notes.append(q(line));
        if (auto notesFile = args.option("notes-file")) {
            const auto text = readWhole(*notesFile);
            if (!text)
                return fail("读不了 " + *notesFile);
            for (const QString& line : q(*text).split(QLatin1Char('\n'), Qt::SkipEmptyParts))
                notes.append(line);
        }
        const std::string date = args.option("date").value_or(s(QDate::currentDate().toString(Qt::ISODate)));
        auto existing = db.query("SELECT 1 FROM releases WHERE channel = ? AND build = ?", channel, *build);
        if (existing.step())
            return fail("这个渠道已经有 build " + std::to_string(*build));
        db.prepare("INSERT INTO releases (channel, version, build, date, notes, minimum_system, sha256, size, archive, "
                   "created_at) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)")
            .bind(1, channel)
            .bind(2, *version)
            .bind(3, *build)
            .bind(4, date)
            .bind(5, QJsonDocument(notes).toJson(QJsonDocument::Compact).toStdString())
            .bind(6, args.option("minimum-system").value_or(""))
            .bind(7, Secrets::sha256Hex(*archive))
            .bind(8, int64_t(archive->size()))
            .bindBlob(9, *archive)
            .bind(10, ServiceText::now())
            .run();
        std::cout << db.lastInsertId() << '\n';
        return 0;
    }
    if (action == "publish" || action == "unpublish") {
        const auto id = number(args.word(2));
        if (!id)
            return fail("需要发布编号");
        db.run("UPDATE releases SET published = ? WHERE id = ?", int64_t(action == "publish"), *id);
        return db.changes() == 1 ? 0 : fail("没有发布 " + args.word(2));
    }
    if (action == "list") {
        auto row = db.query("SELECT id, channel, version, build, date, size, sha256, published FROM releases ORDER BY id");
        std::cout << "id\tchannel\tversion\tbuild\tdate\tsize\tsha256\tpublished\n";
        while (row.step())
            std::cout << row.integer(0) << '\t' << row.text(1) << '\t' << row.text(2) << '\t' << row.integer(3) << '\t'
                      << row.text(4) << '\t' << row.integer(5) << '\t' << row.text(6) << '\t'
                      << (row.integer(7) ? "yes" : "no") << '\n';
        return 0;
    }
    Admin::usage();
    return 2;
}

// User-supplied text as it may reach the admin's terminal: every control character (escape and control
// sequences, C1 controls) shown as \xNN, except line feeds and tabs in `multiline` text, and every
// format character (bidi controls, zero-width ones) and line or paragraph separator as \u{NNNN}.
std::string shown(const std::string& text, bool multiline)
{
    QString out;
    for (const char32_t c : q(text).toUcs4()) {
        const QChar::Category category = QChar::category(c);
        if (multiline && (c == U'\n' || c == U'\t'))
            out += QChar(c);
        else if (category == QChar::Other_Control)
            out += QStringLiteral("\\x%1").arg(uint(c), 2, 16, QLatin1Char('0'));
        else if (category == QChar::Other_Format || category == QChar::Separator_Line || category == QChar::Separator_Paragraph)
            out += QStringLiteral("\\u{%1}").arg(uint(c), 4, 16, QLatin1Char('0'));
        else
            out += QString::fromUcs4(&c, 1);
    }
    return s(out);
}

std::string oneLine(std::string text, size_t limit = 80)
{
    for (char& c : text)
        if (c == '\n' || c == '\t' || c == '\r')
            c = ' ';
    return shown(s(q(text).left(int(limit))));
}


int listings(Database& db, const std::string& what)
{
    if (what == "feedback") {
        auto row = db.query("SELECT id, username, at, image_count, length(log), text FROM feedback ORDER BY id");
        std::cout << "id\tusername\tat\timages\tlogBytes\ttext\n";
        while (row.step())
            std::cout << row.integer(0) << '\t' << shown(row.text(1)) << '\t' << isoTime(row.integer(2)) << '\t'
                      << row.integer(3) << '\t' << row.integer(4) << '\t' << oneLine(row.text(5)) << '\n';
    } else if (what == "diagnostics") {
        auto row = db.query("SELECT id, username, at, reason, version, build, device_name, length(report) "
                            "FROM diagnostics ORDER BY id");
        std::cout << "id\tusername\tat\treason\tversion\tbuild\tdevice\tbytes\n";
        while (row.step())
            std::cout << row.integer(0) << '\t' << shown(row.text(1)) << '\t' << isoTime(row.integer(2)) << '\t'
                      << shown(row.text(3)) << '\t' << shown(row.text(4)) << '\t' << row.integer(5) << '\t'
                      << shown(row.text(6)) << '\t' << row.integer(7) << '\n';
    } else {
        auto row = db.query("SELECT id, username, at, version, build, channel, os, model, servers, shots, address "
                            "FROM checkins ORDER BY id");
        std::cout << "id\tusername\tat\tversion\tbuild\tchannel\tos\tmodel\tservers\tshots\taddress\n";
        while (row.step())
            std::cout << row.integer(0) << '\t' << shown(row.text(1)) << '\t' << isoTime(row.integer(2)) << '\t'
                      << shown(row.text(3)) << '\t' << row.integer(4) << '\t' << shown(row.text(5)) << '\t'
                      << shown(row.text(6)) << '\t' << shown(row.text(7)) << '\t' << row.integer(8) << '\t'
                      << row.integer(9) << '\t' << shown(row.text(10)) << '\n';
    }
    return 0;
}

void section(const std::string& title, const std::string& text)
{
    const std::string body = shown(text, true);
    std::cout << "\n" << title << ":\n" << body;
    if (!body.empty() && body.back() != '\n')
        std::cout << '\n';
}

// One stored feedback report: its text, the summary of the installation, the images (saved into a folder
// when asked, named by report and position so nothing the client sent becomes a path) and the log.
int showFeedback(Database& db, const Arguments& args)
{
    const auto id = number(args.word(2));
    if (!id)
        return fail("需要反馈编号");
    auto row = db.query("SELECT username, at, text, env, log FROM feedback WHERE id = ?", *id);
    if (!row.step())
        return fail("没有反馈 " + args.word(2));
    const auto folder = args.option("images");
    if (folder && !QDir().mkpath(q(*folder)))
        return fail("建不了文件夹 " + *folder);
    std::cout << "id: " << *id << "\nusername: " << shown(row.text(0)) << "\nat: " << isoTime(row.integer(1)) << '\n';
    section("text", row.text(2));
    QString env;
    const QJsonObject summary = QJsonDocument::fromJson(QByteArray::fromStdString(row.text(3))).object();
    for (auto it = summary.begin(); it != summary.end(); ++it)
        env += it.key() + QStringLiteral(": ") + it.value().toString() + QLatin1Char('\n');
    section("env", s(env));
    std::ostringstream images;
    auto image = db.query("SELECT position, filename, bytes FROM feedback_images WHERE feedback_id = ? ORDER BY position",
                          *id);
    while (image.step()) {
        const std::string bytes = image.blob(2);
        images << image.integer(0) << '\t' << oneLine(image.text(1), 256) << '\t' << bytes.size();
        if (folder) {
            const std::string path = *folder + "/" + std::to_string(*id) + "-" + std::to_string(image.integer(0)) +
                                     ServiceText::imageSuffix(bytes).value_or(".bin"); // older reports hold anything
            if (const Outcome<> written = AtomicFile::write(q(path), QByteArray::fromStdString(bytes), 0600); !written.ok())
                return fail("写不了 " + path + "：" + s(written.failure()));
            images << '\t' << path;
        }
        images << '\n';
    }
    section("images", images.str());
    section("log", row.text(4));
    return 0;
}

// One stored diagnostic report: who and why, the link program's status and both log tails.
int showDiagnostics(Database& db, const Arguments& args)
{
    const auto id = number(args.word(2));
    if (!id)
        return fail("需要诊断编号");
    auto row = db.query("SELECT username, at, reason, version, build, device_name, device_alias, report "
                        "FROM diagnostics WHERE id = ?",
                        *id);
    if (!row.step())
        return fail("没有诊断 " + args.word(2));
    std::cout << "id: " << *id << "\nusername: " << shown(row.text(0)) << "\nat: " << isoTime(row.integer(1))
              << "\nreason: " << shown(row.text(2)) << "\nversion: " << shown(row.text(3)) << " (" << row.integer(4)
              << ")\ndevice: " << shown(row.text(5)) << " / " << shown(row.text(6)) << '\n';
    const QJsonObject report = QJsonDocument::fromJson(QByteArray::fromStdString(row.text(7))).object();
    const QJsonValue status = report.value(QStringLiteral("status"));
    const QJsonDocument statusDoc = status.isObject()  ? QJsonDocument(status.toObject())
                                    : status.isArray() ? QJsonDocument(status.toArray())
                                                       : QJsonDocument();
    section("status", statusDoc.isNull() ? std::string("null") : statusDoc.toJson().toStdString());
    section("appLog", s(report.value(QStringLiteral("appLog")).toString()));
    section("netLog", s(report.value(QStringLiteral("netLog")).toString()));
    return 0;
}

int reports(Database& db, const Arguments& args)
{
    const std::string command = args.word(0);
    const std::string action = args.word(1);
    if (action == "show" && command == "feedback")
        return showFeedback(db, args);
    if (action == "show" && command == "diagnostics")
        return showDiagnostics(db, args);
    if (action == "list" || action.empty())
        return listings(db, command);
    Admin::usage();
    return 2;
}

} // namespace

namespace Admin {

void usage()
{
    std::cerr << R"(用法：tarnel-accountd [--db 数据库文件] 命令 …
  不给 --db 时用本用户的数据库 ~/.local/share/tarnel-accountd/accounts.db（scripts/run.sh 启动的服务也用它）
  serve [--listen 127.0.0.1:47800] [--port-file 文件] [--tls-cert 证书 --tls-key 私钥] [--test-hooks]
        [--relay-listen 127.0.0.1:47802] [--relay-host 对外地址] [--public-url https://对外地址]
        [--header-timeout 秒] [--relay-greeting-timeout 秒] [--relay-idle-timeout 秒]
  invite create [--uses N] [--days N | --expires 2030-01-01T00:00:00Z] [--note 备注]
  invite list | invite revoke 邀请码
  users list | users disable|enable|delete 用户名 | users rename 用户名 显示名称
  users passwd 用户名            （新密码从标准输入读一行）
  devices list [用户名] | devices add 用户名 设备编号 名称 [别名] | devices remove 设备编号
  releases add --channel stable|test --version V --build N --file 包.zip [--note 行]… [--notes-file 文件]
               [--date 日期] [--minimum-system 版本]
  releases publish|unpublish 编号 | releases list
  feedback list | feedback show 编号 [--images 文件夹]
  diagnostics list | diagnostics show 编号
  checkins list
)";
}

int run(Database& db, const Arguments& args)
{
    const std::string command = args.word(0);
    if (command == "invite")
        return invites(db, args);
    if (command == "users")
        return users(db, args);
    if (command == "devices")
        return devices(db, args);
    if (command == "releases")
        return releases(db, args);
    if (command == "feedback" || command == "diagnostics" || command == "checkins")
        return reports(db, args);
    usage();
    return 2;
}

} // namespace Admin
