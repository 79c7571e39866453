#pragma once
// A SQLite file as a SQL connection. The file is in WAL mode with a busy time-out, so readers
// never wait for the writer and writers wait for each other instead of failing. Statements are
// prepared once and kept: appending and looking up entries is the crawl's hot path.

#include <string>
#include <unordered_map>

#include "store/SqlConnection.h"

struct sqlite3;
struct sqlite3_stmt;

namespace store {

class SqliteConnection : public ISqlConnection {
  public:
    // Opens the file, creating it when missing. Throws StoreError.
    explicit SqliteConnection(const std::string& path);
    ~SqliteConnection() override;
    SqliteConnection(const SqliteConnection&) = delete;
    SqliteConnection& operator=(const SqliteConnection&) = delete;

    std::int64_t Run(const std::string& sql, const SqlParams& params = {},
                     const SqlRowFn& row = {}) override;
    void Begin(SqlTransaction kind) override;
    void Commit() override;
    void Rollback() noexcept override;
    bool InTransaction() const override;
    bool ReadOnly() const override;

    // For functions of the store's own (sqlite3_create_function).
    sqlite3* Handle() { return db_; }

    static constexpr int kBusyTimeoutMs = 10000;

  private:
    [[noreturn]] void Fail(const char* what);
    void Exec(const char* sql);
    void CheckUsable() const;

    sqlite3* db_ = nullptr;
    bool broken_ = false;  // a rollback failed: given up
    std::unordered_map<std::string, sqlite3_stmt*> prepared_;
};

// The SQL of a SQLite file: its own clock in whole seconds, texts compared bytewise already,
// indexes of whole texts, and a write transaction that locks the whole file.
class SqliteDialect : public SqlDialect {
  public:
    std::string Now() const override { return "CAST(strftime('%s','now') AS INTEGER)"; }
    std::string Later(const std::string& seconds) const override {
        return "(" + Now() + " + " + seconds + ")";
    }
    std::string Bytewise() const override { return ""; }
    std::string Prefix(const std::string& text) const override { return text; }
    std::string Digest(const std::string& text) const override { return text; }
    std::string ForUpdate(const std::string&) const override { return ""; }
};

}  // namespace store
