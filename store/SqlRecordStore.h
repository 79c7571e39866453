#pragma once
// The record store, written once over a SQL connection and the fragments of SQL in which the
// databases differ. What stays with each database (RecordStore: a SQLite file; PgRecordStore:
// PostgreSQL) is opening it, its tables and their upgrades, the filter's text index and, on
// PostgreSQL, the shared searches.

#include <memory>
#include <optional>
#include <string>

#include "store/SqlConnection.h"
#include "store/Store.h"

namespace store {

// When a row became a lead: when it first held a contact field; a row that never did (or was
// stored before rows kept that time), when it was stored. Both databases index it as written.
inline constexpr const char* kLeadTime =
    "(CASE WHEN completed<>'' THEN completed ELSE collected END)";

class SqlRecordStore : public IRecordStore {
  public:
    int LoadLastPageIndex() override;
    void SaveLastPageIndex(int page) override;
    std::optional<std::string> LoadSetting(const std::string& name) override;
    void SaveSetting(const std::string& name, const std::string& value) override;
    std::vector<std::pair<std::string, std::string>> SettingsNamed(
        const std::string& prefix) override;
    bool RemoveSetting(const std::string& name) override;

    std::int64_t AppendMemberRecord(const MemberRecord& record) override;
    EntryWrite AppendEntry(const MemberRecord& record) override;
    bool HasEntry(const std::string& entry) override;
    std::set<std::string> EntriesFrom(const std::string& prefix) override;
    std::optional<std::string> ClaimFailure(std::int64_t id, std::chrono::seconds lease,
                                            const std::string& run) override;
    void ReleaseFailure(std::int64_t id, const std::string& token) override;
    bool HasUnkeyedContact(const std::string& address, const std::string& title,
                           const std::string& region) override;
    bool IsKnownCompany(const std::string& contact, const std::string& name,
                        const std::string& region) override;
    using IRecordStore::ImportRows;
    ImportCount ImportRows(const std::function<bool(Utf8Row&)>& next, bool skipKnown) override;
    std::int64_t FillMemberRecord(std::int64_t rowId, const MemberRecord& record,
                                  std::int64_t failureId) override;
    std::int64_t KeepFailure(KeptFailure& failure,
                             const MemberRecord* placeholder = nullptr) override;
    std::int64_t DropFailureAt(KeptFailure::Kind kind, const std::string& address) override;
    bool HasContact(const std::string& address, const std::string& title) override;
    std::vector<KeptFailure> KeptFailures() override;
    std::int64_t CountKeptFailures() override;
    std::int64_t BeginRunRecord(const RunRecord& run) override;
    void EndRunRecord(const RunRecord& run) override;
    void UpdateRunCounts(const RunRecord& run) override;
    void RenewRunRecord(std::int64_t id) override;
    std::vector<RunRecord> Runs(int limit) override;
    std::string ChangeMark() override;
    std::optional<MemberRecord> NewestMemberRecord() override;
    std::optional<MemberRecord> MemberRecordById(std::int64_t id) override;
    void NewestMemberRecords(const std::function<void(const MemberRecord&)>& deliver) override;
    bool HasMemberRecords() override;
    bool ClearMemberRecords(const std::atomic<bool>* cancel = nullptr) override;
    void ForEachSelectedRow(const RowSelection& selection, const RowVisitor& visit) override;
    void InOneSnapshot(const std::function<void()>& reads) override;
    std::int64_t CountSelectedRows(const RowSelection& selection) override;
    std::vector<StoredRow> FindRows(const RowQuery& query) override;

  protected:
    SqlRecordStore(std::unique_ptr<ISqlConnection> db, const SqlDialect& sql);

    // Before every write: a store that can tell its rows would be lost refuses them.
    virtual void BeforeWrite() {}
    // A condition every row written must meet, holding what it reads until the write commits
    // (empty: none); WriteRefused is called when a write did not meet it, and throws when the
    // write must not go on.
    virtual std::string WriteGuard(SqlBinder& bind) { return (void)bind, std::string(); }
    virtual void WriteRefused() {}
    // The filter's text index. The condition on row `m` that its searched texts (company,
    // person, the three numbers, address) hold `folded` (folded by text::FoldAscii, not empty).
    virtual std::string TextCondition(const std::string& folded, SqlBinder& bind) = 0;
    // The end of a page of FindRows ("FROM … ORDER BY … LIMIT …", rows as `m`) when the index
    // answers it faster than the condition would; nothing to use the condition.
    virtual std::optional<std::string> IndexedFind(const std::string& folded, const RowQuery& query,
                                                   SqlBinder& bind) {
        (void)folded, (void)query, (void)bind;
        return std::nullopt;
    }
    // Whether the index holds row `id` as written, so that a change of it must be told.
    virtual bool RowIndexed(std::int64_t id) { return (void)id, false; }
    virtual void ReindexRow(std::int64_t id, const Utf8Row& before, const Utf8Row& after) {
        (void)id, (void)before, (void)after;
    }
    // Around a run: a file marks its run as at work with a lock beside it (taken before the
    // run's entry is committed, so no one finds it under way without its lock).
    virtual void RunBegins(std::int64_t id) { (void)id; }
    virtual void RunEnds() {}
    // Closes as broken every run under way that meets `condition` (SQL on T_RUN).
    int CloseRunsWhere(const std::string& condition, const SqlParams& params = {});
    // In a clear's transaction, before the rows go and after.
    virtual void ClearFirst() {}
    virtual void ClearAfter() {}

    // Where a row came from: a crawl collected it, or an import put it back.
    enum class Origin { Crawl, Import };
    // Appends a row of an entry unless the entry is stored: its id, or 0.
    std::int64_t AppendUtf8Row(const Utf8Row& row, const std::string& contact,
                               const std::string& industry, const std::string& region,
                               const std::string& entry, Origin origin);

    ISqlConnection& db_;
    const SqlDialect& sql_;
    bool hasOrigin_ = true;     // rows know their search and time (not in an older read-only file)
    bool hasLeadTimes_ = true;  // rows know where they came from and when they became complete
    bool hasRuns_ = true;       // the record of runs is there
    bool hasRunHosts_ = true;   // and knows the machine of each run

  private:
    // In a write transaction: holds the write guard until the commit.
    void HoldWrites();
    std::int64_t AppendRow(const MemberRecord& record);
    // Writes the eight contact texts into row `rowId`; false when there is no such row.
    bool FillRow(std::int64_t rowId, const MemberRecord& record);
    std::int64_t RowOfEntry(const std::string& entry);
    std::string SelectionSql(const RowSelection& selection, SqlBinder& bind);
    std::string LastWalkEnd(const std::string& m) const;

    std::unique_ptr<ISqlConnection> owned_;
};

}  // namespace store
