#pragma once
// A PostgreSQL database as a SQL connection. Every wait on the server is polled: a stop
// (SetInterrupt) or a window's hook (SetWaitHook) gives it up, and a server that stops
// answering is probed with a second, short connection, so no call waits for ever. Texts are
// UTF-8 whatever the URI says; messages never carry the URI's password.

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "store/SqlConnection.h"

typedef struct pg_conn PGconn;
typedef struct pg_result PGresult;

namespace store {

class PgConnection : public ISqlConnection {
  public:
    using WaitHook = std::function<bool(std::chrono::milliseconds waited)>;

    // Connects. Throws StoreError (without the password), and StoreInterrupted once
    // `interrupt` is raised.
    explicit PgConnection(std::string uri, const std::atomic<bool>* interrupt = nullptr);
    ~PgConnection() override;
    PgConnection(const PgConnection&) = delete;
    PgConnection& operator=(const PgConnection&) = delete;

    std::int64_t Run(const std::string& sql, const SqlParams& params = {},
                     const SqlRowFn& row = {}) override;
    void Begin(SqlTransaction kind) override;
    void Commit() override;
    void Rollback() noexcept override;
    bool InTransaction() const override;

    void SetInterrupt(const std::atomic<bool>* flag) { interrupt_ = flag; }
    void SetWaitHook(WaitHook hook) { waitHook_ = std::move(hook); }
    // False once the connection was given up (a dead server, a stop).
    bool Usable() const { return conn_ != nullptr; }

    // How long a statement may go without an answer before the server is probed: no answer to
    // the probe is a dead server, an answer means busy. COLLECTOR_DB_DEADLINE_SECONDS sets
    // another.
    static constexpr int kPatienceSeconds = 30;

  private:
    static constexpr auto kPollSlice = std::chrono::milliseconds(100);
    static constexpr auto kStopGrace = std::chrono::milliseconds(1000);
    static constexpr auto kProbeLimit = std::chrono::seconds(5);
    static constexpr auto kHookAfter = std::chrono::seconds(1);

    // A new connection: nothing, with the reason in `why`, when there is none within `limit`
    // (or the URI's connect_timeout). Throws StoreInterrupted.
    PGconn* Connect(std::string& why, std::chrono::seconds limit = std::chrono::seconds(10)) const;
    bool ServerAnswers() const;
    // Gives the connection up at once, without a word to the server (which may not answer).
    void Abandon();
    // The next result of the statement sent, nothing at its end; waits only while the server
    // lives and no stop is asked for. Throws StoreError when the connection broke.
    PGresult* NextResult();
    [[noreturn]] void Broken();
    [[noreturn]] void Fail(const char* what, const PGresult* result);
    // A libpq message with any password of the URI taken out.
    std::string Scrub(std::string message) const;

    std::string uri_;
    std::vector<std::string> secrets_;  // the passwords in the URI, as written
    PGconn* conn_ = nullptr;
    const std::atomic<bool>* interrupt_ = nullptr;
    WaitHook waitHook_;
    std::chrono::milliseconds patience_;
};

// The SQL of PostgreSQL: the server's clock (every collector's), texts compared in the "C"
// collation, prefixes and sha256 digests where a btree entry holds about 2,700 bytes, and
// rows locked one by one.
class PgDialect : public SqlDialect {
  public:
    std::string Now() const override { return "now()"; }
    std::string Later(const std::string& seconds) const override {
        return "(now() + make_interval(secs => " + seconds + "::int))";
    }
    std::string Bytewise() const override { return " COLLATE \"C\""; }
    std::string Prefix(const std::string& text) const override {
        return "left(" + text + ", " + std::to_string(kPrefixChars) + ")";
    }
    std::string Digest(const std::string& text) const override {
        return "collector_digest(" + text + ")";
    }
    std::string ForUpdate(const std::string& tables) const override {
        return " FOR UPDATE OF " + tables;
    }

    // The characters of a text that its look-up index holds.
    static constexpr int kPrefixChars = 300;
};

}  // namespace store
