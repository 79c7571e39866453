#include "store/SqliteConnection.h"

#include <sqlite3.h>

#include "store/StoreError.h"

namespace store {

namespace {

class SqliteRow : public SqlRow {
  public:
    explicit SqliteRow(sqlite3_stmt* stmt) : stmt_(stmt) {}
    int Columns() const override { return sqlite3_column_count(stmt_); }
    std::string_view Text(int column) const override {
        // Numbers come back as their decimal text, nulls as nothing.
        const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, column));
        const int n = sqlite3_column_bytes(stmt_, column);
        return p == nullptr ? std::string_view() : std::string_view(p, static_cast<size_t>(n));
    }

  private:
    sqlite3_stmt* stmt_;
};

// The most statements kept prepared; past it they are made anew (the filters' texts vary).
constexpr size_t kMaxPrepared = 200;

}  // namespace

SqliteConnection::SqliteConnection(const std::string& path) {
    const int rc =
        sqlite3_open_v2(path.c_str(), &db_,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        const std::string message = db_ != nullptr ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
        sqlite3_close(db_);
        db_ = nullptr;
        throw StoreError("无法打开数据库 " + path + "：" + message);
    }
    sqlite3_extended_result_codes(db_, 1);
    sqlite3_busy_timeout(db_, kBusyTimeoutMs);
    // WAL lets the window read while a worker writes; NORMAL sync keeps every committed row
    // through a crash of the program (the WAL is in the file system before a commit returns).
    // A read-only file cannot switch modes: reading still works, writing fails on its own.
    sqlite3_exec(db_, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
    sqlite3_exec(db_, "PRAGMA synchronous=NORMAL", nullptr, nullptr, nullptr);
}

SqliteConnection::~SqliteConnection() {
    for (auto& [sql, stmt] : prepared_) {
        sqlite3_finalize(stmt);
    }
    sqlite3_close(db_);
}

void SqliteConnection::Fail(const char* what) {
    throw StoreError(std::string("数据库操作失败（") + what + "）：" + sqlite3_errmsg(db_));
}

void SqliteConnection::Exec(const char* sql) {
    char* err = nullptr;
    if (sqlite3_exec(db_, sql, nullptr, nullptr, &err) != SQLITE_OK) {
        const std::string message = err != nullptr ? err : sqlite3_errmsg(db_);
        sqlite3_free(err);
        throw StoreError(std::string("数据库操作失败：") + message);
    }
}

std::int64_t SqliteConnection::Run(const std::string& sql, const SqlParams& params,
                                   const SqlRowFn& row) {
    CheckUsable();
    // A kept statement still stepping (this one was run from its rows) is not reused.
    sqlite3_stmt* stmt = nullptr;
    bool kept = false;
    if (auto it = prepared_.find(sql);
        it != prepared_.end() && sqlite3_stmt_busy(it->second) == 0) {
        stmt = it->second;
        kept = true;
    } else {
        if (sqlite3_prepare_v3(db_, sql.c_str(), static_cast<int>(sql.size()),
                               SQLITE_PREPARE_PERSISTENT, &stmt, nullptr) != SQLITE_OK) {
            Fail("prepare");
        }
        if (it == prepared_.end()) {
            if (prepared_.size() >= kMaxPrepared) {
                for (auto p = prepared_.begin(); p != prepared_.end();) {
                    if (sqlite3_stmt_busy(p->second) == 0) {
                        sqlite3_finalize(p->second);
                        p = prepared_.erase(p);
                    } else {
                        ++p;
                    }
                }
            }
            prepared_.emplace(sql, stmt);
            kept = true;
        }
    }
    // Whatever happens, the statement is left reset (holding no read of the file) and without
    // its values; one that is not kept is finalized.
    struct Done {
        sqlite3_stmt* stmt;
        bool kept;
        ~Done() {
            sqlite3_reset(stmt);
            sqlite3_clear_bindings(stmt);
            if (!kept) {
                sqlite3_finalize(stmt);
            }
        }
    } done{stmt, kept};
    for (size_t i = 0; i < params.size(); ++i) {
        const SqlValue& v = params[i];
        const int index = static_cast<int>(i) + 1;
        const int rc = v.isNumber
                           ? sqlite3_bind_int64(stmt, index, v.number)
                           : sqlite3_bind_text(stmt, index, v.text.data(),
                                               static_cast<int>(v.text.size()), SQLITE_TRANSIENT);
        if (rc != SQLITE_OK) {
            Fail("bind");
        }
    }
    SqliteRow current(stmt);
    std::int64_t rows = 0;
    for (;;) {
        const int rc = sqlite3_step(stmt);
        if (rc == SQLITE_DONE) {
            break;
        }
        if (rc != SQLITE_ROW) {
            Fail("step");
        }
        ++rows;
        if (row) {
            row(current);
        }
    }
    return sqlite3_stmt_readonly(stmt) != 0 ? rows : sqlite3_changes64(db_);
}

void SqliteConnection::CheckUsable() const {
    if (broken_) {
        throw StoreError("数据库操作失败：事务无法回滚，连接已放弃");
    }
}

void SqliteConnection::Begin(SqlTransaction kind) {
    CheckUsable();
    // A deferred transaction takes its snapshot at its first read and keeps it; in WAL mode the
    // writers go on beside it.
    Exec(kind == SqlTransaction::Write ? "BEGIN IMMEDIATE" : "BEGIN");
}

void SqliteConnection::Commit() {
    Exec("COMMIT");
}

void SqliteConnection::Rollback() noexcept {
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    // Statements after it would run inside what was left open and never be committed.
    broken_ = sqlite3_get_autocommit(db_) == 0;
}

bool SqliteConnection::InTransaction() const {
    return sqlite3_get_autocommit(db_) == 0;
}

bool SqliteConnection::ReadOnly() const {
    return sqlite3_db_readonly(db_, "main") == 1;
}

}  // namespace store
