#include "store/SqlRecordStore.h"

#include <algorithm>
#include <ctime>
#include <utility>

#include "platform/MachineName.h"
#include "store/StoreClock.h"
#include "text/GbkCodec.h"
#include "text/Grams.h"
#include "text/Normalise.h"
#include "text/Number.h"

namespace store {

namespace {

constexpr const char* kColumns = "title, person, sex, job, mobile, phone, fax, address, zip";
// Whether row m stands for a contact page kept as a failure.
constexpr const char* kWaiting =
    "EXISTS (SELECT 1 FROM T_FAILURE f WHERE f.rowid_kept=m.id AND f.kind='contact')";
// Why row m waits for its contact page ('' when it does not).
constexpr const char* kWaitingReason =
    "COALESCE((SELECT f.reason FROM T_FAILURE f WHERE f.rowid_kept=m.id AND f.kind='contact' "
    "LIMIT 1), '')";
// Whether row m holds a contact field (a person, a number or an address; a sex or a title alone
// reaches no one): a row kept for a failed contact page, or one whose page answered without
// details (404, 410), has only its company's name.
constexpr const char* kHasContact =
    "(m.person<>'' OR m.mobile<>'' OR m.phone<>'' OR m.fax<>'' OR m.address<>'' OR "
    "m.zip<>'')";

// A row as the program holds it: the nine texts, then (when asked for) its contact page and
// whether it waits for it.
MemberRecord ReadRecord(const SqlRow& row) {
    MemberRecord r;
    auto fields = r.Fields();
    for (int i = 0; i < MemberRecord::kFieldCount; ++i) {
        *fields[i] = row.Gbk(i);
    }
    if (row.Columns() > MemberRecord::kFieldCount) {
        r.contact = row.Gbk(MemberRecord::kFieldCount);
    }
    if (row.Columns() > MemberRecord::kFieldCount + 1) {
        r.waiting = row.Bool(MemberRecord::kFieldCount + 1);
    }
    return r;
}

IRecordStore::Utf8Row Utf8RowOf(const MemberRecord& record) {
    IRecordStore::Utf8Row row;
    auto fields = record.Fields();
    for (int i = 0; i < MemberRecord::kFieldCount; ++i) {
        row[i] = text::GbkToUtf8(*fields[i]);
    }
    return row;
}

std::string Utf8(const std::string& gbk) {
    return text::GbkToUtf8(gbk);
}

// The row's person, numbers, address or postal code (as MemberRecord::HasContactField).
bool HasContactField(const IRecordStore::Utf8Row& row) {
    for (int i : {1, 4, 5, 6, 7, 8}) {
        if (!row[i].empty()) {
            return true;
        }
    }
    return false;
}

constexpr const char* kOriginCrawl = "crawl";
constexpr const char* kOriginImport = "import";

}  // namespace

// The end of the last finished walk of row `m`'s search that ended before the search's newest
// walk began ('' when there is none: every row of the search is new then).
std::string SqlRecordStore::LastWalkEnd(const std::string& m) const {
    const std::string c = sql_.Bytewise();
    return "COALESCE((SELECT max(r.ended" + c + ") FROM T_RUN r WHERE r.industry=" + m +
           ".industry AND r.region=" + m + ".region AND r.finished=1 AND r.ended<>'' AND r.ended" +
           c + " < (SELECT max(s.started" + c + ") FROM T_RUN s WHERE s.industry=" + m +
           ".industry AND s.region=" + m + ".region)), '')";
}

bool IdentifiesCompany(std::string_view contact) {
    return !contact.empty() && contact.back() != '/';
}

SqlRecordStore::SqlRecordStore(std::unique_ptr<ISqlConnection> db, const SqlDialect& sql)
    : db_(*db), sql_(sql), owned_(std::move(db)) {}

int SqlRecordStore::LoadLastPageIndex() {
    const std::optional<std::string> value = LoadSetting("lastpageindex");
    return value ? text::LeadingInt(*value) : 1;
}

void SqlRecordStore::SaveLastPageIndex(int page) {
    SaveSetting("lastpageindex", std::to_string(page));
}

std::optional<std::string> SqlRecordStore::LoadSetting(const std::string& name) {
    bool found = false;
    std::string value =
        db_.One("SELECT itemdata FROM T_CONFIG WHERE " + sql_.DigestEquals("itemname", "?1"),
                {name}, &found);
    return found ? std::optional<std::string>(std::move(value)) : std::nullopt;
}

void SqlRecordStore::SaveSetting(const std::string& name, const std::string& value) {
    db_.Run("INSERT INTO T_CONFIG (itemname, itemdata) VALUES (?1, ?2) ON CONFLICT (" +
                sql_.Digest("itemname") + ") DO UPDATE SET itemdata=excluded.itemdata",
            {name, value});
}

std::vector<std::pair<std::string, std::string>> SqlRecordStore::SettingsNamed(
    const std::string& prefix) {
    std::vector<std::pair<std::string, std::string>> found;
    // Compared byte for byte: a prefix is never a pattern.
    db_.Run("SELECT itemname, itemdata FROM T_CONFIG WHERE substr(itemname, 1, " +
                std::to_string(prefix.size()) + ")" + sql_.Bytewise() + "=?1 ORDER BY itemname" +
                sql_.Bytewise(),
            {prefix}, [&](const SqlRow& row) {
                found.emplace_back(std::string(row.Text(0)), std::string(row.Text(1)));
            });
    return found;
}

bool SqlRecordStore::RemoveSetting(const std::string& name) {
    return db_.Run("DELETE FROM T_CONFIG WHERE " + sql_.DigestEquals("itemname", "?1"), {name}) > 0;
}

std::int64_t SqlRecordStore::AppendMemberRecord(const MemberRecord& record) {
    BeforeWrite();
    return AppendRow(record);
}

std::int64_t SqlRecordStore::AppendRow(const MemberRecord& record) {
    return AppendUtf8Row(Utf8RowOf(record), Utf8(record.contact), Utf8(record.industry),
                         Utf8(record.region), record.entry, Origin::Crawl);
}

std::int64_t SqlRecordStore::AppendUtf8Row(const Utf8Row& row, const std::string& contact,
                                           const std::string& industry, const std::string& region,
                                           const std::string& entry, Origin origin) {
    // A row of an entry that is stored already is not appended again (its id is then 0). It
    // keeps the time it was first stored and the time it became complete (now, when it holds a
    // contact field), by the collector's clock as the exports' "today" counts them, whatever
    // the database server's zone: filling it in later does not change the first.
    const std::string now = StoreDateTime();
    const bool complete = origin == Origin::Crawl && HasContactField(row);
    SqlBinder bind;
    for (const std::string* value : {&row[0], &row[1], &row[2], &row[3], &row[4], &row[5], &row[6],
                                     &row[7], &row[8], &contact}) {
        bind(*value);
    }
    bind(text::NormaliseName(row[0]));
    bind(region);
    bind(entry);
    bind(industry);
    bind(now);
    bind(std::string(origin == Origin::Crawl ? kOriginCrawl : kOriginImport));
    bind(complete ? now : std::string());
    const std::string guard = WriteGuard(bind);
    // The crawl's hot path: without a guard the plain VALUES form, planned fastest. (A SELECT
    // of an upsert needs a WHERE of its own on SQLite.)
    static const std::string head =
        std::string("INSERT INTO T_MEMBER_CHINA (") + kColumns +
        ", contact, namekey, region, entrykey, industry, collected, origin, completed) ";
    static const std::string values = "?1,?2,?3,?4,?5,?6,?7,?8,?9,?10,?11,?12,?13,?14,?15,?16,?17";
    static const std::string plain =
        head + "VALUES (" + values + ") ON CONFLICT DO NOTHING RETURNING id";
    const std::string sql = guard.empty() ? plain
                                          : head + "SELECT " + values + " WHERE " + guard +
                                                " ON CONFLICT DO NOTHING RETURNING id";
    const std::int64_t id = text::LeadingLong(db_.One(sql, bind.params));
    if (id == 0 && !guard.empty()) {
        WriteRefused();
    }
    return id;
}

void SqlRecordStore::HoldWrites() {
    SqlBinder bind;
    const std::string guard = WriteGuard(bind);
    if (!guard.empty() && !db_.Exists("SELECT 1 WHERE " + guard, bind.params)) {
        WriteRefused();
    }
}

IRecordWriter::EntryWrite SqlRecordStore::AppendEntry(const MemberRecord& record) {
    BeforeWrite();
    EntryWrite w;
    // Most entries are new: the insert alone is atomic and commits on its own.
    w.rowId = AppendRow(record);
    if (w.rowId != 0) {
        return w;
    }
    db_.Transaction(SqlTransaction::Write, [&] {
        // The entry has a row: filled when it waits for its contact page, else left alone.
        // The rows are locked, so two collectors never both fill it.
        HoldWrites();
        std::int64_t failure = 0;
        std::int64_t rowId = 0;
        db_.Run(
            "SELECT f.id, m.id FROM T_MEMBER_CHINA m JOIN T_FAILURE f ON f.rowid_kept = m.id "
            "AND f.kind = 'contact' WHERE " +
                sql_.DigestEquals("m.entrykey", "?1") + " AND m.entrykey <> '' LIMIT 1" +
                sql_.ForUpdate("m, f"),
            {record.entry}, [&](const SqlRow& row) {
                failure = row.Int(0);
                rowId = row.Int(1);
            });
        // Another collector that filled it first took the failure away: nothing to do then.
        if (failure == 0 || db_.Run("DELETE FROM T_FAILURE WHERE id=?1", {failure}) == 0) {
            return;
        }
        w.healedFailure = failure;
        w.rowId = rowId;
        FillRow(rowId, record);
    });
    return w;
}

bool SqlRecordStore::FillRow(std::int64_t rowId, const MemberRecord& record) {
    // Called inside a transaction: the row's index entry, when it has one, is replaced with it.
    std::optional<Utf8Row> before;
    if (RowIndexed(rowId)) {
        db_.Run(std::string("SELECT ") + kColumns + " FROM T_MEMBER_CHINA WHERE id=?1", {rowId},
                [&](const SqlRow& row) {
                    before.emplace();
                    for (int i = 0; i < MemberRecord::kFieldCount; ++i) {
                        (*before)[i] = std::string(row.Text(i));
                    }
                });
        if (!before) {
            return false;
        }
    }
    const Utf8Row row = Utf8RowOf(record);
    // A row filled with a contact field becomes complete now (a company whose details arrive
    // by a retry is a new lead on that day); one that was complete keeps its time.
    const std::string completed = HasContactField(row) ? StoreDateTime() : std::string();
    if (db_.Run("UPDATE T_MEMBER_CHINA SET person=?1, sex=?2, job=?3, mobile=?4, phone=?5, "
                "fax=?6, address=?7, zip=?8, completed=CASE WHEN completed='' THEN ?10 ELSE "
                "completed END WHERE id=?9",
                {row[1], row[2], row[3], row[4], row[5], row[6], row[7], row[8], rowId,
                 completed}) == 0) {
        return false;
    }
    if (before) {
        Utf8Row after = row;
        after[0] = (*before)[0];  // the company name stays
        ReindexRow(rowId, *before, after);
    }
    return true;
}

std::int64_t SqlRecordStore::RowOfEntry(const std::string& entry) {
    if (entry.empty()) {
        return 0;
    }
    // Found by the index, then compared whole; "entrykey <> ''" matches the partial index
    // (a bound value alone does not tell the planner the key is not empty).
    return text::LeadingLong(db_.One("SELECT id FROM T_MEMBER_CHINA WHERE " +
                                         sql_.DigestEquals("entrykey", "?1") +
                                         " AND entrykey <> ''",
                                     {entry}));
}

bool SqlRecordStore::HasEntry(const std::string& entry) {
    return RowOfEntry(entry) != 0;
}

std::set<std::string> SqlRecordStore::EntriesFrom(const std::string& prefix) {
    // A range of the entry index: every key that begins with the prefix sorts between it and
    // the prefix with its last byte raised by one, compared bytewise. The range of their
    // index prefixes (which holds it: cutting keeps the order) is what the index answers.
    std::string end = prefix;
    if (!end.empty()) {
        end.back() = static_cast<char>(end.back() + 1);
    }
    const std::string key = sql_.Prefix("entrykey") + sql_.Bytewise();
    const std::string c = sql_.Bytewise();
    std::set<std::string> keys;
    db_.Run("SELECT entrykey FROM T_MEMBER_CHINA WHERE " + key + " >= " + sql_.Prefix("?1") +
                " AND " + key + " <= " + sql_.Prefix("?2") + " AND entrykey" + c +
                " >= ?1 AND entrykey" + c + " < ?2 AND entrykey <> ''",
            {prefix, end}, [&](const SqlRow& row) { keys.insert(std::string(row.Text(0))); });
    return keys;
}

bool SqlRecordStore::HasUnkeyedContact(const std::string& address, const std::string& title,
                                       const std::string& region) {
    if (address.empty()) {
        return false;
    }
    std::string sql = "SELECT 1 FROM T_MEMBER_CHINA WHERE " + sql_.PrefixEquals("contact", "?1") +
                      " AND entrykey='' AND region IN (?2, '')";
    SqlParams params{Utf8(address), Utf8(region)};
    if (!IdentifiesCompany(address)) {
        sql += " AND title=?3";
        params.emplace_back(Utf8(title));
    }
    return db_.Exists(sql + " LIMIT 1", params);
}

bool SqlRecordStore::HasContact(const std::string& address, const std::string& title) {
    if (address.empty()) {
        return false;
    }
    std::string sql = "SELECT 1 FROM T_MEMBER_CHINA WHERE " + sql_.PrefixEquals("contact", "?1");
    SqlParams params{Utf8(address)};
    // An address that names no company of its own is only the same row with the same name.
    if (!IdentifiesCompany(address) || !title.empty()) {
        sql += " AND title=?2";
        params.emplace_back(Utf8(title));
    }
    return db_.Exists(sql + " LIMIT 1", params);
}

bool SqlRecordStore::IsKnownCompany(const std::string& contact, const std::string& name,
                                    const std::string& region) {
    if (IdentifiesCompany(contact) && HasContact(contact, std::string())) {
        return true;
    }
    const std::string key = text::NormaliseName(Utf8(name));
    if (key.empty()) {
        return false;
    }
    // A row that knows no region (imported, or stored before regions were kept) matches any.
    return db_.Exists("SELECT 1 FROM T_MEMBER_CHINA WHERE " + sql_.PrefixEquals("namekey", "?1") +
                          " AND " + sql_.Prefix("region") + " IN (" + sql_.Prefix("?2") +
                          ", '') AND region IN (?2, '') LIMIT 1",
                      {key, Utf8(region)});
}

IRecordStore::ImportCount SqlRecordStore::ImportRows(const std::function<bool(Utf8Row&)>& next,
                                                     bool skipKnown) {
    BeforeWrite();
    ImportCount count;
    const std::string known =
        "SELECT 1 FROM T_MEMBER_CHINA WHERE " + sql_.PrefixEquals("namekey", "?1") + " LIMIT 1";
    db_.Transaction(SqlTransaction::Write, [&] {
        Utf8Row row;
        while (next(row)) {
            if (skipKnown) {
                const std::string key = text::NormaliseName(row[0]);
                if (!key.empty() && db_.Exists(known, {key})) {
                    ++count.skipped;
                    continue;
                }
            }
            AppendUtf8Row(row, std::string(), std::string(), std::string(), std::string(),
                          Origin::Import);
            ++count.imported;
        }
    });
    return count;
}

std::int64_t SqlRecordStore::FillMemberRecord(std::int64_t rowId, const MemberRecord& record,
                                              std::int64_t failureId) {
    BeforeWrite();
    std::int64_t filled = rowId;
    db_.Transaction(SqlTransaction::Write, [&] {
        HoldWrites();
        // A failure that is gone was healed by another collector, or cleared with its row:
        // nothing is written then (a clear is not undone).
        if (failureId != 0 && db_.Run("DELETE FROM T_FAILURE WHERE id=?1", {failureId}) == 0) {
            filled = 0;
            return;
        }
        if (!FillRow(rowId, record)) {
            filled = AppendRow(record);  // the row was removed meanwhile: the company stays
        }
    });
    return filled;
}

std::int64_t SqlRecordStore::KeepFailure(KeptFailure& f, const MemberRecord* placeholder) {
    BeforeWrite();
    db_.Transaction(SqlTransaction::Write, [&] {
        HoldWrites();
        if (placeholder != nullptr) {
            f.rowId = AppendRow(*placeholder);
            if (f.rowId == 0) {
                f.rowId = RowOfEntry(placeholder->entry);  // the entry's row is stored already
            }
        }
        // Kept once per page, and a contact page once per row waiting for it; kept again, its
        // claim goes.
        db_.Run(
            "INSERT INTO T_FAILURE (kind, page, address, title, condition, reason, tries, "
            "rowid_kept, time, status) VALUES (?1,?2,?3,?4,?5,?6,?7,?8,?9,?10) "
            "ON CONFLICT (kind, " +
                sql_.Digest("address") + ", " + sql_.Digest("title") +
                ", rowid_kept) DO UPDATE SET reason=excluded.reason, tries=excluded.tries, "
                "time=excluded.time, page=excluded.page, claim='', claim_until=NULL, "
                "status=excluded.status RETURNING id, rowid_kept",
            {KindName(f.kind), f.page, Utf8(f.address), Utf8(f.title), Utf8(f.condition), f.reason,
             f.tries, f.rowId,
             // The collector's local time, as a row's 采集时间: not the server's zone.
             StoreDateTime(), f.status},
            [&](const SqlRow& row) {
                f.id = row.Int(0);
                f.rowId = row.Int(1);
            });
    });
    return f.id;
}

std::int64_t SqlRecordStore::DropFailureAt(KeptFailure::Kind kind, const std::string& address) {
    BeforeWrite();
    return text::LeadingLong(
        db_.One("DELETE FROM T_FAILURE WHERE id = (SELECT id FROM T_FAILURE WHERE kind=?1 AND " +
                    sql_.DigestEquals("address", "?2") + " ORDER BY id LIMIT 1) RETURNING id",
                {KindName(kind), Utf8(address)}));
}

std::optional<std::string> SqlRecordStore::ClaimFailure(std::int64_t id, std::chrono::seconds lease,
                                                        const std::string& run) {
    // On the store's one clock: collectors on other machines compare the claims.
    bool claimed = false;
    db_.One("UPDATE T_FAILURE SET claim=?1, claim_until=" + sql_.Later("?2") +
                " WHERE id=?3 AND (claim_until IS NULL OR claim_until < " + sql_.Now() +
                " OR claim=?1) RETURNING claim",
            {run, static_cast<std::int64_t>(lease.count()), id}, &claimed);
    return claimed ? std::optional<std::string>(run) : std::nullopt;
}

void SqlRecordStore::ReleaseFailure(std::int64_t id, const std::string& token) {
    db_.Run("UPDATE T_FAILURE SET claim='', claim_until=NULL WHERE id=?1 AND claim=?2",
            {id, token});
}

std::vector<KeptFailure> SqlRecordStore::KeptFailures() {
    std::vector<KeptFailure> out;
    db_.Run(
        "SELECT id, kind, page, address, title, condition, reason, tries, rowid_kept, time, "
        "status, COALESCE((SELECT m.entrykey FROM T_MEMBER_CHINA m WHERE m.id = "
        "T_FAILURE.rowid_kept), '') FROM T_FAILURE ORDER BY id",
        {}, [&](const SqlRow& row) {
            KeptFailure f;
            f.id = row.Int(0);
            f.kind = row.Text(1) == "page" ? KeptFailure::Kind::ResultPage
                                           : KeptFailure::Kind::ContactPage;
            f.page = static_cast<int>(row.Int(2));
            f.address = row.Gbk(3);
            f.title = row.Gbk(4);
            f.condition = row.Gbk(5);
            f.reason = std::string(row.Text(6));
            f.tries = static_cast<int>(row.Int(7));
            f.rowId = row.Int(8);
            f.time = std::string(row.Text(9));
            f.status = static_cast<int>(row.Int(10));
            f.entry = std::string(row.Text(11));
            out.push_back(std::move(f));
        });
    return out;
}

std::int64_t SqlRecordStore::CountKeptFailures() {
    return text::LeadingLong(db_.One("SELECT count(*) FROM T_FAILURE"));
}

std::int64_t SqlRecordStore::BeginRunRecord(const RunRecord& run) {
    BeforeWrite();
    CloseBrokenRuns();
    std::int64_t id = 0;
    try {
        db_.Transaction(SqlTransaction::Write, [&] {
            id = text::LeadingLong(db_.One(
                "INSERT INTO T_RUN (industry, region, started, ended, how, outcome, host, seen) "
                "VALUES (?1, ?2, ?3, '', ?4, ?5, ?6, " +
                    sql_.Now() + ") RETURNING id",
                {run.industry, run.region, run.started.empty() ? StoreDateTime() : run.started,
                 run.how, std::string(kRunOngoing),
                 run.host.empty() ? platform::MachineName() : run.host}));
            RunBegins(id);
        });
    } catch (...) {
        RunEnds();
        throw;
    }
    return id;
}

void SqlRecordStore::EndRunRecord(const RunRecord& run) {
    // Its collector is no longer at work, whatever the write does.
    struct Ends {
        SqlRecordStore* store;
        ~Ends() { store->RunEnds(); }
    } ends{this};
    db_.Run(
        "UPDATE T_RUN SET ended=?1, stored=?2, newrows=?3, kept=?4, outcome=?5, finished=?6 "
        "WHERE id=?7",
        {run.ended.empty() ? StoreDateTime() : run.ended, run.stored, run.newRows, run.kept,
         run.outcome, static_cast<std::int64_t>(run.finished ? 1 : 0), run.id});
}

void SqlRecordStore::UpdateRunCounts(const RunRecord& run) {
    db_.Run("UPDATE T_RUN SET stored=?1, newrows=?2, kept=?3 WHERE id=?4",
            {run.stored, run.newRows, run.kept, run.id});
}

void SqlRecordStore::RenewRunRecord(std::int64_t id) {
    db_.Run("UPDATE T_RUN SET seen=" + sql_.Now() + " WHERE id=?1 AND ended=''", {id});
}

int SqlRecordStore::CloseRunsWhere(const std::string& condition, const SqlParams& params) {
    if (!hasRuns_ || db_.ReadOnly()) {
        return 0;
    }
    SqlParams all = params;
    all.emplace_back(StoreDateTime());
    all.emplace_back(std::string(kRunBroken));
    const std::string at = "?" + std::to_string(all.size() - 1);
    const std::string outcome = "?" + std::to_string(all.size());
    return static_cast<int>(db_.Run("UPDATE T_RUN SET ended=" + at + ", outcome=" + outcome +
                                        " WHERE ended='' AND " + condition,
                                    all));
}

std::vector<RunRecord> SqlRecordStore::Runs(int limit) {
    std::vector<RunRecord> runs;
    if (!hasRuns_) {
        return runs;
    }
    db_.Run(std::string("SELECT id, industry, region, started, ended, how, stored, newrows, kept, "
                        "outcome, finished, ") +
                (hasRunHosts_ ? "host" : "''") + " FROM T_RUN ORDER BY id DESC LIMIT ?1",
            {static_cast<std::int64_t>(std::max(1, limit))}, [&](const SqlRow& row) {
                RunRecord r;
                r.id = row.Int(0);
                r.industry = std::string(row.Text(1));
                r.region = std::string(row.Text(2));
                r.started = std::string(row.Text(3));
                r.ended = std::string(row.Text(4));
                r.how = std::string(row.Text(5));
                r.stored = row.Int(6);
                r.newRows = row.Int(7);
                r.kept = row.Int(8);
                r.outcome = std::string(row.Text(9));
                r.finished = row.Int(10) != 0;
                r.host = std::string(row.Text(11));
                runs.push_back(std::move(r));
            });
    return runs;
}

std::string SqlRecordStore::ChangeMark() {
    // Each part is read from an index or a small table: a million rows cost nothing more.
    std::string mark;
    db_.Run(std::string("SELECT (SELECT max(id) FROM T_MEMBER_CHINA), (SELECT count(*) FROM "
                        "T_FAILURE), (SELECT max(id) FROM T_FAILURE)") +
                (hasRuns_ ? ", (SELECT max(id) FROM T_RUN), (SELECT count(*) FROM T_RUN WHERE "
                            "ended<>'')"
                          : ""),
            {}, [&](const SqlRow& row) {
                for (int i = 0; i < row.Columns(); ++i) {
                    mark += std::string(row.Text(i)) + "/";
                }
            });
    return mark;
}

std::optional<MemberRecord> SqlRecordStore::NewestMemberRecord() {
    std::optional<MemberRecord> newest;
    db_.Run(std::string("SELECT ") + kColumns + " FROM T_MEMBER_CHINA ORDER BY id DESC LIMIT 1", {},
            [&](const SqlRow& row) { newest = ReadRecord(row); });
    return newest;
}

std::optional<MemberRecord> SqlRecordStore::MemberRecordById(std::int64_t id) {
    std::optional<MemberRecord> found;
    db_.Run(std::string("SELECT ") + kColumns + ", contact, " + kWaiting +
                " FROM T_MEMBER_CHINA m WHERE id=?1",
            {id}, [&](const SqlRow& row) { found = ReadRecord(row); });
    return found;
}

void SqlRecordStore::NewestMemberRecords(const std::function<void(const MemberRecord&)>& deliver) {
    // Read first, handed over after: whoever is handed them may use the store.
    std::vector<MemberRecord> records;
    db_.Run(std::string("SELECT ") + kColumns + ", contact, " + kWaiting +
                " FROM T_MEMBER_CHINA m ORDER BY id DESC LIMIT ?1",
            {kNewestLimit}, [&](const SqlRow& row) { records.push_back(ReadRecord(row)); });
    for (const MemberRecord& r : records) {
        deliver(r);
    }
}

bool SqlRecordStore::HasMemberRecords() {
    return db_.Exists("SELECT 1 FROM T_MEMBER_CHINA LIMIT 1");
}

bool SqlRecordStore::ClearMemberRecords(const std::atomic<bool>* cancel) {
    BeforeWrite();
    struct Cancelled {};
    try {
        db_.Transaction(SqlTransaction::Write, [&] {
            ClearFirst();
            db_.Run("DELETE FROM T_MEMBER_CHINA");
            db_.Run("DELETE FROM T_FAILURE");
            // Every search starts over: nothing of it is stored any more.
            db_.Run("DELETE FROM T_CONFIG WHERE itemname LIKE ?1",
                    {std::string(kSearchWalkPrefix) + "%"});
            // And so do their walks; runs under way stay on record until they end.
            if (hasRuns_) {
                db_.Run("DELETE FROM T_RUN WHERE ended<>''");
            }
            ClearAfter();
            // Later rows get higher ids: nothing else starts over.
            if (cancel != nullptr && cancel->load()) {
                throw Cancelled{};
            }
        });
    } catch (const Cancelled&) {
        return false;
    }
    return true;
}

std::string SqlRecordStore::SelectionSql(const RowSelection& selection, SqlBinder& bind) {
    // A read-only file of an older version has no search or time: its rows have none.
    const std::string industry = hasOrigin_ ? "industry" : "''";
    const std::string collected = hasOrigin_ ? "collected" : "''";
    // When a row became a lead (kLeadTime, the expression its index holds).
    const std::string leadTime = hasLeadTimes_ ? kLeadTime : collected;
    std::string where = "1=1";
    if (const std::string text = text::FoldAscii(text::TrimBlanks(selection.text)); !text.empty()) {
        where += " AND " + TextCondition(text, bind);
    }
    if (selection.industry) {
        where += " AND " + industry + "=" + bind(*selection.industry);
    }
    if (selection.region) {
        where += " AND region=" + bind(*selection.region);
    }
    // Rows older than their origin: only an import wrote a row with a time but neither
    // industry nor region.
    const std::string oldImported = "(m.industry='' AND m.region='' AND m.collected<>'')";
    const std::string imported = !hasOrigin_     ? "0=1"
                                 : hasLeadTimes_ ? "(m.origin='" + std::string(kOriginImport) +
                                                       "' OR (m.origin='' AND " + oldImported + "))"
                                                 : oldImported;
    if (!selection.since.empty()) {
        where += " AND " + leadTime + sql_.Bytewise() + ">=" + bind(selection.since) + " AND NOT " +
                 imported;
    }
    if (selection.sinceLastRun) {
        where += " AND NOT " + imported + " AND " + leadTime + sql_.Bytewise() + ">" +
                 (hasRuns_ ? LastWalkEnd("m") : std::string("''"));
    }
    if (!selection.ofRuns.empty()) {
        std::string runs;
        for (const RunRecord& run : selection.ofRuns) {
            runs += std::string(runs.empty() ? "" : " OR ") + "(" + industry + "=" +
                    bind(run.industry) + " AND region=" + bind(run.region) + " AND " + leadTime +
                    sql_.Bytewise() + ">=" + bind(run.started) + " AND " + leadTime +
                    sql_.Bytewise() + "<=" + bind(run.ended) + ")";
        }
        where += " AND NOT " + imported + " AND (" + runs + ")";
    }
    if (selection.importedOnly) {
        where += " AND " + imported;
    }
    if (selection.completeOnly) {
        where += std::string(" AND ") + kHasContact +
                 " AND id NOT IN (SELECT rowid_kept FROM T_FAILURE WHERE kind='contact')";
    }
    std::string sql = std::string("SELECT ") + kColumns + ", " + collected + ", " + industry +
                      ", region FROM T_MEMBER_CHINA m WHERE " + where;
    if (selection.unique) {
        // A company is its contact page when the row knows one, else its name and region; a
        // row with neither stands alone. Of each company the newest row is taken, passing over
        // rows still waiting for their contact page when the company has another; the same
        // filters choose the rows it is taken from (the same values, bound once).
        sql +=
            " AND id IN (SELECT coalesce(max(CASE WHEN id NOT IN (SELECT rowid_kept FROM "
            "T_FAILURE) THEN id END), max(id)) FROM T_MEMBER_CHINA m WHERE " +
            where +
            " GROUP BY CASE "
            "WHEN contact<>'' AND substr(contact, length(contact))<>'/' THEN 'c' || contact "
            "WHEN namekey<>'' THEN 'n' || namekey || '\x1f' || region "
            "ELSE 'i' || id END)";
    }
    return sql;
}

std::int64_t SqlRecordStore::CountSelectedRows(const RowSelection& selection) {
    SqlBinder bind;
    const std::string sql = "SELECT count(*) FROM (" + SelectionSql(selection, bind) + ") s";
    return text::LeadingLong(db_.One(sql, bind.params));
}

void SqlRecordStore::ForEachSelectedRow(const RowSelection& selection, const RowVisitor& visit) {
    SqlBinder bind;
    const std::string sql = SelectionSql(selection, bind) + " ORDER BY id";
    // Row by row, so a million rows never sit in memory at once.
    RawRow raw;
    RowOrigin origin;
    db_.Run(sql, bind.params, [&](const SqlRow& row) {
        for (int i = 0; i < MemberRecord::kFieldCount; ++i) {
            raw[i] = row.Text(i);
        }
        origin.collected = row.Text(MemberRecord::kFieldCount);
        origin.industry = row.Text(MemberRecord::kFieldCount + 1);
        origin.region = row.Text(MemberRecord::kFieldCount + 2);
        visit(raw, origin);
    });
}

void SqlRecordStore::InOneSnapshot(const std::function<void()>& reads) {
    // Inside another transaction the snapshot would be that one's, and ending it would end it.
    if (db_.InTransaction()) {
        throw StoreError("数据库操作失败（snapshot）：已在事务中");
    }
    db_.Transaction(SqlTransaction::Snapshot, reads);
}

std::vector<StoredRow> SqlRecordStore::FindRows(const RowQuery& query) {
    const std::string text = text::FoldAscii(text::TrimBlanks(query.text));
    SqlBinder bind;
    std::string sql = std::string("SELECT m.id, ") + kColumns +
                      (hasOrigin_ ? ", collected, industry, " : ", '', '', ") + "region, " +
                      kWaiting + ", " + kWaitingReason + " ";
    std::optional<std::string> indexed;
    if (!text.empty()) {
        indexed = IndexedFind(text, query, bind);
    }
    if (indexed) {
        sql += *indexed;
    } else {
        sql += "FROM T_MEMBER_CHINA m WHERE 1=1";
        if (query.beforeId > 0) {
            sql += " AND id < " + bind(query.beforeId);
        }
        if (!text.empty()) {
            sql += " AND " + TextCondition(text, bind);
        }
        sql += " ORDER BY id DESC LIMIT " + bind(std::max(1, query.limit));
    }
    std::vector<StoredRow> rows;
    db_.Run(sql, bind.params, [&](const SqlRow& row) {
        StoredRow r;
        r.id = row.Int(0);
        for (int i = 0; i < MemberRecord::kFieldCount; ++i) {
            r.fields[i] = std::string(row.Text(i + 1));
        }
        r.collected = std::string(row.Text(MemberRecord::kFieldCount + 1));
        r.industry = std::string(row.Text(MemberRecord::kFieldCount + 2));
        r.region = std::string(row.Text(MemberRecord::kFieldCount + 3));
        r.waiting = row.Bool(MemberRecord::kFieldCount + 4);
        r.reason = std::string(row.Text(MemberRecord::kFieldCount + 5));
        rows.push_back(std::move(r));
    });
    return rows;
}

}  // namespace store
