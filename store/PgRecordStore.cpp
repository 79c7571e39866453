#include "store/PgRecordStore.h"

#include <algorithm>
#include <utility>

#include "store/SchemaVersion.h"
#include "text/GbkCodec.h"
#include "text/Grams.h"
#include "text/Normalise.h"
#include "text/Number.h"

namespace store {

namespace {

// The texts the collected-data filter searches, as one: company, person, the three numbers,
// address, each folded.
constexpr const char* kSearchedText =
    "collector_fold(coalesce(title, '') || chr(31) || coalesce(person, '') || chr(31) || "
    "coalesce(mobile, '') || chr(31) || coalesce(phone, '') || chr(31) || coalesce(fax, '') || "
    "chr(31) || coalesce(address, ''))";

// Serialises the creation and upgrade of the tables when several collectors start at once.
constexpr const char* kSchemaLock = "SELECT pg_advisory_xact_lock(73120415)";

constexpr const char* kSearchCleared = "搜索已被清除：另一个采集器清空了共享数据库，采集已停止";

const PgDialect kDialect;

std::string Utf8(const std::string& gbk) {
    return text::GbkToUtf8(gbk);
}

}  // namespace

PgRecordStore::PgRecordStore(std::string uri, const std::atomic<bool>* interrupt)
    : SqlRecordStore(std::make_unique<PgConnection>(uri, interrupt), kDialect),
      uri_(std::move(uri)),
      pg_(static_cast<PgConnection&>(db_)) {
    if (RecordedSchemaVersion() > kSchemaVersion) {
        throw StoreError(kNewerSchemaMessage);
    }
    CreateMissingTables();
    RecordSchemaVersion();
}

int PgRecordStore::RecordedSchemaVersion() {
    // Read as any release wrote it (before the digest of a setting's name was indexed).
    if (db_.One("SELECT to_regclass('t_config') IS NULL") == "t") {
        return 0;  // a new database
    }
    return text::LeadingInt(
        db_.One("SELECT itemdata FROM T_CONFIG WHERE itemname=?1", {kSchemaVersionItem}));
}

void PgRecordStore::RecordSchemaVersion() {
    // Most opens find it recorded; an upgrade takes the schema lock, so another collector's
    // is waited for, not fought.
    if (RecordedSchemaVersion() == kSchemaVersion) {
        return;
    }
    db_.Transaction(SqlTransaction::Write, [&] {
        db_.Run(kSchemaLock);
        const int stored = RecordedSchemaVersion();
        if (stored > kSchemaVersion) {
            throw StoreError(kNewerSchemaMessage);  // upgraded meanwhile by a newer program
        }
        if (stored < kSchemaVersion) {
            SaveSetting(kSchemaVersionItem, std::to_string(kSchemaVersion));
        }
    });
}

void PgRecordStore::CreateMissingTables() {
    // Most opens find everything in place: look before taking the schema lock, which would make
    // collectors that start together wait for each other's DDL.
    if (db_.One(
            "SELECT to_regclass('t_page') IS NOT NULL AND to_regclass('t_search') IS NOT NULL "
            "AND to_regclass('t_config') IS NOT NULL AND to_regclass('t_failure') IS NOT NULL "
            "AND to_regclass('ux_member_entry_d') IS NOT NULL AND "
            "to_regclass('ix_member_namekey_p') IS NOT NULL AND to_regclass('t_collector') IS NOT "
            "NULL AND to_regclass('ix_member_entry_p') IS NOT NULL AND "
            "to_regclass('ix_member_contact_p') IS NOT NULL AND "
            "to_regclass('ux_failure_d') IS NOT NULL AND "
            "to_regclass('ix_member_collected') IS NOT NULL AND "
            "to_regclass('ix_member_search') IS NOT NULL AND "
            "to_regclass('ix_member_grams_f') IS NOT NULL AND "
            "to_regclass('ix_member_grams') IS NULL AND "
            "to_regclass('ux_member_search_company') IS NULL AND "
            "to_regclass('ux_member_entry') IS NULL AND "
            "to_regclass('ux_search_d') IS NOT NULL AND to_regclass('ux_config_d') IS NOT NULL "
            "AND to_regclass('t_config_pkey') IS NULL AND "
            "to_regclass('t_search_industry_region_key') IS NULL AND NOT EXISTS (SELECT 1 FROM "
            "information_schema.columns WHERE table_name = 't_member_china' AND column_name = "
            "'search' AND table_schema = current_schema()) AND EXISTS (SELECT 1 FROM "
            "information_schema.columns WHERE table_name = 't_search' AND column_name = 'round' "
            "AND table_schema = current_schema()) AND to_regclass('ix_run_search') IS NOT NULL AND "
            "to_regclass('ix_member_lead') IS NOT NULL AND to_regclass('ux_failure_r') IS NOT NULL "
            "AND "
            "EXISTS (SELECT 1 FROM information_schema.columns WHERE table_name = "
            "'t_member_china' AND column_name = 'completed' AND table_schema = "
            "current_schema()) AND EXISTS (SELECT 1 FROM information_schema.columns WHERE "
            "table_name = 't_run' AND column_name = 'host' AND table_schema = "
            "current_schema())") == "t") {
        return;
    }
    db_.Transaction(SqlTransaction::Write, [&] {
        db_.Run(kSchemaLock);
        db_.Run(
            "CREATE TABLE IF NOT EXISTS T_MEMBER_CHINA ("
            "id BIGSERIAL PRIMARY KEY, "
            "title TEXT DEFAULT '', person TEXT DEFAULT '', sex TEXT DEFAULT '', "
            "job TEXT DEFAULT '', mobile TEXT DEFAULT '', phone TEXT DEFAULT '', "
            "fax TEXT DEFAULT '', address TEXT DEFAULT '', zip TEXT DEFAULT '', "
            "contact TEXT DEFAULT '', namekey TEXT DEFAULT '', region TEXT DEFAULT '', "
            "entrykey TEXT DEFAULT '', industry TEXT DEFAULT '', collected TEXT DEFAULT '')");
        // A column of an older release that nothing wrote.
        if (db_.Exists("SELECT 1 FROM information_schema.columns WHERE table_name = "
                       "'t_member_china' AND column_name = 'search' AND table_schema = "
                       "current_schema()")) {
            db_.Run("ALTER TABLE T_MEMBER_CHINA DROP COLUMN search");
        }
        // Older databases: rows without an entry, and a company once per search and contact
        // page, which kept two entries of one company apart from two rows.
        // Altered only when needed: ALTER takes a lock that would queue behind other collectors.
        if (db_.Run("SELECT 1 FROM information_schema.columns WHERE table_name = 't_member_china' "
                    "AND column_name = 'entrykey' AND table_schema = current_schema()") == 0) {
            db_.Run("ALTER TABLE T_MEMBER_CHINA ADD COLUMN IF NOT EXISTS entrykey TEXT DEFAULT ''");
        }
        // Where a row came from: older rows know no search or time.
        if (db_.Run("SELECT 1 FROM information_schema.columns WHERE table_name = 't_member_china' "
                    "AND column_name = 'collected' AND table_schema = current_schema()") == 0) {
            db_.Run("ALTER TABLE T_MEMBER_CHINA ADD COLUMN IF NOT EXISTS industry TEXT DEFAULT ''");
            db_.Run(
                "ALTER TABLE T_MEMBER_CHINA ADD COLUMN IF NOT EXISTS collected TEXT DEFAULT ''");
        }
        // Where a row came from and when it became complete: older rows know neither (see
        // SqlRecordStore::SelectionSql for how they are read).
        if (db_.Run("SELECT 1 FROM information_schema.columns WHERE table_name = 't_member_china' "
                    "AND column_name = 'completed' AND table_schema = current_schema()") == 0) {
            db_.Run("ALTER TABLE T_MEMBER_CHINA ADD COLUMN IF NOT EXISTS origin TEXT DEFAULT ''");
            db_.Run(
                "ALTER TABLE T_MEMBER_CHINA ADD COLUMN IF NOT EXISTS completed TEXT DEFAULT ''");
        }
        // The record of runs (RunRecord.h): a run's collector renews `seen` while it works,
        // on the server's clock like every lease.
        db_.Run(
            "CREATE TABLE IF NOT EXISTS T_RUN (id BIGSERIAL PRIMARY KEY, industry TEXT DEFAULT "
            "'', region TEXT DEFAULT '', started TEXT DEFAULT '', ended TEXT DEFAULT '', how "
            "TEXT DEFAULT '', stored BIGINT DEFAULT 0, newrows BIGINT DEFAULT 0, kept BIGINT "
            "DEFAULT 0, outcome TEXT DEFAULT '', finished INTEGER DEFAULT 0, seen TIMESTAMPTZ)");
        db_.Run("CREATE INDEX IF NOT EXISTS ix_run_search ON T_RUN (industry, region)");
        // The machine of each run: a window tells what this machine's schedules did.
        if (db_.Run("SELECT 1 FROM information_schema.columns WHERE table_name = 't_run' AND "
                    "column_name = 'host' AND table_schema = current_schema()") == 0) {
            db_.Run("ALTER TABLE T_RUN ADD COLUMN IF NOT EXISTS host TEXT DEFAULT ''");
        }
        // The new leads of a day are a range of this (compared byte by byte, as queried).
        db_.Run(std::string("CREATE INDEX IF NOT EXISTS ix_member_lead ON T_MEMBER_CHINA ((") +
                kLeadTime + " COLLATE \"C\"))");
        db_.Run(
            "CREATE INDEX IF NOT EXISTS ix_member_collected ON T_MEMBER_CHINA "
            "(collected COLLATE \"C\")");
        db_.Run("CREATE INDEX IF NOT EXISTS ix_member_search ON T_MEMBER_CHINA (region, industry)");
        // The filter's index: the pairs of neighbouring characters of the searched texts, so
        // a query of two characters (most Chinese ones) is looked up, not scanned for.
        db_.Run(
            "CREATE OR REPLACE FUNCTION collector_grams(t text) RETURNS text[] LANGUAGE sql "
            "IMMUTABLE STRICT PARALLEL SAFE AS $$ SELECT coalesce(array_agg(DISTINCT "
            "substr(t, i, 2)), '{}') FROM generate_series(1, char_length(t) - 1) AS i $$");
        // The filter's one rule for comparing texts (text::FoldAscii), never the locale's
        // lower(): full-width ASCII forms as ASCII, ASCII letters in lower case.
        std::string from;
        std::string to;
        text::FoldTable(from, to);
        auto literal = [](const std::string& s) {
            std::string quoted = "'";
            for (char c : s) {
                quoted += c == '\'' ? std::string("''") : std::string(1, c);
            }
            return quoted + "'";
        };
        db_.Run(
            ("CREATE OR REPLACE FUNCTION collector_fold(t text) RETURNS text LANGUAGE sql "
             "IMMUTABLE STRICT PARALLEL SAFE AS $f$ SELECT translate(t, " +
             literal(from) + ", " + literal(to) + ") $f$"));
        db_.Run("DROP INDEX IF EXISTS ix_member_grams");
        db_.Run(
            ("CREATE INDEX IF NOT EXISTS ix_member_grams_f ON T_MEMBER_CHINA USING gin "
             "(collector_grams(" +
             std::string(kSearchedText) + "))"));
        db_.Run("DROP INDEX IF EXISTS ux_member_search_company");
        // A text a page supplies may be of any length, and a btree entry holds about 2,700
        // bytes: a unique key is indexed by its digest, a look-up by a prefix, and the whole
        // text compared after the index found it. (Indexes of whole texts go.)
        db_.Run(
            "CREATE OR REPLACE FUNCTION collector_digest(t text) RETURNS bytea LANGUAGE sql "
            "IMMUTABLE STRICT PARALLEL SAFE AS $$ SELECT sha256(convert_to(t, 'UTF8')) $$");
        db_.Run("DROP INDEX IF EXISTS ix_member_contact");
        db_.Run("DROP INDEX IF EXISTS ix_member_namekey");
        db_.Run("DROP INDEX IF EXISTS ux_member_entry");
        db_.Run("DROP INDEX IF EXISTS ix_member_entry_c");
        db_.Run(
            "CREATE INDEX IF NOT EXISTS ix_member_contact_p ON T_MEMBER_CHINA "
            "(left(contact, 300))");
        db_.Run(
            "CREATE INDEX IF NOT EXISTS ix_member_namekey_p ON T_MEMBER_CHINA "
            "(left(namekey, 300), left(region, 300))");
        // One row per listing entry, whichever collector stores it.
        db_.Run(
            "CREATE UNIQUE INDEX IF NOT EXISTS ux_member_entry_d ON T_MEMBER_CHINA "
            "(collector_digest(entrykey)) WHERE entrykey <> ''");
        // The entries of one page, read as a range of bytes (EntriesFrom).
        db_.Run(
            "CREATE INDEX IF NOT EXISTS ix_member_entry_p ON T_MEMBER_CHINA "
            "((left(entrykey, 300) COLLATE \"C\")) WHERE entrykey <> ''");
        db_.Run(
            "CREATE TABLE IF NOT EXISTS T_FAILURE ("
            "id BIGSERIAL PRIMARY KEY, kind TEXT NOT NULL, page INTEGER DEFAULT 0, "
            "address TEXT NOT NULL, title TEXT DEFAULT '', condition TEXT DEFAULT '', "
            "reason TEXT DEFAULT '', tries INTEGER DEFAULT 0, rowid_kept BIGINT DEFAULT 0, "
            "time TEXT DEFAULT '')");
        db_.Run("ALTER TABLE T_FAILURE DROP CONSTRAINT IF EXISTS t_failure_kind_address_title_key");
        // A failed contact page is kept once per row that waits for it (a company listed twice,
        // each entry a row of its own, waits on two rows).
        db_.Run("DROP INDEX IF EXISTS ux_failure_d");
        db_.Run(
            "CREATE UNIQUE INDEX IF NOT EXISTS ux_failure_r ON T_FAILURE "
            "(kind, collector_digest(address), collector_digest(title), rowid_kept)");
        // A setting's name and a search's industry and region are unique by their digests.
        db_.Run("CREATE TABLE IF NOT EXISTS T_CONFIG (itemname TEXT NOT NULL, itemdata TEXT)");
        db_.Run("ALTER TABLE T_CONFIG DROP CONSTRAINT IF EXISTS t_config_pkey");
        db_.Run(
            "CREATE UNIQUE INDEX IF NOT EXISTS ux_config_d ON T_CONFIG "
            "(collector_digest(itemname))");
        db_.Run(
            "INSERT INTO T_CONFIG (itemname, itemdata) VALUES ('lastpageindex', '1') "
            "ON CONFLICT DO NOTHING");
        db_.Run(
            "CREATE TABLE IF NOT EXISTS T_SEARCH (id BIGSERIAL PRIMARY KEY, industry TEXT NOT "
            "NULL, region TEXT NOT NULL, pages INTEGER DEFAULT 0)");
        db_.Run("ALTER TABLE T_SEARCH DROP CONSTRAINT IF EXISTS t_search_industry_region_key");
        // The search's walks: a round ends when every page of it is done or kept.
        db_.Run("ALTER TABLE T_SEARCH ADD COLUMN IF NOT EXISTS round INTEGER DEFAULT 1");
        db_.Run(
            "CREATE UNIQUE INDEX IF NOT EXISTS ux_search_d ON T_SEARCH "
            "(collector_digest(industry), collector_digest(region))");
        db_.Run(
            "CREATE TABLE IF NOT EXISTS T_PAGE (search BIGINT NOT NULL, page INTEGER NOT NULL, "
            "done BOOLEAN DEFAULT false, lease_until TIMESTAMPTZ, owner TEXT DEFAULT '', "
            "PRIMARY KEY (search, page))");
        // A page kept as a failure is neither done nor to be claimed again in the same run; a
        // kept failure is claimed by the one retry that fetches it.
        db_.Run("ALTER TABLE T_PAGE ADD COLUMN IF NOT EXISTS failed BOOLEAN DEFAULT false");
        db_.Run("ALTER TABLE T_FAILURE ADD COLUMN IF NOT EXISTS claim TEXT DEFAULT ''");
        db_.Run("ALTER TABLE T_FAILURE ADD COLUMN IF NOT EXISTS claim_until TIMESTAMPTZ");
        db_.Run("ALTER TABLE T_FAILURE ADD COLUMN IF NOT EXISTS status INTEGER DEFAULT 0");
        // The collectors at work on shared searches, each seen lately (made last: its presence
        // says the whole schema is in place).
        db_.Run(
            "CREATE TABLE IF NOT EXISTS T_COLLECTOR (token TEXT PRIMARY KEY, seen TIMESTAMPTZ)");
    });
}

std::string PgRecordStore::TextCondition(const std::string& folded, SqlBinder& bind) {
    const std::string place = bind(folded);
    std::string sql = std::string("strpos(") + kSearchedText + ", " + place + ") > 0";
    if (text::CharCount(folded) >= 2) {
        // Looked up by its pairs in the GIN index first.
        sql = std::string("collector_grams(") + kSearchedText + ") @> collector_grams(" + place +
              ") AND " + sql;
    }
    return sql;
}

int PgRecordStore::CloseBrokenRuns() {
    // A live run on another machine renews itself every few seconds: never closed here.
    return CloseRunsWhere("(seen IS NULL OR seen < " +
                          sql_.Later(std::to_string(-kRunLapseSeconds)) + ")");
}

std::string PgRecordStore::WriteGuard(SqlBinder& bind) {
    // The search's row is held (FOR KEY SHARE: a registration may still raise its pages) until
    // the write commits: a clear deletes it first, so it waits for the writes under way, and
    // the writes after it find no search.
    if (search_ == 0) {
        return {};
    }
    return "EXISTS (SELECT 1 FROM T_SEARCH WHERE id=" + bind(search_) + " FOR KEY SHARE)";
}

void PgRecordStore::WriteRefused() {
    if (!SearchExists(search_)) {
        throw StoreError(kSearchCleared);
    }
}

namespace {

// A mark made for round ?3 (0: whichever) holds only while the search is in that round.
constexpr const char* kOfRound = "?3::int IN (0, (SELECT round FROM T_SEARCH WHERE id=?1))";

}  // namespace

void PgRecordStore::ClearFirst() {
    // The shared searches go first (their records with them): a collector writing a row of one
    // holds it until that row commits, and the rows are deleted after.
    db_.Run("DELETE FROM T_SEARCH");
    db_.Run("DELETE FROM T_PAGE");
}

std::int64_t PgRecordStore::RegisterSearch(const std::string& industry, const std::string& region,
                                           int pages) {
    // A page count a broken result page claims must not fill the table with millions of rows,
    // and a search cut short would be walked in part and called done: refused up front.
    if (pages > kMaxSharedPages) {
        throw StoreError("这次搜索有 " + std::to_string(pages) + " 页，共享搜索最多登记 " +
                         std::to_string(kMaxSharedPages) + " 页：请缩小搜索条件");
    }
    pages = std::max(pages, 1);
    std::int64_t id = 0;
    db_.Transaction(SqlTransaction::Write, [&] {
        // The search's row is locked first: of two collectors arriving together at a finished
        // round, one opens the next and the other joins it.
        db_.Run(
            "INSERT INTO T_SEARCH (industry, region, pages) VALUES (?1, ?2, ?3) "
            "ON CONFLICT (collector_digest(industry), collector_digest(region)) DO NOTHING",
            {Utf8(industry), Utf8(region), pages});
        id = text::LeadingLong(db_.One(
            "SELECT id FROM T_SEARCH WHERE collector_digest(industry) = collector_digest(?1) "
            "AND collector_digest(region) = collector_digest(?2) AND industry = ?1 AND "
            "region = ?2 FOR UPDATE",
            {Utf8(industry), Utf8(region)}));
        if (id == 0) {
            throw StoreError(kSearchCleared);  // removed between the two statements
        }
        // Every page done or kept (no claim can be live then): the round is finished, and this
        // collect opens the next with the pages its pre-collect counted.
        if (!db_.Exists("SELECT 1 FROM T_PAGE WHERE search=?1 AND NOT done AND NOT failed", {id}) &&
            db_.Exists("SELECT 1 FROM T_PAGE WHERE search=?1", {id})) {
            // As many pages as the last round had, or more: a walk told to stop early (--last)
            // never shrinks the round; a search that shrank ends at its first empty page.
            db_.Run(
                "UPDATE T_SEARCH SET round = round + 1, pages = greatest(pages, ?2) WHERE id=?1",
                {id, pages});
            pages = std::max(
                pages, text::LeadingInt(db_.One("SELECT pages FROM T_SEARCH WHERE id=?1", {id})));
            db_.Run("DELETE FROM T_PAGE WHERE search=?1", {id});
        } else {
            db_.Run("UPDATE T_SEARCH SET pages = greatest(pages, ?2) WHERE id=?1", {id, pages});
        }
        db_.Run(
            "INSERT INTO T_PAGE (search, page) SELECT ?1, generate_series(1, ?2::int) "
            "ON CONFLICT DO NOTHING",
            {id, pages});
    });
    search_ = id;
    return id;
}

std::optional<ISharedPages::Claim> PgRecordStore::ClaimPage(std::int64_t search, int first,
                                                            int last, std::chrono::seconds lease) {
    // Locked rows are passed over, so two collectors never wait for nor take the same page;
    // the claim is committed at once: no transaction stays open while the page is walked.
    // Each claim gets a token of its own, so a collector whose lease ran out cannot renew or
    // give back the claim of the one that took the page over.
    std::optional<Claim> claim;
    db_.Run(
        "UPDATE T_PAGE SET lease_until = now() + make_interval(secs => ?4::int), "
        "owner = md5(random()::text || clock_timestamp()::text || pg_backend_pid()::text) "
        "WHERE (search, page) = (SELECT search, page FROM T_PAGE WHERE search=?1 AND page "
        "BETWEEN ?2 AND ?3 AND NOT done AND NOT failed AND (lease_until IS NULL OR "
        "lease_until < now()) ORDER BY page LIMIT 1 FOR UPDATE SKIP LOCKED) RETURNING page, "
        "owner",
        {search, first, last, static_cast<std::int64_t>(lease.count())}, [&](const SqlRow& row) {
            claim = Claim{static_cast<int>(row.Int(0)), std::string(row.Text(1))};
        });
    return claim;
}

bool PgRecordStore::RenewLease(std::int64_t search, const Claim& claim,
                               std::chrono::seconds lease) {
    return db_.Run(
               "UPDATE T_PAGE SET lease_until = now() + make_interval(secs => ?4::int) "
               "WHERE search=?1 AND page=?2 AND owner=?3 AND NOT done",
               {search, claim.page, claim.token, static_cast<std::int64_t>(lease.count())}) > 0;
}

void PgRecordStore::MarkPageDone(std::int64_t search, int page, int round) {
    db_.Transaction(SqlTransaction::Write, [&] {
        db_.Run(std::string("UPDATE T_PAGE SET done = true, failed = false, lease_until = NULL "
                            "WHERE search=?1 AND page=?2 AND ") +
                    kOfRound,
                {search, page, round});
        // 'lastpageindex' keeps the highest page done.
        db_.Run(
            "INSERT INTO T_CONFIG (itemname, itemdata) VALUES ('lastpageindex', ?1) "
            "ON CONFLICT (collector_digest(itemname)) DO UPDATE SET itemdata = CASE WHEN "
            "T_CONFIG.itemdata !~ '^[0-9]{1,9}$' THEN excluded.itemdata WHEN "
            "T_CONFIG.itemdata::int >= excluded.itemdata::int THEN T_CONFIG.itemdata ELSE "
            "excluded.itemdata END",
            {std::to_string(page)});
    });
}

void PgRecordStore::EndSearchAt(std::int64_t search, int page, int round) {
    db_.Run(std::string("UPDATE T_PAGE SET done = true, failed = false, lease_until = NULL WHERE "
                        "search=?1 AND page>?2 AND ") +
                kOfRound,
            {search, page, round});
}

void PgRecordStore::ReleasePage(std::int64_t search, const Claim& claim) {
    db_.Run(
        "UPDATE T_PAGE SET lease_until = NULL WHERE search=?1 AND page=?2 AND owner=?3 AND "
        "NOT done",
        {search, claim.page, claim.token});
}

int PgRecordStore::PagesLeft(std::int64_t search, int first, int last) {
    return text::LeadingInt(
        db_.One("SELECT count(*) FROM T_PAGE WHERE search=?1 AND page BETWEEN ?2 AND ?3 AND NOT "
                "done AND NOT failed",
                {search, first, last}));
}

int PgRecordStore::PagesDone(std::int64_t search) {
    return text::LeadingInt(
        db_.One("SELECT count(*) FROM T_PAGE WHERE search=?1 AND done", {search}));
}

void PgRecordStore::MarkPageFailed(std::int64_t search, int page, int round) {
    db_.Run(std::string("UPDATE T_PAGE SET failed = true, lease_until = NULL WHERE search=?1 AND "
                        "page=?2 AND NOT done AND ") +
                kOfRound,
            {search, page, round});
}

void PgRecordStore::RetryFailedPages(std::int64_t search) {
    db_.Run("UPDATE T_PAGE SET failed = false WHERE search=?1 AND failed", {search});
}

int PgRecordStore::SearchRound(std::int64_t search) {
    return std::max(1,
                    text::LeadingInt(db_.One("SELECT round FROM T_SEARCH WHERE id=?1", {search})));
}

std::optional<SearchWalk> PgRecordStore::RoundOf(const std::string& industry,
                                                 const std::string& region) {
    std::optional<SearchWalk> walk;
    db_.Run(
        "SELECT s.round, count(*) FILTER (WHERE p.done), min(p.page) FILTER (WHERE NOT p.done "
        "AND NOT p.failed) FROM T_SEARCH s JOIN T_PAGE p ON p.search = s.id WHERE "
        "collector_digest(s.industry) = collector_digest(?1) AND collector_digest(s.region) = "
        "collector_digest(?2) AND s.industry = ?1 AND s.region = ?2 GROUP BY s.round",
        {Utf8(industry), Utf8(region)}, [&](const SqlRow& row) {
            SearchWalk w;
            w.round = std::max<int>(1, static_cast<int>(row.Int(0)));
            w.finished = row.Text(2).empty();  // no page left
            w.page = w.finished ? 1 : row.Int(1) == 0 ? 0 : static_cast<int>(row.Int(2));
            walk = w;
        });
    return walk;
}

bool PgRecordStore::SearchExists(std::int64_t search) {
    return db_.Exists("SELECT 1 FROM T_SEARCH WHERE id=?1", {search});
}

std::string PgRecordStore::Register() {
    return db_.One(
        "INSERT INTO T_COLLECTOR (token, seen) VALUES (md5(random()::text || "
        "clock_timestamp()::text || pg_backend_pid()::text), now()) RETURNING token");
}

void PgRecordStore::Heartbeat(const std::string& token, std::chrono::seconds ahead) {
    db_.Run(
        "INSERT INTO T_COLLECTOR (token, seen) VALUES (?1, now() + make_interval(secs => "
        "?2::int)) ON CONFLICT (token) DO UPDATE SET seen = excluded.seen",
        {token, static_cast<std::int64_t>(ahead.count())});
}

void PgRecordStore::Unregister(const std::string& token) {
    db_.Run("DELETE FROM T_COLLECTOR WHERE token=?1 OR seen < now() - interval '1 day'", {token});
}

int PgRecordStore::WorkingCollectors(std::chrono::seconds fresh) {
    return text::LeadingInt(
        db_.One("SELECT count(*) FROM T_COLLECTOR WHERE seen > now() - make_interval(secs => "
                "?1::int)",
                {static_cast<std::int64_t>(fresh.count())}));
}

}  // namespace store
