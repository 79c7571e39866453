#include "store/RecordStore.h"

#include <sqlite3.h>

#include <atomic>
#include <cstdint>
#include <ctime>
#include <utility>

#include "platform/FileSystem.h"
#include "platform/LocalTime.h"
#include "store/SchemaVersion.h"
#include "text/GbkCodec.h"
#include "text/Grams.h"
#include "text/Normalise.h"
#include "text/Number.h"

namespace {

constexpr const char* kColumns = "title, person, sex, job, mobile, phone, fax, address, zip";
// Whether row m stands for a contact page kept as a failure.
constexpr const char* kWaiting =
    "EXISTS (SELECT 1 FROM T_FAILURE f WHERE f.rowid_kept=m.id AND f.kind='contact')";

// The texts the collected-data filter searches: company, person, the three numbers, address.
constexpr int kSearchedFields[] = {0, 1, 4, 5, 6, 7};

// The index text of a row: the pair tokens of its searched texts, each once.
std::string GramText(const std::array<std::string, MemberRecord::kFieldCount>& row) {
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

std::string_view ColumnView(sqlite3_stmt* stmt, int column) {
    if (sqlite3_column_type(stmt, column) == SQLITE_NULL) {
        return {};
    }
    const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt, column));
    int n = sqlite3_column_bytes(stmt, column);
    return p == nullptr ? std::string_view() : std::string_view(p, static_cast<size_t>(n));
}

}  // namespace

std::string FieldToText(sqlite3_stmt* stmt, int column) {
    // Numbers come back from sqlite3_column_text as their decimal text, nulls as nothing.
    return text::Utf8ToGbk(ColumnView(stmt, column));
}

// A prepared statement that is finalized when it goes out of scope.
class RecordStore::Statement {
  public:
    Statement(RecordStore& store, const std::string& sql) : store_(store) {
        if (sqlite3_prepare_v2(store.db_, sql.c_str(), -1, &stmt_, nullptr) != SQLITE_OK) {
            store.Fail("prepare");
        }
    }
    ~Statement() { sqlite3_finalize(stmt_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    void BindText(int index, std::string_view utf8) {
        if (sqlite3_bind_text(stmt_, index, utf8.data(), static_cast<int>(utf8.size()),
                              SQLITE_TRANSIENT) != SQLITE_OK) {
            store_.Fail("bind");
        }
    }
    // True while there is a row; throws on failure.
    bool Step() {
        int rc = sqlite3_step(stmt_);
        if (rc == SQLITE_ROW) {
            return true;
        }
        if (rc == SQLITE_DONE) {
            return false;
        }
        store_.Fail("step");
    }
    sqlite3_stmt* get() { return stmt_; }

    MemberRecord ReadRecord() {
        MemberRecord r;
        auto fields = r.Fields();
        for (int i = 0; i < MemberRecord::kFieldCount; ++i) {
            *fields[i] = FieldToText(stmt_, i);
        }
        if (sqlite3_column_count(stmt_) > MemberRecord::kFieldCount) {
            r.contact = FieldToText(stmt_, MemberRecord::kFieldCount);
        }
        if (sqlite3_column_count(stmt_) > MemberRecord::kFieldCount + 1) {
            r.waiting = sqlite3_column_int(stmt_, MemberRecord::kFieldCount + 1) != 0;
        }
        return r;
    }

  private:
    RecordStore& store_;
    sqlite3_stmt* stmt_ = nullptr;
};

RecordStore::RecordStore(std::string path) : path_(std::move(path)) {
    int rc =
        sqlite3_open_v2(path_.c_str(), &db_,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        std::string message = db_ != nullptr ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
        sqlite3_close(db_);
        db_ = nullptr;
        throw StoreError("无法打开数据库 " + path_ + "：" + message);
    }
    sqlite3_extended_result_codes(db_, 1);
    sqlite3_busy_timeout(db_, kBusyTimeoutMs);
    // WAL lets the window read while a worker writes; NORMAL sync keeps every committed row
    // through a crash of the program (the WAL is in the file system before a commit returns).
    // A read-only file cannot switch modes: reading still works, writing fails on its own.
    sqlite3_exec(db_, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
    sqlite3_exec(db_, "PRAGMA synchronous=NORMAL", nullptr, nullptr, nullptr);
    // The filter's rule for comparing texts (text::FoldAscii), never SQLite's lower().
    sqlite3_create_function(
        db_, "collector_fold", 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr,
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
    try {
        RefuseNewerSchema();
        CreateMissingTables();
        RecordSchemaVersion();
        fileIdentity_ = platform::IdentityOf(path_);
    } catch (...) {
        sqlite3_close(db_);
        db_ = nullptr;
        throw;
    }
}

RecordStore::~RecordStore() {
    sqlite3_finalize(append_);
    sqlite3_finalize(indexRow_);
    sqlite3_finalize(rowOfEntry_);
    sqlite3_close(db_);
}

void RecordStore::Fail(const char* what) {
    throw StoreError(std::string("数据库操作失败（") + what + "）：" + sqlite3_errmsg(db_));
}

void RecordStore::Exec(const char* sql) {
    char* err = nullptr;
    if (sqlite3_exec(db_, sql, nullptr, nullptr, &err) != SQLITE_OK) {
        std::string message = err != nullptr ? err : sqlite3_errmsg(db_);
        sqlite3_free(err);
        throw StoreError(std::string("数据库操作失败：") + message);
    }
}

int RecordStore::StoredSchemaVersion() {
    Statement config(*this, "SELECT 1 FROM sqlite_master WHERE type='table' AND name='T_CONFIG'");
    if (!config.Step()) {
        return 0;  // a new file
    }
    const std::optional<std::string> version = LoadSetting(kSchemaVersionItem);
    return version ? text::LeadingInt(*version) : 1;
}

void RecordStore::RefuseNewerSchema() {
    if (StoredSchemaVersion() > kSchemaVersion) {
        throw StoreError(kNewerSchemaMessage);
    }
}

void RecordStore::RecordSchemaVersion() {
    if (sqlite3_db_readonly(db_, "main") == 1) {
        return;  // read as it is
    }
    auto recorded = [this] {
        const std::optional<std::string> version = LoadSetting(kSchemaVersionItem);
        return version ? text::LeadingInt(*version) : 0;
    };
    if (recorded() >= kSchemaVersion) {
        return;
    }
    InTransaction([&] {
        if (recorded() >= kSchemaVersion) {
            return;  // upgraded meanwhile by another program
        }
        if (hasGrams_ && StoredSchemaVersion() < 2) {
            // The filter's rule took in full-width forms: the index is made anew, a batch at
            // a time, by the next searches (rows not yet in it are looked at one by one).
            Exec("INSERT INTO T_MEMBER_GRAMS (T_MEMBER_GRAMS) VALUES ('delete-all')");
            Exec("UPDATE T_CONFIG SET itemdata='0' WHERE itemname='gramsupto'");
        }
        Statement write(*this,
                        "INSERT OR REPLACE INTO T_CONFIG (itemname, itemdata) VALUES (?, ?)");
        write.BindText(1, kSchemaVersionItem);
        write.BindText(2, std::to_string(kSchemaVersion));
        write.Step();
    });
}

void RecordStore::CreateMissingTables() {
    // Most opens find both tables; look before taking the write lock.
    {
        Statement probe(*this,
                        "SELECT count(*) FROM sqlite_master WHERE type='table' AND name IN "
                        "('T_MEMBER_CHINA','T_CONFIG','T_FAILURE')");
        probe.Step();
        if (sqlite3_column_int(probe.get(), 0) == 3) {
            AddMissingColumns();
            return;
        }
    }
    Exec("BEGIN IMMEDIATE");
    try {
        Exec(
            "CREATE TABLE IF NOT EXISTS T_MEMBER_CHINA ("
            "id INTEGER PRIMARY KEY AUTOINCREMENT, "
            "title TEXT DEFAULT '', person TEXT DEFAULT '', sex TEXT DEFAULT '', "
            "job TEXT DEFAULT '', mobile TEXT DEFAULT '', phone TEXT DEFAULT '', "
            "fax TEXT DEFAULT '', address TEXT DEFAULT '', zip TEXT DEFAULT '', "
            "contact TEXT DEFAULT '', namekey TEXT DEFAULT '', region TEXT DEFAULT '', "
            "entrykey TEXT DEFAULT '', industry TEXT DEFAULT '', collected TEXT DEFAULT '')");
        Exec(
            "CREATE TABLE IF NOT EXISTS T_FAILURE ("
            "id INTEGER PRIMARY KEY AUTOINCREMENT, kind TEXT NOT NULL, page INTEGER DEFAULT 0, "
            "address TEXT NOT NULL, title TEXT DEFAULT '', condition TEXT DEFAULT '', "
            "reason TEXT DEFAULT '', tries INTEGER DEFAULT 0, rowid_kept INTEGER DEFAULT 0, "
            "time TEXT DEFAULT '', claim TEXT DEFAULT '', claim_until INTEGER DEFAULT 0, "
            "status INTEGER DEFAULT 0, UNIQUE (kind, address, title))");
        Statement has(*this, "SELECT 1 FROM sqlite_master WHERE type='table' AND name='T_CONFIG'");
        if (!has.Step()) {
            Exec("CREATE TABLE T_CONFIG (itemname TEXT PRIMARY KEY, itemdata TEXT)");
            Exec("INSERT INTO T_CONFIG (itemname, itemdata) VALUES ('lastpageindex', '1')");
        }
        Exec("COMMIT");
    } catch (...) {
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
    AddMissingColumns();
}

void RecordStore::AddMissingColumns() {
    // Files written before rows remembered their contact page, normalised name, region,
    // listing entry, search and time get the columns (names filled in; older rows know no
    // search or time); a file that has them is not written to, so a read-only store still opens.
    struct Found {
        bool contact = false, namekey = false, entry = false, indexes = false, claim = false,
             origin = false, grams = false, status = false;
        bool All() const {
            return contact && namekey && entry && indexes && claim && origin && grams && status;
        }
    };
    auto look = [this] {
        Found f;
        Statement probe(*this, "SELECT name FROM pragma_table_info('T_MEMBER_CHINA')");
        while (probe.Step()) {
            const std::string_view column = ColumnView(probe.get(), 0);
            f.contact = f.contact || column == "contact";
            f.namekey = f.namekey || column == "namekey";
            f.entry = f.entry || column == "entrykey";
            f.origin = f.origin || column == "collected";
        }
        Statement failure(*this, "SELECT 1 FROM pragma_table_info('T_FAILURE') WHERE name='claim'");
        f.claim = failure.Step();
        Statement status(*this, "SELECT 1 FROM pragma_table_info('T_FAILURE') WHERE name='status'");
        f.status = status.Step();
        Statement grams(*this,
                        "SELECT 1 FROM sqlite_master WHERE type='table' AND name='T_MEMBER_GRAMS'");
        f.grams = grams.Step();
        Statement index(*this,
                        "SELECT count(*) FROM sqlite_master WHERE type='index' AND name IN "
                        "('ix_member_namekey', 'ux_member_entry')");
        index.Step();
        f.indexes = sqlite3_column_int(index.get(), 0) == 2;
        return f;
    };
    if (look().All()) {
        return;
    }
    if (sqlite3_db_readonly(db_, "main") == 1) {
        // Read as it is: rows without a search or time, filters without the index.
        const Found f = look();
        hasOrigin_ = f.origin;
        hasGrams_ = f.grams;
        return;
    }
    InTransaction([&] {
        // Another program may have added them since the look above.
        const Found f = look();
        if (!f.contact) {
            Exec("ALTER TABLE T_MEMBER_CHINA ADD COLUMN contact TEXT DEFAULT ''");
        }
        if (!f.namekey) {
            Exec("ALTER TABLE T_MEMBER_CHINA ADD COLUMN namekey TEXT DEFAULT ''");
            Exec("ALTER TABLE T_MEMBER_CHINA ADD COLUMN region TEXT DEFAULT ''");
            sqlite3_create_function(
                db_, "collector_namekey", 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr,
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
            Exec("UPDATE T_MEMBER_CHINA SET namekey=collector_namekey(title)");
        }
        if (!f.claim) {
            // A kept failure is claimed by the one retry that fetches it.
            Exec("ALTER TABLE T_FAILURE ADD COLUMN claim TEXT DEFAULT ''");
            Exec("ALTER TABLE T_FAILURE ADD COLUMN claim_until INTEGER DEFAULT 0");
        }
        if (!f.status) {
            // The status of a failure's last answer, beside its reason.
            Exec("ALTER TABLE T_FAILURE ADD COLUMN status INTEGER DEFAULT 0");
        }
        if (!f.entry) {
            // Older rows know no entry: they stay without one.
            Exec("ALTER TABLE T_MEMBER_CHINA ADD COLUMN entrykey TEXT DEFAULT ''");
        }
        if (!f.origin) {
            Exec("ALTER TABLE T_MEMBER_CHINA ADD COLUMN industry TEXT DEFAULT ''");
            Exec("ALTER TABLE T_MEMBER_CHINA ADD COLUMN collected TEXT DEFAULT ''");
        }
        if (!f.grams) {
            // The filter's index: the pairs of characters of each row (contentless, so it
            // holds only the look-up). Rows are indexed by the search that first needs them
            // ('gramsupto': the last row indexed), so storing a row costs nothing more.
            Exec(
                "CREATE VIRTUAL TABLE T_MEMBER_GRAMS USING fts5(grams, content='', "
                "detail='none', tokenize='ascii')");
            Exec("INSERT OR REPLACE INTO T_CONFIG (itemname, itemdata) VALUES ('gramsupto', '0')");
        }
        Exec("CREATE INDEX IF NOT EXISTS ix_member_contact ON T_MEMBER_CHINA (contact)");
        Exec("CREATE INDEX IF NOT EXISTS ix_member_namekey ON T_MEMBER_CHINA (namekey, region)");
        Exec(
            "CREATE UNIQUE INDEX IF NOT EXISTS ux_member_entry ON T_MEMBER_CHINA (entrykey) "
            "WHERE entrykey <> ''");
    });
}

template <typename F>
void RecordStore::InTransaction(F&& body) {
    Exec("BEGIN IMMEDIATE");
    try {
        body();
        Exec("COMMIT");
    } catch (...) {
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
}

int RecordStore::LoadLastPageIndex() {
    Statement st(*this, "SELECT itemdata FROM T_CONFIG WHERE itemname='lastpageindex'");
    if (!st.Step()) {
        return 1;
    }
    return text::LeadingInt(FieldToText(st.get(), 0));
}

void RecordStore::SaveLastPageIndex(int page) {
    SaveSetting("lastpageindex", std::to_string(page));
}

std::optional<std::string> RecordStore::LoadSetting(const std::string& name) {
    Statement st(*this, "SELECT itemdata FROM T_CONFIG WHERE itemname=?");
    st.BindText(1, name);
    if (!st.Step()) {
        return std::nullopt;
    }
    return std::string(ColumnView(st.get(), 0));
}

void RecordStore::SaveSetting(const std::string& name, const std::string& value) {
    InTransaction([&] {
        Statement update(*this, "UPDATE T_CONFIG SET itemdata=? WHERE itemname=?");
        update.BindText(1, value);
        update.BindText(2, name);
        update.Step();
        if (sqlite3_changes(db_) == 0) {
            Statement insert(*this, "INSERT INTO T_CONFIG (itemname, itemdata) VALUES (?, ?)");
            insert.BindText(1, name);
            insert.BindText(2, value);
            insert.Step();
        }
    });
}

void RecordStore::CheckFileStillThere() {
    // An open file that was deleted or replaced still takes writes, which nobody would ever
    // read again: refuse them instead of reporting records as stored.
    const auto now = platform::IdentityOf(path_);
    if (!now || !fileIdentity_ || *now != *fileIdentity_) {
        throw StoreError("数据库文件已被删除或替换：" + path_);
    }
}

std::int64_t RecordStore::AppendMemberRecord(const MemberRecord& record) {
    CheckFileStillThere();
    return AppendRow(record);
}

std::int64_t RecordStore::AppendRow(const MemberRecord& record) {
    Utf8Row row;
    auto fields = record.Fields();
    for (int i = 0; i < MemberRecord::kFieldCount; ++i) {
        row[i] = text::GbkToUtf8(*fields[i]);
    }
    return AppendUtf8Row(row, text::GbkToUtf8(record.contact), text::GbkToUtf8(record.industry),
                         text::GbkToUtf8(record.region), record.entry);
}

std::int64_t RecordStore::AppendUtf8Row(const Utf8Row& row, const std::string& contact,
                                        const std::string& industry, const std::string& region,
                                        const std::string& entry) {
    if (append_ == nullptr) {
        // A row of an entry that is stored already is not appended again (its id is then 0).
        // It keeps the time it was first stored: filling it in later does not change it.
        const std::string sql = std::string("INSERT INTO T_MEMBER_CHINA (") + kColumns +
                                ", contact, namekey, region, entrykey, industry, collected) VALUES "
                                "(?,?,?,?,?,?,?,?,?,?,?,?,?,?,?) ON CONFLICT DO NOTHING";
        if (sqlite3_prepare_v3(db_, sql.c_str(), -1, SQLITE_PREPARE_PERSISTENT, &append_,
                               nullptr) != SQLITE_OK) {
            Fail("prepare");
        }
    }
    const std::string namekey = text::NormaliseName(row[0]);
    // The collector's local time, as the exports' "today" counts it.
    const std::string collected = platform::LocalDateTime(std::time(nullptr));
    const std::string* values[] = {&row[0],  &row[1], &row[2], &row[3],   &row[4],
                                   &row[5],  &row[6], &row[7], &row[8],   &contact,
                                   &namekey, &region, &entry,  &industry, &collected};
    for (int i = 0; i < static_cast<int>(std::size(values)); ++i) {
        if (sqlite3_bind_text(append_, i + 1, values[i]->data(),
                              static_cast<int>(values[i]->size()), SQLITE_TRANSIENT) != SQLITE_OK) {
            sqlite3_clear_bindings(append_);
            Fail("bind");
        }
    }
    const int rc = sqlite3_step(append_);
    const std::string message = rc == SQLITE_DONE ? std::string() : sqlite3_errmsg(db_);
    sqlite3_reset(append_);
    sqlite3_clear_bindings(append_);
    if (rc != SQLITE_DONE) {
        throw StoreError("数据库操作失败（step）：" + message);
    }
    return sqlite3_changes(db_) == 0 ? 0 : sqlite3_last_insert_rowid(db_);
}

std::int64_t RecordStore::IndexedUpTo() {
    Statement upTo(*this, "SELECT itemdata FROM T_CONFIG WHERE itemname='gramsupto'");
    return upTo.Step() ? text::LeadingInt(FieldToText(upTo.get(), 0)) : -1;
}

void RecordStore::IndexRow(std::int64_t id, const Utf8Row& row, const char* command) {
    if (command != nullptr) {
        Statement st(*this,
                     "INSERT INTO T_MEMBER_GRAMS (T_MEMBER_GRAMS, rowid, grams) VALUES "
                     "('delete', ?, ?)");
        sqlite3_bind_int64(st.get(), 1, id);
        st.BindText(2, GramText(row));
        st.Step();
        return;
    }
    // Every row comes here once: prepared once.
    if (indexRow_ == nullptr &&
        sqlite3_prepare_v3(db_, "INSERT INTO T_MEMBER_GRAMS (rowid, grams) VALUES (?, ?)", -1,
                           SQLITE_PREPARE_PERSISTENT, &indexRow_, nullptr) != SQLITE_OK) {
        Fail("prepare");
    }
    const std::string grams = GramText(row);
    sqlite3_bind_int64(indexRow_, 1, id);
    sqlite3_bind_text(indexRow_, 2, grams.data(), static_cast<int>(grams.size()), SQLITE_TRANSIENT);
    const int rc = sqlite3_step(indexRow_);
    const std::string message = rc == SQLITE_DONE ? std::string() : sqlite3_errmsg(db_);
    sqlite3_reset(indexRow_);
    if (rc != SQLITE_DONE) {
        throw StoreError("数据库操作失败（step）：" + message);
    }
}

void RecordStore::IndexNewRows() {
    if (!hasGrams_ || sqlite3_db_readonly(db_, "main") == 1) {
        return;
    }
    // Rows stored since the last search (by any program), a batch at a time, each batch in one
    // transaction with the mark (so two searches at once never index a row twice) and short
    // enough that a collect writing beside a first search of a million rows waits a moment,
    // never its busy time-out.
    for (bool more = true; more;) {
        more = false;
        InTransaction([&] {
            const std::int64_t upTo = IndexedUpTo();
            if (upTo < 0) {
                return;
            }
            Statement rows(*this, std::string("SELECT id, ") + kColumns +
                                      " FROM T_MEMBER_CHINA WHERE id > ? ORDER BY id LIMIT ?");
            sqlite3_bind_int64(rows.get(), 1, upTo);
            sqlite3_bind_int(rows.get(), 2, kIndexBatchRows);
            Utf8Row row;
            std::int64_t last = upTo;
            int n = 0;
            while (rows.Step()) {
                for (int i = 0; i < MemberRecord::kFieldCount; ++i) {
                    row[i] = std::string(ColumnView(rows.get(), i + 1));
                }
                last = sqlite3_column_int64(rows.get(), 0);
                IndexRow(last, row);
                ++n;
            }
            if (last != upTo) {
                Statement mark(*this, "UPDATE T_CONFIG SET itemdata=? WHERE itemname='gramsupto'");
                mark.BindText(1, std::to_string(last));
                mark.Step();
            }
            more = n == kIndexBatchRows;
        });
    }
}

bool IdentifiesCompany(std::string_view contact) {
    return !contact.empty() && contact.back() != '/';
}

bool RecordStore::IsKnownCompany(const std::string& contact, const std::string& name,
                                 const std::string& region) {
    if (IdentifiesCompany(contact) && HasContact(contact, std::string())) {
        return true;
    }
    const std::string key = text::NormaliseName(text::GbkToUtf8(name));
    if (key.empty()) {
        return false;
    }
    // A row that knows no region (imported, or stored before regions were kept) matches any.
    Statement st(*this,
                 "SELECT 1 FROM T_MEMBER_CHINA WHERE namekey=? AND region IN (?, '') LIMIT 1");
    st.BindText(1, key);
    st.BindText(2, text::GbkToUtf8(region));
    return st.Step();
}

IRecordStore::ImportCount RecordStore::ImportRows(const std::function<bool(Utf8Row&)>& next,
                                                  bool skipKnown) {
    CheckFileStillThere();
    ImportCount count;
    InTransaction([&] {
        Statement known(*this, "SELECT 1 FROM T_MEMBER_CHINA WHERE namekey=? LIMIT 1");
        Utf8Row row;
        while (next(row)) {
            if (skipKnown) {
                const std::string key = text::NormaliseName(row[0]);
                known.BindText(1, key);
                const bool stored = !key.empty() && known.Step();
                sqlite3_reset(known.get());
                if (stored) {
                    ++count.skipped;
                    continue;
                }
            }
            AppendUtf8Row(row, std::string(), std::string(), std::string(), std::string());
            ++count.imported;
        }
    });
    return count;
}

namespace {

// The rows whose searched texts hold ?5 (folded, as SQLite's lower() folds).
constexpr const char* kHoldsText =
    "(instr(collector_fold(title), ?5) OR instr(collector_fold(person), ?5) OR "
    "instr(collector_fold(mobile), ?5) OR instr(collector_fold(phone), ?5) OR "
    "instr(collector_fold(fax), ?5) OR instr(collector_fold(address), ?5))";

// The same, looked up by the pairs ?4 first when the text has two characters or more (and the
// file has the index).
std::string TextFilter(const std::string& folded, bool grams) {
    if (grams && text::CharCount(folded) >= 2) {
        // Rows stored after the index's mark (?6) are looked at one by one: a read in one
        // snapshot cannot bring the index up to date first.
        return std::string(
                   "id IN (SELECT rowid FROM T_MEMBER_GRAMS WHERE T_MEMBER_GRAMS MATCH ?4 "
                   "UNION ALL SELECT id FROM T_MEMBER_CHINA WHERE id > ?6) AND ") +
               kHoldsText;
    }
    return kHoldsText;
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

// The query of the rows `selection` takes, with where each came from; its parameters by
// number (?1 industry, ?2 region, ?3 since, ?4 and ?5 the text, ?6 the index's mark), so a filter
// used twice is bound once. A read-only file of an older version has no search, time or index: its
// rows have none, and a text is scanned for.
std::string SelectionSql(const RowSelection& selection, bool origin, bool grams) {
    const std::string industry = origin ? "industry" : "''";
    const std::string collected = origin ? "collected" : "''";
    std::string where = "1=1";
    if (const std::string text = text::FoldAscii(text::TrimBlanks(selection.text)); !text.empty()) {
        where += " AND " + TextFilter(text, grams);
    }
    if (selection.industry) {
        where += " AND " + industry + "=?1";
    }
    if (selection.region) {
        where += " AND region=?2";
    }
    if (!selection.since.empty()) {
        where += " AND " + collected + ">=?3";
    }
    if (selection.completeOnly) {
        where += " AND id NOT IN (SELECT rowid_kept FROM T_FAILURE WHERE kind='contact')";
    }
    std::string sql = std::string("SELECT ") + kColumns + ", " + collected + ", " + industry +
                      ", region FROM T_MEMBER_CHINA WHERE " + where;
    if (selection.unique) {
        // A company is its contact page when the row knows one, else its name and region; a
        // row with neither stands alone. Of each company the newest row is taken, passing over
        // rows still waiting for their contact page when the company has another; the same
        // filters choose the rows it is taken from.
        sql +=
            " AND id IN (SELECT coalesce(max(CASE WHEN id NOT IN (SELECT rowid_kept FROM "
            "T_FAILURE) THEN id END), max(id)) FROM T_MEMBER_CHINA WHERE " +
            where +
            " GROUP BY CASE "
            "WHEN contact<>'' AND substr(contact, -1)<>'/' THEN 'c' || contact "
            "WHEN namekey<>'' THEN 'n' || namekey || char(31) || region "
            "ELSE 'i' || id END)";
    }
    return sql;
}

}  // namespace

void RecordStore::BindSelection(Statement& st, const RowSelection& selection) {
    if (const std::string text = text::FoldAscii(text::TrimBlanks(selection.text)); !text.empty()) {
        if (hasGrams_ && text::CharCount(text) >= 2) {
            if (sqlite3_get_autocommit(db_) != 0) {
                IndexNewRows();  // (not inside a read snapshot: that cannot write)
            }
            st.BindText(4, GramQuery(text));
            sqlite3_bind_int64(st.get(), 6, IndexedUpTo());
        }
        st.BindText(5, text);
    }
    if (selection.industry) {
        st.BindText(1, *selection.industry);
    }
    if (selection.region) {
        st.BindText(2, *selection.region);
    }
    if (!selection.since.empty()) {
        st.BindText(3, selection.since);
    }
}

std::vector<StoredRow> RecordStore::FindRows(const RowQuery& query) {
    const std::string text = text::FoldAscii(text::TrimBlanks(query.text));
    const bool lookUp = hasGrams_ && text::CharCount(text) >= 2;
    if (lookUp) {
        IndexNewRows();
    }
    std::string sql = std::string("SELECT id, ") + kColumns +
                      (hasOrigin_ ? ", collected, industry, " : ", '', '', ") + "region, " +
                      kWaiting + " FROM ";
    if (lookUp) {
        // The index gives its rows newest first and the first page ends the walk, however many
        // rows hold the pairs.
        sql +=
            "T_MEMBER_GRAMS g JOIN T_MEMBER_CHINA m ON m.id=g.rowid WHERE "
            "T_MEMBER_GRAMS MATCH ?4";
        if (query.beforeId > 0) {
            sql += " AND g.rowid < ?1";
        }
        sql += std::string(" AND ") + kHoldsText + " ORDER BY g.rowid DESC LIMIT ?2";
    } else {
        sql += "T_MEMBER_CHINA m WHERE 1=1";
        if (query.beforeId > 0) {
            sql += " AND id < ?1";
        }
        if (!text.empty()) {
            sql += " AND " + TextFilter(text, false);
        }
        sql += " ORDER BY id DESC LIMIT ?2";
    }
    Statement st(*this, sql);
    if (query.beforeId > 0) {
        sqlite3_bind_int64(st.get(), 1, query.beforeId);
    }
    sqlite3_bind_int(st.get(), 2, std::max(1, query.limit));
    if (lookUp) {
        st.BindText(4, GramQuery(text));
    }
    if (!text.empty()) {
        st.BindText(5, text);
    }
    std::vector<StoredRow> rows;
    while (st.Step()) {
        StoredRow r;
        r.id = sqlite3_column_int64(st.get(), 0);
        for (int i = 0; i < MemberRecord::kFieldCount; ++i) {
            r.fields[i] = std::string(ColumnView(st.get(), i + 1));
        }
        r.collected = std::string(ColumnView(st.get(), MemberRecord::kFieldCount + 1));
        r.industry = std::string(ColumnView(st.get(), MemberRecord::kFieldCount + 2));
        r.region = std::string(ColumnView(st.get(), MemberRecord::kFieldCount + 3));
        r.waiting = sqlite3_column_int(st.get(), MemberRecord::kFieldCount + 4) != 0;
        rows.push_back(std::move(r));
    }
    return rows;
}

std::int64_t RecordStore::CountSelectedRows(const RowSelection& selection) {
    Statement st(*this,
                 "SELECT count(*) FROM (" + SelectionSql(selection, hasOrigin_, hasGrams_) + ")");
    BindSelection(st, selection);
    st.Step();
    return sqlite3_column_int64(st.get(), 0);
}

void RecordStore::ForEachSelectedRow(const RowSelection& selection, const RowVisitor& visit) {
    Statement st(*this, SelectionSql(selection, hasOrigin_, hasGrams_) + " ORDER BY id");
    BindSelection(st, selection);
    RawRow row;
    RowOrigin origin;
    while (st.Step()) {
        for (int i = 0; i < MemberRecord::kFieldCount; ++i) {
            row[i] = ColumnView(st.get(), i);
        }
        origin.collected = ColumnView(st.get(), MemberRecord::kFieldCount);
        origin.industry = ColumnView(st.get(), MemberRecord::kFieldCount + 1);
        origin.region = ColumnView(st.get(), MemberRecord::kFieldCount + 2);
        visit(row, origin);
    }
}

void RecordStore::InOneSnapshot(const std::function<void()>& reads) {
    // A deferred transaction takes its snapshot at its first read and keeps it; in WAL mode
    // the writers go on beside it.
    Exec("BEGIN");
    try {
        reads();
    } catch (...) {
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
    Exec("COMMIT");
}

std::optional<MemberRecord> RecordStore::NewestMemberRecord() {
    Statement st(
        *this, std::string("SELECT ") + kColumns + " FROM T_MEMBER_CHINA ORDER BY id DESC LIMIT 1");
    if (!st.Step()) {
        return std::nullopt;
    }
    return st.ReadRecord();
}

std::optional<MemberRecord> RecordStore::MemberRecordById(std::int64_t id) {
    Statement st(*this, std::string("SELECT ") + kColumns + ", contact, " + kWaiting +
                            " FROM T_MEMBER_CHINA m WHERE id=?");
    sqlite3_bind_int64(st.get(), 1, id);
    if (!st.Step()) {
        return std::nullopt;
    }
    return st.ReadRecord();
}

void RecordStore::NewestMemberRecords(const std::function<void(const MemberRecord&)>& deliver) {
    Statement st(*this, std::string("SELECT ") + kColumns + ", contact, " + kWaiting +
                            " FROM T_MEMBER_CHINA m ORDER BY id DESC LIMIT " +
                            std::to_string(kNewestLimit));
    while (st.Step()) {
        deliver(st.ReadRecord());
    }
}

bool RecordStore::HasMemberRecords() {
    Statement st(*this, "SELECT EXISTS (SELECT 1 FROM T_MEMBER_CHINA)");
    st.Step();
    return sqlite3_column_int(st.get(), 0) != 0;
}

bool RecordStore::ClearMemberRecords(const std::atomic<bool>* cancel) {
    struct Cancelled {};
    try {
        InTransaction([&] {
            Exec("DELETE FROM T_MEMBER_CHINA");
            Exec("DELETE FROM T_FAILURE");
            Exec("INSERT INTO T_MEMBER_GRAMS (T_MEMBER_GRAMS) VALUES ('delete-all')");
            // Later rows get higher ids: the mark stays where it is.
            if (cancel != nullptr && cancel->load()) {
                throw Cancelled{};
            }
        });
    } catch (const Cancelled&) {
        return false;
    }
    return true;
}

std::int64_t RecordStore::FillMemberRecord(std::int64_t rowId, const MemberRecord& record,
                                           std::int64_t failureId) {
    CheckFileStillThere();
    std::int64_t filled = rowId;
    InTransaction([&] {
        if (!FillRow(rowId, record)) {
            filled = AppendRow(record);  // the row was removed meanwhile: the company stays
        }
        Statement drop(*this, "DELETE FROM T_FAILURE WHERE id=?");
        sqlite3_bind_int64(drop.get(), 1, failureId);
        drop.Step();
    });
    return filled;
}

bool RecordStore::FillRow(std::int64_t rowId, const MemberRecord& record) {
    // Called inside a transaction: the row's index entry is replaced with it.
    Statement old(*this, std::string("SELECT ") + kColumns + " FROM T_MEMBER_CHINA WHERE id=?");
    sqlite3_bind_int64(old.get(), 1, rowId);
    if (!old.Step()) {
        return false;
    }
    Utf8Row before;
    for (int i = 0; i < MemberRecord::kFieldCount; ++i) {
        before[i] = std::string(ColumnView(old.get(), i));
    }
    Statement st(*this,
                 "UPDATE T_MEMBER_CHINA SET person=?, sex=?, job=?, mobile=?, phone=?, fax=?, "
                 "address=?, zip=? WHERE id=?");
    auto fields = record.Fields();
    Utf8Row after = before;
    for (int i = 1; i < MemberRecord::kFieldCount; ++i) {
        after[i] = text::GbkToUtf8(*fields[i]);
        st.BindText(i, after[i]);
    }
    sqlite3_bind_int64(st.get(), MemberRecord::kFieldCount, rowId);
    st.Step();
    if (sqlite3_changes(db_) == 0) {
        return false;
    }
    if (hasGrams_ && rowId <= IndexedUpTo()) {  // else the next search indexes it as it is then
        IndexRow(rowId, before, "delete");
        IndexRow(rowId, after);
    }
    return true;
}

std::int64_t RecordStore::KeepFailure(KeptFailure& f, const MemberRecord* placeholder) {
    CheckFileStillThere();
    std::int64_t id = 0;
    InTransaction([&] {
        if (placeholder != nullptr) {
            f.rowId = AppendRow(*placeholder);
            if (f.rowId == 0) {
                f.rowId = RowOfEntry(placeholder->entry);  // the entry's row is stored already
            }
        }
        Statement st(
            *this,
            "INSERT INTO T_FAILURE (kind, page, address, title, condition, reason, tries, "
            "rowid_kept, time, status) VALUES (?,?,?,?,?,?,?,?,datetime('now','localtime'),"
            "?) ON CONFLICT (kind, address, title) DO UPDATE SET reason=excluded.reason, "
            "tries=excluded.tries, time=excluded.time, page=excluded.page, claim='', "
            "status=excluded.status, "
            "claim_until=0, rowid_kept=CASE WHEN excluded.rowid_kept<>0 THEN "
            "excluded.rowid_kept ELSE rowid_kept END");
        st.BindText(1, KindName(f.kind));
        sqlite3_bind_int(st.get(), 2, f.page);
        st.BindText(3, text::GbkToUtf8(f.address));
        st.BindText(4, text::GbkToUtf8(f.title));
        st.BindText(5, text::GbkToUtf8(f.condition));
        st.BindText(6, f.reason);
        sqlite3_bind_int(st.get(), 7, f.tries);
        sqlite3_bind_int64(st.get(), 8, f.rowId);
        sqlite3_bind_int(st.get(), 9, f.status);
        st.Step();
        Statement idOf(
            *this, "SELECT id, rowid_kept FROM T_FAILURE WHERE kind=? AND address=? AND title=?");
        idOf.BindText(1, KindName(f.kind));
        idOf.BindText(2, text::GbkToUtf8(f.address));
        idOf.BindText(3, text::GbkToUtf8(f.title));
        if (idOf.Step()) {
            id = sqlite3_column_int64(idOf.get(), 0);
            f.rowId = sqlite3_column_int64(idOf.get(), 1);
        }
    });
    f.id = id;
    return id;
}

std::int64_t RecordStore::DropFailureAt(KeptFailure::Kind kind, const std::string& address) {
    CheckFileStillThere();
    std::int64_t id = 0;
    InTransaction([&] {
        Statement find(*this, "SELECT id FROM T_FAILURE WHERE kind=? AND address=?");
        find.BindText(1, KindName(kind));
        find.BindText(2, text::GbkToUtf8(address));
        if (!find.Step()) {
            return;
        }
        id = sqlite3_column_int64(find.get(), 0);
        Statement drop(*this, "DELETE FROM T_FAILURE WHERE id=?");
        sqlite3_bind_int64(drop.get(), 1, id);
        drop.Step();
    });
    return id;
}

bool RecordStore::HasContact(const std::string& address, const std::string& title) {
    if (address.empty()) {
        return false;
    }
    if (IdentifiesCompany(address) && title.empty()) {
        Statement st(*this, "SELECT 1 FROM T_MEMBER_CHINA WHERE contact=? LIMIT 1");
        st.BindText(1, text::GbkToUtf8(address));
        return st.Step();
    }
    // An address that names no company of its own is only the same row with the same name.
    Statement st(*this, "SELECT 1 FROM T_MEMBER_CHINA WHERE contact=? AND title=? LIMIT 1");
    st.BindText(1, text::GbkToUtf8(address));
    st.BindText(2, text::GbkToUtf8(title));
    return st.Step();
}

std::vector<KeptFailure> RecordStore::KeptFailures() {
    Statement st(*this,
                 "SELECT id, kind, page, address, title, condition, reason, tries, rowid_kept, "
                 "time, status, COALESCE((SELECT m.entrykey FROM T_MEMBER_CHINA m WHERE m.id = "
                 "T_FAILURE.rowid_kept), '') FROM T_FAILURE ORDER BY id");
    std::vector<KeptFailure> out;
    while (st.Step()) {
        KeptFailure f;
        f.id = sqlite3_column_int64(st.get(), 0);
        f.kind = ColumnView(st.get(), 1) == "page" ? KeptFailure::Kind::ResultPage
                                                   : KeptFailure::Kind::ContactPage;
        f.page = sqlite3_column_int(st.get(), 2);
        f.address = FieldToText(st.get(), 3);
        f.title = FieldToText(st.get(), 4);
        f.condition = FieldToText(st.get(), 5);
        f.reason = std::string(ColumnView(st.get(), 6));
        f.tries = sqlite3_column_int(st.get(), 7);
        f.rowId = sqlite3_column_int64(st.get(), 8);
        f.time = std::string(ColumnView(st.get(), 9));
        f.status = sqlite3_column_int(st.get(), 10);
        f.entry = std::string(ColumnView(st.get(), 11));
        out.push_back(std::move(f));
    }
    return out;
}

std::int64_t RecordStore::CountKeptFailures() {
    Statement st(*this, "SELECT count(*) FROM T_FAILURE");
    st.Step();
    return sqlite3_column_int64(st.get(), 0);
}

std::int64_t RecordStore::RowOfEntry(const std::string& entry) {
    if (entry.empty()) {
        return 0;
    }
    // Asked before every entry is fetched: prepared once. "entrykey <> ''" lets the planner
    // use the partial unique index (a bound value alone does not tell it the key is not
    // empty): without it every look-up reads the whole table.
    if (rowOfEntry_ == nullptr &&
        sqlite3_prepare_v3(db_, "SELECT id FROM T_MEMBER_CHINA WHERE entrykey=? AND entrykey<>''",
                           -1, SQLITE_PREPARE_PERSISTENT, &rowOfEntry_, nullptr) != SQLITE_OK) {
        Fail("prepare");
    }
    if (sqlite3_bind_text(rowOfEntry_, 1, entry.data(), static_cast<int>(entry.size()),
                          SQLITE_TRANSIENT) != SQLITE_OK) {
        Fail("bind");
    }
    const int rc = sqlite3_step(rowOfEntry_);
    const std::int64_t id = rc == SQLITE_ROW ? sqlite3_column_int64(rowOfEntry_, 0) : 0;
    const std::string message = rc == SQLITE_ROW || rc == SQLITE_DONE ? "" : sqlite3_errmsg(db_);
    sqlite3_reset(rowOfEntry_);
    if (!message.empty()) {
        throw StoreError("数据库操作失败（step）：" + message);
    }
    return id;
}

bool RecordStore::HasEntry(const std::string& entry) {
    return RowOfEntry(entry) != 0;
}

bool RecordStore::HasUnkeyedContact(const std::string& address, const std::string& title,
                                    const std::string& region) {
    if (address.empty()) {
        return false;
    }
    const bool own = IdentifiesCompany(address);
    Statement st(*this, own ? "SELECT 1 FROM T_MEMBER_CHINA WHERE contact=? AND entrykey='' AND "
                              "region IN (?, '') LIMIT 1"
                            : "SELECT 1 FROM T_MEMBER_CHINA WHERE contact=? AND entrykey='' AND "
                              "region IN (?, '') AND title=? LIMIT 1");
    st.BindText(1, text::GbkToUtf8(address));
    st.BindText(2, text::GbkToUtf8(region));
    if (!own) {
        st.BindText(3, text::GbkToUtf8(title));
    }
    return st.Step();
}

IRecordWriter::EntryWrite RecordStore::AppendEntry(const MemberRecord& record) {
    CheckFileStillThere();
    EntryWrite w;
    // Most entries are new: the insert alone is atomic and commits on its own.
    w.rowId = AppendRow(record);
    if (w.rowId != 0) {
        return w;
    }
    InTransaction([&] {
        // The entry has a row: filled when it waits for its contact page, else left alone.
        Statement kept(*this,
                       "SELECT f.id, m.id FROM T_MEMBER_CHINA m JOIN T_FAILURE f ON "
                       "f.rowid_kept=m.id AND f.kind='contact' WHERE m.entrykey=? AND "
                       "m.entrykey<>'' LIMIT 1");
        kept.BindText(1, record.entry);
        if (!kept.Step()) {
            return;
        }
        w.healedFailure = sqlite3_column_int64(kept.get(), 0);
        w.rowId = sqlite3_column_int64(kept.get(), 1);
        FillRow(w.rowId, record);
        Statement drop(*this, "DELETE FROM T_FAILURE WHERE id=?");
        sqlite3_bind_int64(drop.get(), 1, w.healedFailure);
        drop.Step();
    });
    return w;
}

std::optional<std::string> RecordStore::ClaimFailure(std::int64_t id, std::chrono::seconds lease,
                                                     const std::string& run) {
    Statement st(*this,
                 "UPDATE T_FAILURE SET claim=?1, claim_until=CAST(strftime('%s','now') AS INTEGER)"
                 " + ?2 WHERE id=?3 AND (claim_until < CAST(strftime('%s','now') AS INTEGER) OR "
                 "claim=?1)");
    st.BindText(1, run);
    sqlite3_bind_int64(st.get(), 2, lease.count());
    sqlite3_bind_int64(st.get(), 3, id);
    st.Step();
    return sqlite3_changes(db_) == 1 ? std::optional<std::string>(run) : std::nullopt;
}

void RecordStore::ReleaseFailure(std::int64_t id, const std::string& token) {
    Statement st(*this, "UPDATE T_FAILURE SET claim='', claim_until=0 WHERE id=? AND claim=?");
    sqlite3_bind_int64(st.get(), 1, id);
    st.BindText(2, token);
    st.Step();
}

std::set<std::string> RecordStore::EntriesFrom(const std::string& prefix) {
    // A range of the entry index: every key that begins with the prefix sorts between it and
    // the prefix with its last byte raised by one.
    std::string end = prefix;
    if (!end.empty()) {
        end.back() = static_cast<char>(end.back() + 1);
    }
    Statement st(*this,
                 "SELECT entrykey FROM T_MEMBER_CHINA WHERE entrykey >= ? AND entrykey < ? AND "
                 "entrykey <> ''");
    st.BindText(1, prefix);
    st.BindText(2, end);
    std::set<std::string> keys;
    while (st.Step()) {
        keys.insert(std::string(ColumnView(st.get(), 0)));
    }
    return keys;
}
