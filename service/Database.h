#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>

struct sqlite3;
struct sqlite3_stmt;

struct DatabaseError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The service's one SQLite file. All access from the HTTP threads is serialised by `lock()`; the admin
// command line opens its own connection (WAL and a busy time-out let both work at once).
class Database {
public:
    explicit Database(const std::string& path); // opens or creates it and brings the schema up to date
    ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    std::unique_lock<std::mutex> lock() { return std::unique_lock<std::mutex>(mutex); }

    class Statement {
    public:
        Statement(sqlite3* db, const std::string& sql);
        ~Statement();
        Statement(Statement&& other) noexcept;
        Statement(const Statement&) = delete;

        Statement& bind(int index, int64_t value);
        Statement& bind(int index, int value) { return bind(index, int64_t(value)); }
        Statement& bind(int index, const std::string& value);
        Statement& bind(int index, const char* value) { return bind(index, std::string(value)); }
        Statement& bind(int index, std::nullopt_t);
        Statement& bindBlob(int index, const std::string& bytes);
        Statement& bind(int index, const std::optional<std::string>& value);
        Statement& bind(int index, const std::optional<int64_t>& value);

        bool step(); // true while there is a row
        void run();  // steps to the end

        bool isNull(int column) const;
        int64_t integer(int column) const;
        std::string text(int column) const;
        std::string blob(int column) const;

    private:
        sqlite3* db;
        sqlite3_stmt* stmt = nullptr;
    };

    Statement prepare(const std::string& sql) { return Statement(db, sql); }

    template <typename... Args>
    Statement query(const std::string& sql, const Args&... args)
    {
        Statement statement(db, sql);
        int index = 1;
        (statement.bind(index++, args), ...);
        return statement;
    }

    template <typename... Args>
    void run(const std::string& sql, const Args&... args)
    {
        query(sql, args...).run();
    }

    void exec(const std::string& sql);
    int64_t lastInsertId() const;
    int changes() const;

    // BEGIN IMMEDIATE ... COMMIT; rolled back unless commit() ran.
    class Transaction {
    public:
        explicit Transaction(Database& db);
        ~Transaction();
        void commit();

    private:
        Database& db;
        bool done = false;
    };

private:
    void migrate();

    sqlite3* db = nullptr;
    std::mutex mutex;
};
