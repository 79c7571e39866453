#include "store/PgConnection.h"

#include <libpq-fe.h>

#include <algorithm>
#include <iterator>
#include <optional>
#include <utility>

#include "platform/SocketWait.h"
#include "store/Store.h"
#include "store/StoreError.h"
#include "text/Number.h"

namespace store {

std::string PgConnection::Scrub(std::string message) const {
    // libpq may repeat the URI, or a password it could not read, in its messages. Only the
    // password itself is masked: a short one that happens to be part of a word stays.
    auto wordChar = [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
               c == '_' || (static_cast<unsigned char>(c) & 0x80) != 0;
    };
    for (const std::string& secret : secrets_) {
        for (size_t p = message.find(secret); p != std::string::npos;
             p = message.find(secret, p + 1)) {
            const size_t end = p + secret.size();
            const bool alone =
                (p == 0 || !wordChar(message[p - 1]) || !wordChar(secret.front())) &&
                (end >= message.size() || !wordChar(message[end]) || !wordChar(secret.back()));
            if (alone) {
                message.replace(p, secret.size(), "***");
                p += 2;
            }
        }
    }
    while (!message.empty() && (message.back() == '\n' || message.back() == ' ')) {
        message.pop_back();
    }
    return RedactPassword(message);
}

PgConnection::PgConnection(std::string uri, const std::atomic<bool>* interrupt)
    : uri_(std::move(uri)),
      interrupt_(interrupt),
      patience_(std::chrono::seconds(
          text::EnvNumber("COLLECTOR_DB_DEADLINE_SECONDS", 1, 86400, kPatienceSeconds))) {
    for (const auto& [begin, end] : PasswordSpans(uri_)) {
        if (end > begin) {
            secrets_.push_back(uri_.substr(begin, end - begin));
        }
    }
    std::string why;
    conn_ = Connect(why);
    if (conn_ == nullptr) {
        throw StoreError("无法连接数据库 " + RedactPassword(uri_) + "：" + why);
    }
    // Statements are sent without blocking: a full socket is waited on like an answer.
    PQsetnonblocking(conn_, 1);
    // Notices ("already exists, skipping") are not for the user's terminal.
    PQsetNoticeProcessor(
        conn_, [](void*, const char*) {}, nullptr);
}

PgConnection::~PgConnection() {
    PQfinish(conn_);
}

void PgConnection::Fail(const char* what, const PGresult* result) {
    std::string message = result != nullptr ? PQresultErrorMessage(result) : "";
    if (message.empty()) {
        message = conn_ != nullptr ? PQerrorMessage(conn_) : "数据库连接已断开";
    }
    throw StoreError(std::string("数据库操作失败（") + what + "）：" + Scrub(message));
}

namespace {

// Connection settings the URI may override: a host that is gone is noticed in seconds.
const char* const kDefaultKeys[] = {"connect_timeout",     "keepalives",       "keepalives_idle",
                                    "keepalives_interval", "keepalives_count", "tcp_user_timeout"};
const char* const kDefaultValues[] = {"10", "1", "10", "5", "3", "30000"};

bool Interrupted(const std::atomic<bool>* flag) {
    return flag != nullptr && flag->load();
}

}  // namespace

PGconn* PgConnection::Connect(std::string& why, std::chrono::seconds limit) const {
    std::vector<const char*> keys(std::begin(kDefaultKeys), std::end(kDefaultKeys));
    std::vector<const char*> values(std::begin(kDefaultValues), std::end(kDefaultValues));
    keys.push_back("dbname");  // after the defaults, so that what the URI says overrides them
    values.push_back(uri_.c_str());
    // Texts are UTF-8 whatever the URI says; set with the connection, so no statement of its
    // own can block before the deadlines apply.
    keys.push_back("client_encoding");
    values.push_back("UTF8");
    keys.push_back(nullptr);
    values.push_back(nullptr);
    if (PQconninfoOption* options = PQconninfoParse(uri_.c_str(), nullptr)) {
        for (PQconninfoOption* o = options; o->keyword != nullptr; ++o) {
            if (std::string_view(o->keyword) == "connect_timeout" && o->val != nullptr) {
                if (auto seconds = text::StrictNumber(o->val, 1, 86400)) {
                    limit = std::min(limit, std::chrono::seconds(*seconds));
                }
            }
        }
        PQconninfoFree(options);
    }
    PGconn* conn = PQconnectStartParams(keys.data(), values.data(), 1);
    if (conn == nullptr) {
        why = "out of memory";
        return nullptr;
    }
    // Polled, so that a stop or a server that never answers cannot hold the caller.
    const auto deadline = std::chrono::steady_clock::now() + limit;
    PostgresPollingStatusType state = PGRES_POLLING_WRITING;
    while (PQstatus(conn) != CONNECTION_BAD && state != PGRES_POLLING_OK &&
           state != PGRES_POLLING_FAILED) {
        // A window waiting on the probe of a silent server stays alive and may give up.
        if (Interrupted(interrupt_) ||
            (waitHook_ &&
             !waitHook_(std::max(std::chrono::milliseconds(1),
                                 std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now() - deadline + limit))))) {
            PQfinish(conn);
            throw StoreInterrupted();
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            platform::AbandonSocket(PQsocket(conn));
            PQfinish(conn);
            why = "服务器在 " + std::to_string(limit.count()) + " 秒内没有应答";
            return nullptr;
        }
        const auto ready =
            platform::WaitSocket(PQsocket(conn), state == PGRES_POLLING_WRITING, kPollSlice);
        if (ready != platform::SocketReady::TimedOut) {
            state = PQconnectPoll(conn);
        }
    }
    if (state != PGRES_POLLING_OK || PQstatus(conn) != CONNECTION_OK) {
        why = Scrub(PQerrorMessage(conn));
        PQfinish(conn);
        return nullptr;
    }
    return conn;
}

bool PgConnection::ServerAnswers() const {
    // A server whose processes are stopped still has its kernel take connections: only an
    // answer of the server itself (a session, or its refusal) tells that it is alive.
    std::string why;
    PGconn* probe = Connect(why, kProbeLimit);
    if (probe != nullptr) {
        PQfinish(probe);
        return true;
    }
    // A refusal of the server itself (too many connections, say) in English or in Chinese.
    return why.find("FATAL") != std::string::npos || why.find("致命错误") != std::string::npos;
}

void PgConnection::Abandon() {
    if (conn_ != nullptr) {
        platform::AbandonSocket(PQsocket(conn_));
        PQfinish(conn_);
        conn_ = nullptr;
    }
}

void PgConnection::Broken() {
    // Never taken for the end of the results: the statement's answer is lost with the
    // connection, which is given up so that nothing later reads what is left of it.
    const std::string message = PQerrorMessage(conn_);
    Abandon();
    throw StoreError("数据库操作失败（query）：" +
                     Scrub(message.empty() ? "数据库连接已断开" : message));
}

PGresult* PgConnection::NextResult() {
    const auto started = std::chrono::steady_clock::now();
    auto waitingSince = started;
    std::optional<std::chrono::steady_clock::time_point> stopSeen;
    // Whoever was told of the wait hears of its end, however it ends.
    struct Told {
        const WaitHook& hook;
        bool told = false;
        ~Told() {
            if (told) {
                hook(std::chrono::milliseconds(0));
            }
        }
    } told{waitHook_};
    for (;;) {
        const int unsent = PQflush(conn_);
        if (unsent < 0) {
            Broken();
        }
        if (unsent == 0 && !PQisBusy(conn_)) {
            return PQgetResult(conn_);
        }
        const auto ready = platform::WaitSocket(PQsocket(conn_), unsent == 1, kPollSlice);
        if (ready == platform::SocketReady::Failed ||
            (ready == platform::SocketReady::Ready && PQconsumeInput(conn_) == 0)) {
            Broken();
        }
        const auto now = std::chrono::steady_clock::now();
        if (waitHook_ && now - started >= kHookAfter) {
            told.told = true;
            if (!waitHook_(std::chrono::duration_cast<std::chrono::milliseconds>(now - started))) {
                Abandon();
                throw StoreInterrupted();
            }
        }
        if (Interrupted(interrupt_)) {
            // A statement about to be answered is given a moment; then it is left behind.
            stopSeen = stopSeen.value_or(now);
            if (now - *stopSeen >= kStopGrace) {
                Abandon();
                throw StoreInterrupted();
            }
        }
        if (now - waitingSince >= patience_) {
            bool alive = false;
            try {
                alive = ServerAnswers();
            } catch (const StoreInterrupted&) {
                Abandon();  // the statement in flight is left behind with its connection
                throw;
            }
            if (!alive) {
                Abandon();
                throw StoreError("数据库无响应：服务器在 " +
                                 std::to_string(patience_.count() / 1000) +
                                 " 秒内没有应答，探测连接也没有应答");
            }
            waitingSince = now;  // busy (a long statement, a lock): wait on
        }
    }
}

namespace {

// A statement's text as PostgreSQL reads it: each ?N outside quotes is $N.
std::string Numbered(const std::string& sql) {
    std::string out;
    out.reserve(sql.size());
    char quote = 0;
    for (size_t i = 0; i < sql.size(); ++i) {
        const char c = sql[i];
        if (quote != 0) {
            quote = c == quote ? 0 : quote;
        } else if (c == '\'' || c == '"') {
            quote = c;
        } else if (c == '?' && i + 1 < sql.size() && sql[i + 1] >= '0' && sql[i + 1] <= '9') {
            out += '$';
            continue;
        }
        out += c;
    }
    return out;
}

class PgRow : public SqlRow {
  public:
    PgRow(const PGresult* r, int row) : r_(r), row_(row) {}
    int Columns() const override { return PQnfields(r_); }
    std::string_view Text(int column) const override {
        return std::string_view(PQgetvalue(r_, row_, column),
                                static_cast<size_t>(PQgetlength(r_, row_, column)));
    }

  private:
    const PGresult* r_;
    int row_;
};

}  // namespace

std::int64_t PgConnection::Run(const std::string& sql, const SqlParams& params,
                               const SqlRowFn& row) {
    if (conn_ == nullptr) {
        throw StoreError("数据库操作失败：数据库连接已断开");
    }
    std::vector<std::string> texts;
    texts.reserve(params.size());
    for (const SqlValue& v : params) {
        texts.push_back(v.isNumber ? std::to_string(v.number) : v.text);
    }
    std::vector<const char*> values;
    values.reserve(texts.size());
    for (const std::string& t : texts) {
        values.push_back(t.c_str());
    }
    if (PQsendQueryParams(conn_, Numbered(sql).c_str(), static_cast<int>(values.size()), nullptr,
                          values.data(), nullptr, nullptr, 0) != 1) {
        Fail("query", nullptr);
    }
    // A query's rows one by one, so a million rows never sit in memory at once; a command's
    // few (RETURNING) come whole, which is quicker.
    const bool query = sql.compare(0, 6, "SELECT") == 0 || sql.compare(0, 4, "WITH") == 0;
    if (query && PQsetSingleRowMode(conn_) != 1) {
        Abandon();
        Fail("query", nullptr);
    }
    std::int64_t rows = 0;
    std::int64_t changed = 0;
    std::string error;
    try {
        while (PGresult* raw = NextResult()) {
            struct Clear {
                PGresult* r;
                ~Clear() { PQclear(r); }
            } clear{raw};
            const ExecStatusType status = PQresultStatus(raw);
            if (status == PGRES_SINGLE_TUPLE) {
                ++rows;
                if (row && error.empty()) {
                    row(PgRow(raw, 0));
                }
            } else if (status == PGRES_TUPLES_OK || status == PGRES_COMMAND_OK) {
                for (int i = 0; i < PQntuples(raw); ++i) {  // a command's rows, whole
                    ++rows;
                    if (row && error.empty()) {
                        row(PgRow(raw, i));
                    }
                }
                changed = text::LeadingLong(PQcmdTuples(raw));
            } else if (error.empty()) {
                error = PQresultErrorMessage(raw);  // the rest of the results still come
            }
        }
    } catch (...) {
        // Rows not waited for, or a stop: the connection goes with them, so that nothing
        // later reads what this statement left.
        Abandon();
        throw;
    }
    if (conn_ == nullptr || PQstatus(conn_) == CONNECTION_BAD) {
        Fail("query", nullptr);
    }
    if (!error.empty()) {
        throw StoreError("数据库操作失败（query）：" + Scrub(error));
    }
    return std::max(rows, changed);
}

void PgConnection::Begin(SqlTransaction kind) {
    // Inside another transaction BEGIN would only warn, and its COMMIT would end that one.
    if (InTransaction()) {
        throw StoreError("数据库操作失败（transaction）：已在事务中");
    }
    Run(kind == SqlTransaction::Write ? "BEGIN ISOLATION LEVEL READ COMMITTED"
                                      : "BEGIN ISOLATION LEVEL REPEATABLE READ, READ ONLY");
}

void PgConnection::Commit() {
    // COMMIT of a transaction a failed statement aborted answers as a rollback, not an error.
    if (conn_ != nullptr && PQtransactionStatus(conn_) == PQTRANS_INERROR) {
        throw StoreError("数据库操作失败（commit）：事务已中止，没有提交");
    }
    Run("COMMIT");
}

void PgConnection::Rollback() noexcept {
    // Never leave a transaction open for later calls to run in without committing: a
    // connection that cannot roll back is given up.
    try {
        if (conn_ != nullptr) {
            Run("ROLLBACK");
        }
    } catch (...) {
        Abandon();
    }
    if (conn_ != nullptr && PQtransactionStatus(conn_) != PQTRANS_IDLE) {
        Abandon();
    }
}

bool PgConnection::InTransaction() const {
    return conn_ != nullptr && PQtransactionStatus(conn_) != PQTRANS_IDLE;
}

}  // namespace store
