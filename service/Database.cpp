#include "Database.h"

#include <sqlite3.h>

#include <fcntl.h>
#include <iostream>
#include <sys/stat.h>
#include <unistd.h>

namespace {
void check(sqlite3* db, int rc, const char* what)
{
    if (rc != SQLITE_OK && rc != SQLITE_ROW && rc != SQLITE_DONE)
        throw DatabaseError(std::string(what) + ": " + sqlite3_errmsg(db));
}

const char* const schema = R"sql(
CREATE TABLE IF NOT EXISTS users (
  id INTEGER PRIMARY KEY,
  username TEXT NOT NULL UNIQUE COLLATE NOCASE,
  password_hash TEXT NOT NULL,
  display_name TEXT NOT NULL,
  role TEXT NOT NULL DEFAULT 'user',
  status TEXT NOT NULL DEFAULT 'active' CHECK (status IN ('active', 'disabled')),
  invite TEXT,
  created_at INTEGER NOT NULL
);
CREATE TABLE IF NOT EXISTS invites (
  code TEXT PRIMARY KEY,
  max_uses INTEGER NOT NULL,
  uses INTEGER NOT NULL DEFAULT 0,
  expires_at INTEGER,
  revoked INTEGER NOT NULL DEFAULT 0,
  note TEXT NOT NULL DEFAULT '',
  created_at INTEGER NOT NULL
);
CREATE TABLE IF NOT EXISTS tokens (
  hash TEXT PRIMARY KEY,
  user_id INTEGER NOT NULL REFERENCES users(id) ON DELETE CASCADE,
  created_at INTEGER NOT NULL,
  last_used_at INTEGER
);
CREATE INDEX IF NOT EXISTS tokens_user ON tokens(user_id);
CREATE TABLE IF NOT EXISTS devices (
  id TEXT PRIMARY KEY,
  user_id INTEGER NOT NULL REFERENCES users(id) ON DELETE CASCADE,
  name TEXT NOT NULL DEFAULT '',
  alias TEXT NOT NULL DEFAULT '',
  created_at INTEGER NOT NULL
);
CREATE TABLE IF NOT EXISTS checkins (
  id INTEGER PRIMARY KEY,
  user_id INTEGER,
  username TEXT NOT NULL,
  at INTEGER NOT NULL,
  version TEXT NOT NULL,
  build INTEGER NOT NULL,
  channel TEXT NOT NULL,
  os TEXT NOT NULL,
  model TEXT NOT NULL,
  servers INTEGER NOT NULL,
  shots INTEGER NOT NULL,
  address TEXT NOT NULL
);
CREATE TABLE IF NOT EXISTS releases (
  id INTEGER PRIMARY KEY,
  channel TEXT NOT NULL CHECK (channel IN ('stable', 'test')),
  version TEXT NOT NULL,
  build INTEGER NOT NULL,
  date TEXT NOT NULL,
  notes TEXT NOT NULL,
  minimum_system TEXT NOT NULL DEFAULT '',
  sha256 TEXT NOT NULL,
  size INTEGER NOT NULL,
  archive BLOB NOT NULL,
  published INTEGER NOT NULL DEFAULT 0,
  created_at INTEGER NOT NULL,
  UNIQUE (channel, build)
);
CREATE TABLE IF NOT EXISTS feedback (
  id INTEGER PRIMARY KEY,
  user_id INTEGER,
  username TEXT NOT NULL,
  at INTEGER NOT NULL,
  text TEXT NOT NULL,
  env TEXT NOT NULL,
  log TEXT NOT NULL,
  image_count INTEGER NOT NULL
);
CREATE TABLE IF NOT EXISTS feedback_images (
  feedback_id INTEGER NOT NULL REFERENCES feedback(id),
  position INTEGER NOT NULL,
  filename TEXT NOT NULL,
  bytes BLOB NOT NULL,
  PRIMARY KEY (feedback_id, position)
);
CREATE TABLE IF NOT EXISTS diagnostics (
  id INTEGER PRIMARY KEY,
  user_id INTEGER,
  username TEXT NOT NULL,
  at INTEGER NOT NULL,
  reason TEXT NOT NULL,
  version TEXT NOT NULL,
  build INTEGER NOT NULL,
  device_name TEXT NOT NULL,
  device_alias TEXT NOT NULL,
  report TEXT NOT NULL
);
CREATE INDEX IF NOT EXISTS diagnostics_user ON diagnostics(user_id, at);
CREATE INDEX IF NOT EXISTS feedback_user ON feedback(user_id, at);
CREATE TABLE IF NOT EXISTS service (
  id TEXT NOT NULL
);
)sql";

// Makes each missing folder of `folder` with mode 0700.
void makeFolders(const std::string& folder)
{
    struct stat info{};
    if (folder.empty() || ::stat(folder.c_str(), &info) == 0)
        return;
    const auto slash = folder.find_last_of('/', folder.size() - 1);
    if (slash != std::string::npos && slash > 0)
        makeFolders(folder.substr(0, slash));
    ::mkdir(folder.c_str(), 0700);
}

// The database holds password and token hashes. Its folder is made 0700 when missing; the database is
// 0600 whoever made it, and SQLite gives its -wal and -shm files the database's own mode.
void keepPrivate(const std::string& path)
{
    const auto slash = path.find_last_of('/');
    const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash);
    makeFolders(folder);
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd >= 0)
        ::close(fd);
    for (const char* suffix : {"", "-wal", "-shm", "-journal"})
        ::chmod((path + suffix).c_str(), 0600);
    struct stat info{};
    if (::stat(folder.empty() ? "." : folder.c_str(), &info) == 0 && (info.st_mode & 077) != 0)
        std::cerr << "注意：数据库所在的目录其他用户也能进入，建议改成 700：" << (folder.empty() ? "." : folder) << '\n';
}
} // namespace

Database::Database(const std::string& path)
{
    keepPrivate(path);
    const int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    if (rc != SQLITE_OK) {
        const std::string message = db ? sqlite3_errmsg(db) : "out of memory";
        sqlite3_close(db);
        db = nullptr;
        throw DatabaseError("打不开数据库 " + path + "：" + message);
    }
    sqlite3_busy_timeout(db, 5000);
    exec("PRAGMA journal_mode = WAL");
    exec("PRAGMA foreign_keys = ON");
    exec("PRAGMA synchronous = FULL");
    migrate();
}

Database::~Database() { sqlite3_close(db); }

void Database::migrate()
{
    Transaction transaction(*this); // the admin command line may migrate at the same time
    exec(schema);
    // Each sign-in keeps only its latest check-in.
    if (!query("SELECT 1 FROM pragma_table_info('checkins') WHERE name = 'token_hash'").step())
        exec("ALTER TABLE checkins ADD COLUMN token_hash TEXT");
    exec("CREATE INDEX IF NOT EXISTS checkins_token ON checkins(token_hash)");
    transaction.commit();
}

void Database::exec(const std::string& sql)
{
    char* error = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
        const std::string message = error ? error : "unknown";
        sqlite3_free(error);
        throw DatabaseError(message);
    }
}

int64_t Database::lastInsertId() const { return sqlite3_last_insert_rowid(db); }

int Database::changes() const { return sqlite3_changes(db); }

Database::Statement::Statement(sqlite3* db, const std::string& sql) : db(db)
{
    check(db, sqlite3_prepare_v2(db, sql.c_str(), int(sql.size()), &stmt, nullptr), "prepare");
}

Database::Statement::~Statement() { sqlite3_finalize(stmt); }

Database::Statement::Statement(Statement&& other) noexcept : db(other.db), stmt(other.stmt) { other.stmt = nullptr; }

Database::Statement& Database::Statement::bind(int index, int64_t value)
{
    check(db, sqlite3_bind_int64(stmt, index, value), "bind");
    return *this;
}

Database::Statement& Database::Statement::bind(int index, const std::string& value)
{
    check(db, sqlite3_bind_text(stmt, index, value.data(), int(value.size()), SQLITE_TRANSIENT), "bind");
    return *this;
}

Database::Statement& Database::Statement::bind(int index, std::nullopt_t)
{
    check(db, sqlite3_bind_null(stmt, index), "bind");
    return *this;
}

Database::Statement& Database::Statement::bindBlob(int index, const std::string& bytes)
{
    check(db, sqlite3_bind_blob64(stmt, index, bytes.data(), bytes.size(), SQLITE_TRANSIENT), "bind");
    return *this;
}

Database::Statement& Database::Statement::bind(int index, const std::optional<std::string>& value)
{
    return value ? bind(index, *value) : bind(index, std::nullopt);
}

Database::Statement& Database::Statement::bind(int index, const std::optional<int64_t>& value)
{
    return value ? bind(index, *value) : bind(index, std::nullopt);
}

bool Database::Statement::step()
{
    const int rc = sqlite3_step(stmt);
    check(db, rc, "step");
    return rc == SQLITE_ROW;
}

void Database::Statement::run()
{
    while (step()) {
    }
}

bool Database::Statement::isNull(int column) const { return sqlite3_column_type(stmt, column) == SQLITE_NULL; }

int64_t Database::Statement::integer(int column) const { return sqlite3_column_int64(stmt, column); }

std::string Database::Statement::text(int column) const
{
    const auto* data = reinterpret_cast<const char*>(sqlite3_column_text(stmt, column));
    return data ? std::string(data, size_t(sqlite3_column_bytes(stmt, column))) : std::string();
}

std::string Database::Statement::blob(int column) const
{
    const auto* data = static_cast<const char*>(sqlite3_column_blob(stmt, column));
    return data ? std::string(data, size_t(sqlite3_column_bytes(stmt, column))) : std::string();
}

Database::Transaction::Transaction(Database& db) : db(db) { db.exec("BEGIN IMMEDIATE"); }

Database::Transaction::~Transaction()
{
    if (!done) {
        try {
            db.exec("ROLLBACK");
        } catch (const DatabaseError&) {
        }
    }
}

void Database::Transaction::commit()
{
    db.exec("COMMIT");
    done = true;
}
