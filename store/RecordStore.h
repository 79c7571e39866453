#pragma once
// The record store in a SQLite file (see Store.h for what every store promises). The file is in
// WAL mode with a busy time-out, so readers never wait for the writer and writers wait for
// each other instead of failing.

#include <optional>
#include <string>

#include "platform/FileIdentity.h"
#include "store/Store.h"

struct sqlite3;
struct sqlite3_stmt;

class RecordStore : public IRecordStore {
  public:
    // Opens the file, creating it and any missing table. Throws StoreError.
    explicit RecordStore(std::string path);
    ~RecordStore() override;
    RecordStore(const RecordStore&) = delete;
    RecordStore& operator=(const RecordStore&) = delete;

    const std::string& Path() const override { return path_; }
    std::string DisplayName() const override { return path_; }

    int LoadLastPageIndex() override;
    void SaveLastPageIndex(int page) override;
    std::optional<std::string> LoadSetting(const std::string& name) override;
    void SaveSetting(const std::string& name, const std::string& value) override;

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
    std::optional<MemberRecord> NewestMemberRecord() override;
    std::optional<MemberRecord> MemberRecordById(std::int64_t id) override;
    void NewestMemberRecords(const std::function<void(const MemberRecord&)>& deliver) override;
    bool HasMemberRecords() override;
    bool ClearMemberRecords(const std::atomic<bool>* cancel = nullptr) override;
    void ForEachSelectedRow(const RowSelection& selection, const RowVisitor& visit) override;
    void InOneSnapshot(const std::function<void()>& reads) override;
    std::int64_t CountSelectedRows(const RowSelection& selection) override;
    std::vector<StoredRow> FindRows(const RowQuery& query) override;

    static constexpr int kBusyTimeoutMs = 10000;
    // The rows the filter's index takes in one write transaction: well under the busy time-out.
    static constexpr int kIndexBatchRows = 2000;

  private:
    class Statement;
    void BindSelection(Statement& st, const RowSelection& selection);
    void Exec(const char* sql);
    [[noreturn]] void Fail(const char* what);
    void CreateMissingTables();
    void AddMissingColumns();
    std::int64_t AppendRow(const MemberRecord& record);
    std::int64_t AppendUtf8Row(const Utf8Row& row, const std::string& contact,
                               const std::string& industry, const std::string& region,
                               const std::string& entry);
    // Writes the filter's index entry of row `id` (`command` "delete": takes it out again).
    void IndexRow(std::int64_t id, const Utf8Row& row, const char* command = nullptr);
    // Indexes the rows stored since the last search: a search's first step.
    void IndexNewRows();
    int StoredSchemaVersion();  // 0 for a new file, 1 for one from before versions
    void RefuseNewerSchema();
    void RecordSchemaVersion();
    // The last row the filter's index holds (-1: there is no index).
    std::int64_t IndexedUpTo();
    // Writes the eight contact texts into row `rowId`; false when there is no such row.
    bool FillRow(std::int64_t rowId, const MemberRecord& record);
    std::int64_t RowOfEntry(const std::string& entry);
    template <typename F>
    void InTransaction(F&& body);
    void CheckFileStillThere();

    std::string path_;
    sqlite3* db_ = nullptr;
    sqlite3_stmt* append_ = nullptr;      // prepared once: appending is the crawl's hot path
    sqlite3_stmt* rowOfEntry_ = nullptr;  // likewise the look-up before every entry
    sqlite3_stmt* indexRow_ = nullptr;    // and the filter's index entry of every row
    bool hasOrigin_ = true;  // rows know their search and time (not in an older read-only file)
    bool hasGrams_ = true;   // the filter's index is there (likewise)
    std::optional<platform::FileIdentity> fileIdentity_;  // the file as opened
};

// A stored value as text: null as the empty text, numbers as their decimal form, text as GBK.
std::string FieldToText(sqlite3_stmt* stmt, int column);
