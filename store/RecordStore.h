#pragma once
// The record store: a SQLite file holding the collected companies (T_MEMBER_CHINA, each row with
// the contact address it came from), the pages that still failed after their retries
// (T_FAILURE) and the one lasting setting, the page a crawl started last (T_CONFIG
// 'lastpageindex').
//
// One RecordStore is one connection and belongs to one thread; the window and every crawl
// worker open their own. The file is in WAL mode with a busy time-out, so readers never wait
// for the writer and writers wait for each other instead of failing. Every operation commits
// before it returns. Texts are GBK outside and UTF-8 inside the file.

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "store/MemberRecord.h"
#include "store/RecordWriter.h"
#include "store/RowSource.h"
#include "store/StoreError.h"

struct sqlite3;
struct sqlite3_stmt;

class RecordStore : public IRecordWriter {
  public:
    // Opens the file, creating it and any missing table. Throws StoreError.
    explicit RecordStore(std::string path);
    ~RecordStore() override;
    RecordStore(const RecordStore&) = delete;
    RecordStore& operator=(const RecordStore&) = delete;

    const std::string& Path() const { return path_; }

    int LoadLastPageIndex();
    void SaveLastPageIndex(int page);
    // Other lasting settings in T_CONFIG beside 'lastpageindex' (UTF-8 values): the search of
    // the last pre-collect ('lastindustry', 'lastregion'), the folder of the last export.
    std::optional<std::string> LoadSetting(const std::string& name);
    void SaveSetting(const std::string& name, const std::string& value);

    std::int64_t AppendMemberRecord(const MemberRecord& record) override;
    // Whether the company is stored: by its contact page, or by its normalised name together
    // with the region of its search (GBK in).
    bool IsKnownCompany(const std::string& contact, const std::string& name,
                        const std::string& region) override;

    // The nine texts of a row in UTF-8, as an import reads them.
    using Utf8Row = std::array<std::string, MemberRecord::kFieldCount>;
    // Appends every row in one transaction: all of them or, on a failure, none.
    std::int64_t ImportRows(const std::vector<Utf8Row>& rows);
    std::int64_t FillMemberRecord(std::int64_t rowId, const MemberRecord& record,
                                  std::int64_t failureId) override;

    std::int64_t KeepFailure(KeptFailure& failure,
                             const MemberRecord* placeholder = nullptr) override;
    std::int64_t DropFailureAt(KeptFailure::Kind kind, const std::string& address) override;
    bool HasContact(const std::string& address, const std::string& title) override;
    // Every kept failure, oldest first.
    std::vector<KeptFailure> KeptFailures();
    std::int64_t CountKeptFailures();

    std::optional<MemberRecord> NewestMemberRecord();
    std::optional<MemberRecord> MemberRecordById(std::int64_t id);
    // At most 40 records, newest first, each handed over as soon as it is read.
    void NewestMemberRecords(const std::function<void(const MemberRecord&)>& deliver);
    bool HasMemberRecords();
    // Removes every record and with them the kept failures (their rows are gone), all or
    // nothing. When `cancel` is raised before the change is committed, nothing is removed and
    // the answer is false.
    bool ClearMemberRecords(const std::atomic<bool>* cancel = nullptr);

    // Every row in id order as its nine stored UTF-8 texts (null as empty), for the export.
    using RawRow = ExportRow;
    void ForEachMemberRow(const std::function<void(const RawRow&)>& visit);
    // The same with each company once: its newest row (see IsKnownCompany for what makes a
    // company; rows without a contact page are told apart by name and region).
    void ForEachUniqueMemberRow(const std::function<void(const RawRow&)>& visit);

    static constexpr int kNewestLimit = 40;
    static constexpr int kBusyTimeoutMs = 10000;

  private:
    class Statement;
    void Exec(const char* sql);
    [[noreturn]] void Fail(const char* what);
    void CreateMissingTables();
    void AddMissingColumns();
    std::int64_t AppendRow(const MemberRecord& record);
    std::int64_t AppendUtf8Row(const Utf8Row& row, const std::string& contact,
                               const std::string& region);
    template <typename F>
    void InTransaction(F&& body);
    void CheckFileStillThere();

    std::string path_;
    sqlite3* db_ = nullptr;
    sqlite3_stmt* append_ = nullptr;  // prepared once: appending is the crawl's hot path
    unsigned long long fileDevice_ = 0;
    unsigned long long fileInode_ = 0;
};

// Whether a contact address names one company: not empty, and not a bare prefix that a link
// which could not be read leaves (such addresses end with "/").
bool IdentifiesCompany(std::string_view contact);

// A stored value as text: null as the empty text, numbers as their decimal form, text as GBK.
std::string FieldToText(sqlite3_stmt* stmt, int column);
