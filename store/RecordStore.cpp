#include "store/RecordStore.h"

#include <sqlite3.h>

#include <algorithm>
#include <thread>
#include <vector>

#include "platform/FileSystem.h"
#include "store/SchemaVersion.h"
#include "store/SqlRecordStore.h"
#include "store/SqliteConnection.h"
#include "text/Grams.h"
#include "text/Normalise.h"
#include "text/Number.h"

namespace store {

namespace {

constexpr const char* kColumns = "title, person, sex, job, mobile, phone, fax, address, zip";

// The texts the collected-data filter searches: company, person, the three numbers, address.
constexpr int kSearchedFields[] = {0, 1, 4, 5, 6, 7};

// The index text of a row: the pair tokens of its searched texts, each once.
std::string GramText(const IRecordStore::Utf8Row& row) {
    std::vector<std::string> tokens;
    for (int i : kSearchedFields) {
        text::AppendGramTokens(row[i], tokens);
    }
    std::sort(tokens.begin(), tokens.end());
    tokens.erase(std::unique(tokens.begin(), tokens.end()), tokens.end());
    std::string out;
    for (const std::string& t : tokens) {
        out += out.empty() ? "" : " ";
        out += t;
    }
    return out;
}

// The index query of a text: every pair of it.
std::string GramQuery(const std::string& folded) {
    std::vector<std::string> tokens;
    text::AppendGramTokens(folded, tokens);
    std::string query;
    for (const std::string& t : tokens) {
        query += (query.empty() ? "" : " AND ") + t;
    }
    return query;
}

// The rows whose searched texts hold the folded text at `place`.
std::string Holds(const std::string& place) {
    std::string sql = "(";
    const char* fields[] = {"title", "person", "mobile", "phone", "fax", "address"};
    for (const char* field : fields) {
        sql += std::string(sql.size() > 1 ? " OR " : "") + "instr(collector_fold(" + field + "), " +
               place + ")";
    }
    return sql + ")";
}

const SqliteDialect kDialect;

// The record of runs (RunRecord.h); `seen` is unused in a file, where a run's collector is
// known to be at work by its lock (CrawlLockPath).
constexpr const char* kCreateRuns =
    "CREATE TABLE IF NOT EXISTS T_RUN (id INTEGER PRIMARY KEY AUTOINCREMENT, "
    "industry TEXT DEFAULT '', region TEXT DEFAULT '', started TEXT DEFAULT '', "
    "ended TEXT DEFAULT '', how TEXT DEFAULT '', stored INTEGER DEFAULT 0, "
    "newrows INTEGER DEFAULT 0, kept INTEGER DEFAULT 0, outcome TEXT DEFAULT '', "
    "finished INTEGER DEFAULT 0, seen INTEGER DEFAULT 0, host TEXT DEFAULT '')";

// The pages kept as failures. A failed contact page is kept once per row that waits for it: a
// company listed twice, each entry a row of its own, waits on two rows.
constexpr const char* kFailureColumns =
    "id INTEGER PRIMARY KEY AUTOINCREMENT, kind TEXT NOT NULL, page INTEGER DEFAULT 0, address "
    "TEXT NOT NULL, title TEXT DEFAULT '', condition TEXT DEFAULT '', reason TEXT DEFAULT '', "
    "tries INTEGER DEFAULT 0, rowid_kept INTEGER DEFAULT 0, time TEXT DEFAULT '', claim TEXT "
    "DEFAULT '', claim_until INTEGER DEFAULT 0, status INTEGER DEFAULT 0, "
    "UNIQUE (kind, address, title, rowid_kept)";

}  // namespace

RecordStore::RecordStore(std::string path)
    : SqlRecordStore(std::make_unique<SqliteConnection>(path), kDialect),
      path_(std::move(path)),
      file_(static_cast<SqliteConnection&>(db_)) {
    // The filter's rule for comparing texts (text::FoldAscii), never SQLite's lower().
    sqlite3_create_function(
        file_.Handle(), "collector_fold", 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr,
        [](sqlite3_context* ctx, int, sqlite3_value** argv) {
            const auto* p = reinterpret_cast<const char*>(sqlite3_value_text(argv[0]));
            const std::string folded = text::FoldAscii(
                p == nullptr
                    ? std::string_view()
                    : std::string_view(p, static_cast<size_t>(sqlite3_value_bytes(argv[0]))));
            sqlite3_result_text(ctx, folded.data(), static_cast<int>(folded.size()),
                                SQLITE_TRANSIENT);
        },
        nullptr, nullptr);
    if (StoredSchemaVersion() > kSchemaVersion) {
        throw StoreError(kNewerSchemaMessage);
    }
    CreateMissingTables();
    RecordSchemaVersion();
    fileIdentity_ = platform::IdentityOf(path_);
}

std::string CrawlLockPath(const std::string& storePath) {
    return platform::FollowLink(storePath) + ".crawl";  // one file however the store is reached
}

void RecordStore::RunBegins(std::int64_t id) {
    // Each run holds the byte of its id: a folder where the lock cannot be made only means that
    // its run would be taken for broken and closed by the next run.
    crawlLock_ = std::make_unique<platform::FileLock>(CrawlLockPath(path_),
                                                      static_cast<unsigned long long>(id));
    crawlLock_->TryAcquire(platform::FileLock::Mode::Exclusive);
}

void RecordStore::RunEnds() {
    crawlLock_.reset();
}

std::vector<std::int64_t> RecordStore::OpenRuns(bool atWork) {
    std::vector<std::int64_t> open;
    db_.Run("SELECT id FROM T_RUN WHERE ended=''", {},
            [&](const SqlRow& row) { open.push_back(row.Int(0)); });
    std::vector<std::int64_t> found;
    for (std::int64_t id : open) {
        // A run whose byte can be had has no process left: it ended without saying so.
        platform::FileLock run(CrawlLockPath(path_), static_cast<unsigned long long>(id));
        if (run.TryAcquire(platform::FileLock::Mode::Exclusive) != atWork) {
            found.push_back(id);
        }
    }
    return found;
}

int RecordStore::CloseBrokenRuns() {
    if (db_.ReadOnly() || !hasRuns_) {
        return 0;
    }
    int closed = 0;
    for (std::int64_t id : OpenRuns(false)) {
        closed += CloseRunsWhere("id=?1", {id});
    }
    return closed;
}

int RecordStore::CrawlsAtWork() {
    return hasRuns_ ? static_cast<int>(OpenRuns(true).size()) : 0;
}

void RecordStore::BeforeWrite() {
    // An open file that was deleted or replaced still takes writes, which nobody would ever
    // read again: refuse them instead of reporting records as stored.
    const auto now = platform::IdentityOf(path_);
    if (!now || !fileIdentity_ || *now != *fileIdentity_) {
        throw StoreError("数据库文件已被删除或替换：" + path_);
    }
}

int RecordStore::StoredSchemaVersion() {
    if (!db_.Exists("SELECT 1 FROM sqlite_master WHERE type='table' AND name='T_CONFIG'")) {
        return 0;  // a new file
    }
    const std::optional<std::string> version = LoadSetting(kSchemaVersionItem);
    return version ? text::LeadingInt(*version) : 1;
}

void RecordStore::RecordSchemaVersion() {
    if (db_.ReadOnly()) {
        return;  // read as it is
    }
    auto recorded = [this] {
        const std::optional<std::string> version = LoadSetting(kSchemaVersionItem);
        return version ? text::LeadingInt(*version) : 0;
    };
    if (recorded() >= kSchemaVersion) {
        return;
    }
    db_.Transaction(SqlTransaction::Write, [&] {
        if (recorded() >= kSchemaVersion) {
            return;  // upgraded meanwhile by another program
        }
        if (hasGrams_ && StoredSchemaVersion() < 2) {
            // The filter's rule took in full-width forms: the index is made anew, a batch at
            // a time, by the next searches (rows not yet in it are looked at one by one).
            db_.Run("INSERT INTO T_MEMBER_GRAMS (T_MEMBER_GRAMS) VALUES ('delete-all')");
            db_.Run("UPDATE T_CONFIG SET itemdata='0' WHERE itemname='gramsupto'");
        }
        SaveSetting(kSchemaVersionItem, std::to_string(kSchemaVersion));
    });
}

void RecordStore::CreateMissingTables() {
    // Most opens find the tables; look before taking the write lock.
    if (db_.One("SELECT count(*) FROM sqlite_master WHERE type='table' AND name IN "
                "('T_MEMBER_CHINA','T_CONFIG','T_FAILURE')") != "3") {
        db_.Transaction(SqlTransaction::Write, [&] {
            db_.Run(
                "CREATE TABLE IF NOT EXISTS T_MEMBER_CHINA ("
                "id INTEGER PRIMARY KEY AUTOINCREMENT, "
                "title TEXT DEFAULT '', person TEXT DEFAULT '', sex TEXT DEFAULT '', "
                "job TEXT DEFAULT '', mobile TEXT DEFAULT '', phone TEXT DEFAULT '', "
                "fax TEXT DEFAULT '', address TEXT DEFAULT '', zip TEXT DEFAULT '', "
                "contact TEXT DEFAULT '', namekey TEXT DEFAULT '', region TEXT DEFAULT '', "
                "entrykey TEXT DEFAULT '', industry TEXT DEFAULT '', collected TEXT DEFAULT '')");
            db_.Run(std::string("CREATE TABLE IF NOT EXISTS T_FAILURE (") + kFailureColumns + ")");
            if (!db_.Exists("SELECT 1 FROM sqlite_master WHERE type='table' AND "
                            "name='T_CONFIG'")) {
                db_.Run("CREATE TABLE T_CONFIG (itemname TEXT PRIMARY KEY, itemdata TEXT)");
                db_.Run("INSERT INTO T_CONFIG (itemname, itemdata) VALUES ('lastpageindex', '1')");
            }
        });
    }
    AddMissingColumns();
}

void RecordStore::AddMissingColumns() {
    // Files written before rows remembered their contact page, normalised name, region,
    // listing entry, search and time get the columns (names filled in; older rows know no
    // search or time); a file that has them is not written to, so a read-only store still opens.
    struct Found {
        bool contact = false, namekey = false, entry = false, indexes = false, claim = false,
             origin = false, grams = false, status = false, leadTimes = false, runs = false,
             runHosts = false, failurePerRow = false;
        bool All() const {
            return contact && namekey && entry && indexes && claim && origin && grams && status &&
                   leadTimes && runs && runHosts && failurePerRow;
        }
    };
    auto look = [this] {
        Found f;
        db_.Run("SELECT name FROM pragma_table_info('T_MEMBER_CHINA')", {}, [&](const SqlRow& row) {
            const std::string_view column = row.Text(0);
            f.contact = f.contact || column == "contact";
            f.namekey = f.namekey || column == "namekey";
            f.entry = f.entry || column == "entrykey";
            f.origin = f.origin || column == "collected";
            f.leadTimes = f.leadTimes || column == "completed";
        });
        f.runs = db_.Exists("SELECT 1 FROM sqlite_master WHERE type='table' AND name='T_RUN'");
        f.runHosts = db_.Exists("SELECT 1 FROM pragma_table_info('T_RUN') WHERE name='host'");
        f.failurePerRow = db_.Exists(
            "SELECT 1 FROM pragma_index_list('T_FAILURE') AS l, pragma_index_info(l.name) AS i "
            "WHERE l.\"unique\" AND i.name='rowid_kept'");
        f.claim = db_.Exists("SELECT 1 FROM pragma_table_info('T_FAILURE') WHERE name='claim'");
        f.status = db_.Exists("SELECT 1 FROM pragma_table_info('T_FAILURE') WHERE name='status'");
        f.grams =
            db_.Exists("SELECT 1 FROM sqlite_master WHERE type='table' AND name='T_MEMBER_GRAMS'");
        f.indexes = db_.One(
                        "SELECT count(*) FROM sqlite_master WHERE type='index' AND name IN "
                        "('ix_member_namekey', 'ux_member_entry', 'ix_member_lead')") == "3";
        return f;
    };
    if (look().All()) {
        return;
    }
    if (db_.ReadOnly()) {
        // Read as it is: rows without a search or time, filters without the index.
        const Found f = look();
        hasOrigin_ = f.origin;
        hasLeadTimes_ = f.leadTimes;
        hasRuns_ = f.runs;
        hasRunHosts_ = f.runHosts;
        hasGrams_ = f.grams;
        return;
    }
    db_.Transaction(SqlTransaction::Write, [&] {
        // Another program may have added them since the look above.
        const Found f = look();
        if (!f.contact) {
            db_.Run("ALTER TABLE T_MEMBER_CHINA ADD COLUMN contact TEXT DEFAULT ''");
        }
        if (!f.namekey) {
            db_.Run("ALTER TABLE T_MEMBER_CHINA ADD COLUMN namekey TEXT DEFAULT ''");
            db_.Run("ALTER TABLE T_MEMBER_CHINA ADD COLUMN region TEXT DEFAULT ''");
            sqlite3_create_function(
                file_.Handle(), "collector_namekey", 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr,
                [](sqlite3_context* ctx, int, sqlite3_value** argv) {
                    const auto* p = reinterpret_cast<const char*>(sqlite3_value_text(argv[0]));
                    const int n = sqlite3_value_bytes(argv[0]);
                    const std::string key = text::NormaliseName(
                        p == nullptr ? std::string_view()
                                     : std::string_view(p, static_cast<size_t>(n)));
                    sqlite3_result_text(ctx, key.data(), static_cast<int>(key.size()),
                                        SQLITE_TRANSIENT);
                },
                nullptr, nullptr);
            db_.Run("UPDATE T_MEMBER_CHINA SET namekey=collector_namekey(title)");
        }
        if (!f.claim) {
            // A kept failure is claimed by the one retry that fetches it.
            db_.Run("ALTER TABLE T_FAILURE ADD COLUMN claim TEXT DEFAULT ''");
            db_.Run("ALTER TABLE T_FAILURE ADD COLUMN claim_until INTEGER DEFAULT 0");
        }
        if (!f.status) {
            // The status of a failure's last answer, beside its reason.
            db_.Run("ALTER TABLE T_FAILURE ADD COLUMN status INTEGER DEFAULT 0");
        }
        if (!f.failurePerRow) {
            // Kept once per company before: the table is made again with its rows (and the
            // ids it handed out), each failure now kept for its row.
            db_.Run(std::string("CREATE TABLE T_FAILURE_rows (") + kFailureColumns + ")");
            db_.Run(
                "INSERT INTO T_FAILURE_rows (id, kind, page, address, title, condition, reason, "
                "tries, rowid_kept, time, claim, claim_until, status) SELECT id, kind, page, "
                "address, title, condition, reason, tries, rowid_kept, time, claim, claim_until, "
                "status FROM T_FAILURE");
            const std::string handedOut =
                db_.One("SELECT seq FROM sqlite_sequence WHERE name='T_FAILURE'");
            db_.Run("DROP TABLE T_FAILURE");
            db_.Run("ALTER TABLE T_FAILURE_rows RENAME TO T_FAILURE");
            if (!handedOut.empty()) {
                db_.Run("UPDATE sqlite_sequence SET seq=max(seq, ?1) WHERE name='T_FAILURE'",
                        {text::LeadingLong(handedOut)});
            }
        }
        if (!f.entry) {
            // Older rows know no entry: they stay without one.
            db_.Run("ALTER TABLE T_MEMBER_CHINA ADD COLUMN entrykey TEXT DEFAULT ''");
        }
        if (!f.origin) {
            db_.Run("ALTER TABLE T_MEMBER_CHINA ADD COLUMN industry TEXT DEFAULT ''");
            db_.Run("ALTER TABLE T_MEMBER_CHINA ADD COLUMN collected TEXT DEFAULT ''");
        }
        if (!f.leadTimes) {
            // Older rows know neither: the exports tell imported rows by their other columns
            // and take a row's first time for the time it became complete.
            db_.Run("ALTER TABLE T_MEMBER_CHINA ADD COLUMN origin TEXT DEFAULT ''");
            db_.Run("ALTER TABLE T_MEMBER_CHINA ADD COLUMN completed TEXT DEFAULT ''");
        }
        if (!f.runs) {
            db_.Run(kCreateRuns);
            db_.Run("CREATE INDEX IF NOT EXISTS ix_run_search ON T_RUN (industry, region)");
        } else if (!f.runHosts) {
            // The machine of each run: a window tells what this machine's schedules did.
            db_.Run("ALTER TABLE T_RUN ADD COLUMN host TEXT DEFAULT ''");
        }
        if (!f.grams) {
            // The filter's index: the pairs of characters of each row (contentless, so it
            // holds only the look-up). Rows are indexed by the search that first needs them
            // ('gramsupto': the last row indexed), so storing a row costs nothing more.
            db_.Run(
                "CREATE VIRTUAL TABLE T_MEMBER_GRAMS USING fts5(grams, content='', "
                "detail='none', tokenize='ascii')");
            db_.Run(
                "INSERT OR REPLACE INTO T_CONFIG (itemname, itemdata) VALUES ('gramsupto', '0')");
        }
        db_.Run("CREATE INDEX IF NOT EXISTS ix_member_contact ON T_MEMBER_CHINA (contact)");
        db_.Run("CREATE INDEX IF NOT EXISTS ix_member_namekey ON T_MEMBER_CHINA (namekey, region)");
        db_.Run(
            "CREATE UNIQUE INDEX IF NOT EXISTS ux_member_entry ON T_MEMBER_CHINA (entrykey) "
            "WHERE entrykey <> ''");
        // The new leads of a day (今天新增, the pane's count read again as the store changes)
        // are a range of this, not a scan of every row.
        db_.Run(std::string("CREATE INDEX IF NOT EXISTS ix_member_lead ON T_MEMBER_CHINA (") +
                kLeadTime + ")");
    });
}

std::int64_t RecordStore::IndexedUpTo() {
    bool found = false;
    const std::string upTo =
        db_.One("SELECT itemdata FROM T_CONFIG WHERE itemname='gramsupto'", {}, &found);
    return found ? text::LeadingLong(upTo) : -1;
}

bool RecordStore::RowIndexed(std::int64_t id) {
    return hasGrams_ && id <= IndexedUpTo();  // else the next search indexes it as it is then
}

void RecordStore::ReindexRow(std::int64_t id, const Utf8Row& before, const Utf8Row& after) {
    IndexRow(id, before, true);
    IndexRow(id, after);
}

void RecordStore::IndexRow(std::int64_t id, const Utf8Row& row, bool remove) {
    // A contentless index forgets a row only when told the tokens it was given.
    db_.Run(remove ? "INSERT INTO T_MEMBER_GRAMS (T_MEMBER_GRAMS, rowid, grams) VALUES "
                     "('delete', ?1, ?2)"
                   : "INSERT INTO T_MEMBER_GRAMS (rowid, grams) VALUES (?1, ?2)",
            {id, GramText(row)});
}

void RecordStore::ClearAfter() {
    if (hasGrams_) {
        db_.Run("INSERT INTO T_MEMBER_GRAMS (T_MEMBER_GRAMS) VALUES ('delete-all')");
    }
}

int RecordStore::IndexBatch(std::int64_t lastId) {
    // Each batch in one transaction with the mark (so two searches at once never index a row
    // twice), short enough that a collect writing beside a first search of a million rows
    // waits a moment, never its busy time-out.
    int indexed = 0;
    db_.Transaction(SqlTransaction::Write, [&] {
        const std::int64_t upTo = IndexedUpTo();
        if (upTo < 0) {
            return;
        }
        std::vector<std::pair<std::int64_t, Utf8Row>> rows;
        db_.Run(std::string("SELECT id, ") + kColumns +
                    " FROM T_MEMBER_CHINA WHERE id > ?1 AND id <= ?3 ORDER BY id LIMIT ?2",
                {upTo, kIndexBatchRows, lastId}, [&](const SqlRow& r) {
                    Utf8Row row;
                    for (int i = 0; i < MemberRecord::kFieldCount; ++i) {
                        row[i] = std::string(r.Text(i + 1));
                    }
                    rows.emplace_back(r.Int(0), std::move(row));
                });
        for (const auto& [id, row] : rows) {
            IndexRow(id, row);
        }
        if (!rows.empty()) {
            db_.Run("UPDATE T_CONFIG SET itemdata=?1 WHERE itemname='gramsupto'",
                    {std::to_string(rows.back().first)});
        }
        indexed = static_cast<int>(rows.size());
    });
    return indexed;
}

bool RecordStore::UpdateTextIndex(const std::function<bool(int percent)>& progress) {
    if (!hasGrams_ || db_.ReadOnly()) {
        return true;
    }
    // Up to the rows there are now: a collect or an import writing beside it faster than it
    // indexes would otherwise keep it going for ever. What they add is looked at one by one
    // until the next update.
    const std::int64_t upTo = IndexedUpTo();
    const std::int64_t lastId =
        text::LeadingLong(db_.One("SELECT coalesce(max(id), 0) FROM T_MEMBER_CHINA"));
    const std::int64_t total = text::LeadingLong(
        db_.One("SELECT count(*) FROM T_MEMBER_CHINA WHERE id > ?1 AND id <= ?2", {upTo, lastId}));
    std::int64_t done = 0;
    for (;;) {
        const int n = IndexBatch(lastId);
        if (n < kIndexBatchRows) {
            return true;
        }
        done += n;
        std::this_thread::sleep_for(kIndexPause);
        if (!progress(
                static_cast<int>(std::min<std::int64_t>(99, done * 100 / std::max(total, done))))) {
            return false;
        }
    }
}

bool RecordStore::IndexComplete() {
    return IndexedUpTo() >= text::LeadingLong(db_.One("SELECT max(id) FROM T_MEMBER_CHINA"));
}

std::string RecordStore::TextCondition(const std::string& folded, SqlBinder& bind) {
    const std::string holds = Holds(bind(folded));
    if (!hasGrams_ || text::CharCount(folded) < 2) {
        return holds;
    }
    // Looked up by its pairs first. Rows stored after the index's mark are looked at one by
    // one: a count or an export reads every row it takes anyway, and never waits for the index
    // to be brought up to date (nor could it inside a read snapshot).
    return "id IN (SELECT rowid FROM T_MEMBER_GRAMS WHERE T_MEMBER_GRAMS MATCH " +
           bind(GramQuery(folded)) + " UNION ALL SELECT id FROM T_MEMBER_CHINA WHERE id > " +
           bind(IndexedUpTo()) + ") AND " + holds;
}

std::optional<std::string> RecordStore::IndexedFind(const std::string& folded,
                                                    const RowQuery& query, SqlBinder& bind) {
    if (!hasGrams_ || text::CharCount(folded) < 2) {
        return std::nullopt;
    }
    if (indexOnRead_) {
        UpdateTextIndex([](int) { return true; });  // the rows stored since, by any program
    }
    if (!IndexComplete()) {
        return std::nullopt;  // rows it lacks (not indexed yet, or a read-only file) one by one
    }
    // The index gives its rows newest first and the first page ends the walk, however many
    // rows hold the pairs.
    std::string sql =
        "FROM T_MEMBER_GRAMS g JOIN T_MEMBER_CHINA m ON m.id=g.rowid WHERE T_MEMBER_GRAMS MATCH " +
        bind(GramQuery(folded));
    if (query.beforeId > 0) {
        sql += " AND g.rowid < " + bind(query.beforeId);
    }
    return sql + " AND " + Holds(bind(folded)) + " ORDER BY g.rowid DESC LIMIT " +
           bind(std::max(1, query.limit));
}

}  // namespace store
