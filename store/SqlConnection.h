#pragma once
// A connection to a SQL database as the record store uses it: one statement at a time, its
// values bound by number, its rows handed over one by one, the rows a command changed, and
// transactions. SqliteConnection and PgConnection are the two; everything above them is
// written once (SqlRecordStore).
//
// Statements write their values as ?1, ?2 … on every database: SQLite reads "$2" as a name
// numbered by first appearance, so "$2 … $1" would silently swap the values there, while ?N
// is the N-th value on SQLite and becomes $N on PostgreSQL.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace store {

// One bound value: a number or a UTF-8 text.
struct SqlValue {
    SqlValue(std::int64_t n) : isNumber(true), number(n) {}
    SqlValue(int n) : isNumber(true), number(n) {}
    SqlValue(std::string s) : text(std::move(s)) {}
    SqlValue(std::string_view s) : text(s) {}
    SqlValue(const char* s) : text(s) {}

    bool isNumber = false;
    std::int64_t number = 0;
    std::string text;
};
using SqlParams = std::vector<SqlValue>;

// A row of an answer, valid only while it is handed over.
class SqlRow {
  public:
    virtual ~SqlRow() = default;
    virtual int Columns() const = 0;
    // The value as text: null as empty, numbers in decimal, truth as "t"/"f" or 1/0.
    virtual std::string_view Text(int column) const = 0;
    std::int64_t Int(int column) const;
    bool Bool(int column) const;
    // The text in GBK, as the program holds texts outside the store.
    std::string Gbk(int column) const;
};
using SqlRowFn = std::function<void(const SqlRow&)>;

// A write transaction holds the store's write lock (SQLite: BEGIN IMMEDIATE, so two writers
// queue at the start instead of one failing at its first write); a snapshot only reads, and
// every read in it sees the store as at the first.
enum class SqlTransaction { Write, Snapshot };

class ISqlConnection {
  public:
    virtual ~ISqlConnection() = default;
    // Runs one statement; each row it answers goes to `row`, as soon as it is read (a
    // statement run from `row` itself must be another). Gives the rows a command changed, or
    // the rows an answer had. Throws StoreError.
    virtual std::int64_t Run(const std::string& sql, const SqlParams& params = {},
                             const SqlRowFn& row = {}) = 0;
    virtual void Begin(SqlTransaction kind) = 0;
    virtual void Commit() = 0;
    // Ends the open transaction without its changes; never throws. A connection that cannot
    // roll back is given up, so no later call runs inside what was left open.
    virtual void Rollback() noexcept = 0;
    virtual bool InTransaction() const = 0;
    // Whether the store only reads (a SQLite file opened without write permission).
    virtual bool ReadOnly() const { return false; }

    // Runs `body` in a transaction: committed when it returns, rolled back when it throws.
    template <typename F>
    void Transaction(SqlTransaction kind, F&& body) {
        Begin(kind);
        try {
            body();
            Commit();
        } catch (...) {
            Rollback();
            throw;
        }
    }
    // The first column of the first row as text (empty when there is none), and whether any.
    std::string One(const std::string& sql, const SqlParams& params = {}, bool* found = nullptr);
    bool Exists(const std::string& sql, const SqlParams& params = {});
};

// The fragments of SQL that differ between the databases.
class SqlDialect {
  public:
    virtual ~SqlDialect() = default;
    // The clock that claims and leases are read on (collectors on other machines compare
    // them), and that clock `seconds` (a value's place, like "?2") later.
    virtual std::string Now() const = 0;
    virtual std::string Later(const std::string& seconds) const = 0;
    // Appended to a text so it compares byte by byte.
    virtual std::string Bytewise() const = 0;
    // What a look-up index holds of a text that may be long (a prefix where an index entry is
    // bounded), and what a unique index holds (a digest there); the whole text is compared
    // after the index found it.
    virtual std::string Prefix(const std::string& text) const = 0;
    virtual std::string Digest(const std::string& text) const = 0;
    // Locks the rows a SELECT read until the transaction ends (nothing where a write
    // transaction locks the whole store).
    virtual std::string ForUpdate(const std::string& tables) const = 0;

    // The condition that `text` equals the value at `place`, found by the look-up index of
    // its prefix, or by the unique index of its digest, and compared whole after.
    std::string PrefixEquals(const std::string& text, const std::string& place) const {
        return Prefix(text) + " = " + Prefix(place) + " AND " + text + " = " + place;
    }
    std::string DigestEquals(const std::string& text, const std::string& place) const {
        return Digest(text) + " = " + Digest(place) + " AND " + text + " = " + place;
    }
};

// Collects the values of a statement that is put together piece by piece, and gives each its
// place: bind(value) is "?N", N its number.
class SqlBinder {
  public:
    std::string operator()(SqlValue value) {
        params.push_back(std::move(value));
        return "?" + std::to_string(params.size());
    }
    SqlParams params;
};

}  // namespace store
