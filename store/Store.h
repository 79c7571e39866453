#pragma once
// What the program needs of a record store, whatever holds it: a SQLite file (RecordStore, the
// default) or a PostgreSQL database shared by several collectors (PgRecordStore). Both hold
// the same tables with the same meaning: the collected companies (T_MEMBER_CHINA), the pages
// that still failed after their retries (T_FAILURE) and the lasting settings (T_CONFIG).
//
// One store object is one connection and belongs to one thread; the window and every crawl
// worker open their own. Every operation commits before it returns; a failure throws
// StoreError. Texts are GBK outside and UTF-8 inside.

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "store/MemberRecord.h"
#include "store/RecordWriter.h"
#include "store/RowSource.h"
#include "store/RunRecord.h"
#include "store/SearchWalk.h"
#include "store/StoreError.h"

namespace store {

// Which rows an export takes.
struct RowSelection {
    std::optional<std::string> industry;  // UTF-8, of the search that found the row; none: any
    std::optional<std::string> region;
    // "YYYY-MM-DD": rows collected (not imported) that day or later; empty: any. New leads
    // are what a crawl brought, never what an import put back.
    // Rows count by when they became complete (first held a contact field; a row that never
    // did, by when it was stored), so a company whose details arrive by a retry is new that day.
    std::string since;
    // Collected rows that became complete after the end of the last finished walk of their
    // search that ended before that search's newest walk began: right after a walk, what the
    // walk brought (on a shared store, by any collector).
    bool sinceLastRun = false;
    bool importedOnly = false;  // rows an import wrote, and no others
    // Collected rows of these runs' searches that became complete between the run's start and
    // end (what each run brought, by whoever stored it); empty: any.
    std::vector<RunRecord> ofRuns;
    // Leaves out every row without a contact field: kept in the place of a failed contact
    // page, or whose contact page answered without details (404, 410).
    bool completeOnly = false;
    bool unique = false;  // each company once: its newest row
    std::string text;     // rows whose company, person, numbers or address hold it; empty: any
};

// One stored row as the collected-data list shows it (UTF-8).
struct StoredRow {
    std::int64_t id = 0;
    std::array<std::string, MemberRecord::kFieldCount> fields;
    std::string collected;
    std::string industry;
    std::string region;
    bool waiting = false;  // it stands for a contact page kept as a failure
    std::string reason;    // why that page failed
};

// A page of the collected data, newest first.
struct RowQuery {
    std::string text;           // as RowSelection::text
    std::int64_t beforeId = 0;  // rows older than this one (0: from the newest)
    int limit = 100;
};

// Where a stored row came from (UTF-8): when it was first stored ("YYYY-MM-DD HH:MM:SS", local
// time) and the industry and region of its search; empty for rows stored before rows knew them.
struct RowOrigin {
    std::string_view collected;
    std::string_view industry;
    std::string_view region;
};

class IRecordStore : public IRecordWriter {
  public:
    // The location as given: a file path, or a PostgreSQL connection URI.
    virtual const std::string& Path() const = 0;
    // The location as shown to people: a URI without its password.
    virtual std::string DisplayName() const = 0;

    virtual int LoadLastPageIndex() = 0;
    virtual void SaveLastPageIndex(int page) = 0;
    // Other lasting settings in T_CONFIG beside 'lastpageindex' (UTF-8 values): the search of
    // the last pre-collect ('lastindustry', 'lastregion'), the folder of the last export.
    virtual std::optional<std::string> LoadSetting(const std::string& name) = 0;
    virtual void SaveSetting(const std::string& name, const std::string& value) = 0;
    // The settings whose names begin with `prefix`, by name; and one removed (false: none was).
    virtual std::vector<std::pair<std::string, std::string>> SettingsNamed(
        const std::string& prefix) = 0;
    virtual bool RemoveSetting(const std::string& name) = 0;

    // The nine texts of a row in UTF-8, as an import reads them.
    using Utf8Row = std::array<std::string, MemberRecord::kFieldCount>;
    // What an import appended, and what it passed over as known.
    struct ImportCount {
        std::int64_t imported = 0;
        std::int64_t skipped = 0;
    };
    // Appends the rows `next` hands out (false: no more) in one transaction: all of them or, on
    // a failure or an exception out of `next`, none. With `skipKnown` a row whose company name
    // (normalised) is stored already, in any region or earlier in the same import, is passed
    // over. Rows are taken one at a time: memory does not grow with them.
    virtual ImportCount ImportRows(const std::function<bool(Utf8Row&)>& next, bool skipKnown) = 0;
    // Every row of `rows`, none skipped.
    std::int64_t ImportRows(const std::vector<Utf8Row>& rows) {
        size_t i = 0;
        return ImportRows(
                   [&](Utf8Row& row) {
                       if (i == rows.size()) {
                           return false;
                       }
                       row = rows[i++];
                       return true;
                   },
                   false)
            .imported;
    }

    virtual std::int64_t CountKeptFailures() = 0;

    // The record of runs. A run is written as under way when it begins (its id is given) and
    // closed when it ends; a run whose collector is gone is closed as kRunBroken by the next
    // run or window that finds it (CloseBrokenRuns), never one still at work anywhere.
    virtual std::int64_t BeginRunRecord(const RunRecord& run) = 0;
    virtual void EndRunRecord(const RunRecord& run) = 0;
    // An ended run's counts again: its workers stored what they had in hand after its end.
    virtual void UpdateRunCounts(const RunRecord& run) = 0;
    // The run's collector is still at work (a shared store closes runs not renewed for a while).
    virtual void RenewRunRecord(std::int64_t id) { (void)id; }
    // How many runs it closed.
    virtual int CloseBrokenRuns() = 0;
    // How many runs of other collectors are at work on a store that takes one crawl at a time
    // (a file); a shared store, where collectors work side by side, answers 0.
    virtual int CrawlsAtWork() { return 0; }
    // The newest `limit` runs, newest first.
    virtual std::vector<RunRecord> Runs(int limit) = 0;
    // A cheap mark that moves whenever rows are written, filled or cleared, or failures kept or
    // healed, by whoever writes: a view re-reads the store only when it moved.
    virtual std::string ChangeMark() = 0;

    virtual std::optional<MemberRecord> NewestMemberRecord() = 0;
    virtual std::optional<MemberRecord> MemberRecordById(std::int64_t id) = 0;
    // At most kNewestLimit records, newest first, each handed over as soon as it is read.
    virtual void NewestMemberRecords(const std::function<void(const MemberRecord&)>& deliver) = 0;
    virtual bool HasMemberRecords() = 0;
    // Removes every record and with them the kept failures (their rows are gone), all or
    // nothing. When `cancel` is raised before the change is committed, nothing is removed and
    // the answer is false.
    virtual bool ClearMemberRecords(const std::atomic<bool>* cancel = nullptr) = 0;

    // Every row in id order as its nine stored UTF-8 texts (null as empty), for the export.
    using RawRow = std::array<std::string_view, MemberRecord::kFieldCount>;
    using RowVisitor = std::function<void(const RawRow&, const RowOrigin&)>;
    // The rows `selection` takes, in id order, with where each came from.
    virtual void ForEachSelectedRow(const RowSelection& selection, const RowVisitor& visit) = 0;
    // How many rows `selection` takes.
    virtual std::int64_t CountSelectedRows(const RowSelection& selection) = 0;
    // Runs `reads` in one read transaction: all its reads see the store as it was at the first,
    // whatever other connections write meanwhile (they are not held up). An export that looks
    // at its rows before writing them writes what it looked at.
    virtual void InOneSnapshot(const std::function<void()>& reads) = 0;
    // Brings the filter's index up to date (the rows stored since it last was, up to the last
    // row there is when it starts), a short transaction at a time, telling `progress` the
    // share done (0 to 99) after each; giving false stops it for now. True once done. A store whose
    // database keeps its index itself is always up to date.
    virtual bool UpdateTextIndex(const std::function<bool(int percent)>& progress) {
        (void)progress;
        return true;
    }
    // Whether a read brings the filter's index up to date before it looks (true, the default)
    // or leaves that to UpdateTextIndex and looks at the rows the index lacks one by one: a
    // window's reads answer at once while its worker builds the index.
    virtual void SetIndexOnRead(bool on) { (void)on; }
    // A page of the rows the query finds, newest first. A text of two or more characters is
    // looked up in an index of character pairs, so it takes about as long in a million rows
    // as in a thousand.
    virtual std::vector<StoredRow> FindRows(const RowQuery& query) = 0;
    void ForEachMemberRow(const std::function<void(const RawRow&)>& visit) {
        ForEachSelectedRow({}, [&](const RawRow& row, const RowOrigin&) { visit(row); });
    }
    // Each company once: its newest row (see IsKnownCompany for what makes a company; rows
    // without a contact page are told apart by name and region).
    void ForEachUniqueMemberRow(const std::function<void(const RawRow&)>& visit) {
        RowSelection unique;
        unique.unique = true;
        ForEachSelectedRow(unique, [&](const RawRow& row, const RowOrigin&) { visit(row); });
    }

    static constexpr int kNewestLimit = 40;
};

// Where the last walk of a search (GBK "industry^region", as typed) got to (SearchWalk.h). On a
// file each search keeps its own; a search never collected has none, and a clear forgets them
// all. A shared store answers from the search's round. The old single 'lastpageindex' belongs to
// no search and is never read for one.
std::optional<SearchWalk> LoadSearchWalk(IRecordStore& store, const std::string& condition);
// The walk `round` of the search is at `page` (it resumes there unless it finishes).
void SaveSearchPage(IRecordStore& store, const std::string& condition, int page, int round = 1);
void SaveSearchFinished(IRecordStore& store, const std::string& condition, int round = 1);
// The prefix of the settings that keep the searches' walks.
inline constexpr const char* kSearchWalkPrefix = "lastpage:";

// The location as shown to people: a URI with any password replaced by "***".
std::string RedactPassword(const std::string& location);
// Where the passwords of a location are, as libpq reads them (the URI's user part, password=
// parameters): [begin, end) of each.
std::vector<std::pair<size_t, size_t>> PasswordSpans(const std::string& location);

// Blanks with '*', in the program's own arguments (once they were read), the passwords of a
// PostgreSQL store location and of the address after `--proxy`, so that `ps` never shows them.
void HidePasswordsInArguments(int argc, char** argv);

// What a program says on Windows, where any program can read another's command line, to a
// password written in a store location or a proxy address; empty when there is none.
std::string PasswordOnCommandLine(const std::string& storeLocation, const std::string& proxy);

// Whether a store location names a PostgreSQL database ("postgresql://…" or "postgres://…").
bool IsPostgresLocation(const std::string& location);

// Opens the store at `location`: a PostgreSQL connection URI, or else a SQLite file path.
// Throws StoreError; StoreInterrupted once `interrupt` is raised (see SetInterrupt).
std::unique_ptr<IRecordStore> OpenStore(const std::string& location,
                                        const std::atomic<bool>* interrupt = nullptr);

// Whether a contact address names one company: not empty, and not a bare prefix that a link
// which could not be read leaves (such addresses end with "/").
bool IdentifiesCompany(std::string_view contact);

}  // namespace store
