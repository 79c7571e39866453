#pragma once
// The record store in a PostgreSQL database, for several collectors on several machines that
// keep one list (see Store.h for what every store promises). The tables are those of the
// SQLite file, created when missing, all texts UTF-8; every query binds its values.
//
// Beside the records it keeps the work of shared searches: a search (industry and region) is
// registered once with its result pages, and each collector claims the next unclaimed page
// with a lease that it renews while it works on the page, so no two collectors walk the same
// page and a page whose collector died is claimed again when its lease has run out (see
// SharedPages.h). A listing entry is stored once, whoever walks its page: a page walked again
// adds nothing.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "store/SharedPages.h"
#include "store/Store.h"

typedef struct pg_conn PGconn;
typedef struct pg_result PGresult;

class PgRecordStore : public IRecordStore, public ISharedPages {
  public:
    // Connects and creates any missing table. Throws StoreError (without the password), and
    // StoreInterrupted once `interrupt` is raised.
    explicit PgRecordStore(std::string uri, const std::atomic<bool>* interrupt = nullptr);
    ~PgRecordStore() override;
    PgRecordStore(const PgRecordStore&) = delete;
    PgRecordStore& operator=(const PgRecordStore&) = delete;

    const std::string& Path() const override { return uri_; }
    std::string DisplayName() const override { return RedactPassword(uri_); }

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

    ISharedPages* SharedPages() override { return this; }
    void SetInterrupt(const std::atomic<bool>* flag) override { interrupt_ = flag; }
    void SetWaitHook(WaitHook hook) override { waitHook_ = std::move(hook); }
    bool Usable() const override { return conn_ != nullptr; }
    std::int64_t RegisterSearch(const std::string& industry, const std::string& region,
                                int pages) override;
    std::optional<Claim> ClaimPage(std::int64_t search, int first, int last,
                                   std::chrono::seconds lease) override;
    bool RenewLease(std::int64_t search, const Claim& claim, std::chrono::seconds lease) override;
    void ReleasePage(std::int64_t search, const Claim& claim) override;
    void MarkPageDone(std::int64_t search, int page) override;
    void EndSearchAt(std::int64_t search, int page) override;
    int PagesDone(std::int64_t search) override;
    int PagesLeft(std::int64_t search, int first, int last) override;
    void MarkPageFailed(std::int64_t search, int page) override;
    void RetryFailedPages(std::int64_t search) override;
    bool SearchExists(std::int64_t search) override;
    std::string Register() override;
    void Heartbeat(const std::string& token, std::chrono::seconds ahead) override;
    void Unregister(const std::string& token) override;
    int WorkingCollectors(std::chrono::seconds fresh) override;

    // The most pages a shared search is registered with.
    static constexpr int kMaxSharedPages = 100000;

    // How long a statement may go without an answer before the server is probed (a second,
    // short connection): no answer to the probe is a dead server, an answer means busy.
    // COLLECTOR_DB_DEADLINE_SECONDS sets another.
    static constexpr int kPatienceSeconds = 30;

  private:
    class Result;
    static constexpr auto kPollSlice = std::chrono::milliseconds(100);
    static constexpr auto kStopGrace = std::chrono::milliseconds(1000);
    static constexpr auto kProbeLimit = std::chrono::seconds(5);
    static constexpr auto kHookAfter = std::chrono::seconds(1);

    // A new connection, polled so that a stop or a silent server cannot hold it: nothing,
    // with the reason in `why`, when there is none within `limit` (or the URI's
    // connect_timeout). Throws StoreInterrupted.
    PGconn* Connect(std::string& why, std::chrono::seconds limit = std::chrono::seconds(10)) const;
    bool ServerAnswers() const;
    // Gives the connection up at once, without a word to the server (which may not answer).
    void Abandon();
    int RecordedSchemaVersion();  // 0 when none is recorded
    void RefuseNewerSchema();
    void RecordSchemaVersion();
    void Send(const char* sql, const std::vector<std::string>& params);
    // The next result of the statement sent, nothing at its end or when the connection broke;
    // waits only while the server lives and no stop is asked for.
    PGresult* NextResult();
    Result Run(const char* sql, const std::vector<std::string>& params = {});
    [[noreturn]] void Fail(const char* what, const PGresult* result);
    void CreateMissingTables();
    template <typename F>
    void InTransaction(F&& body, const char* begin = "BEGIN");
    std::int64_t AppendUtf8(const Utf8Row& row, const std::string& contact,
                            const std::string& industry, const std::string& region,
                            const std::string& entry);
    // Writes the eight contact texts into row `rowId`; false when there is no such row.
    bool FillRow(std::int64_t rowId, const MemberRecord& record);
    std::int64_t RowOfEntry(const std::string& entry);
    void StreamRows(const char* sql, const std::vector<std::string>& params,
                    const RowVisitor& visit);

    // A libpq message with any password of the URI taken out.
    std::string Scrub(std::string message) const;

    std::string uri_;
    std::vector<std::string> secrets_;  // the passwords in the URI, as written
    PGconn* conn_ = nullptr;
    const std::atomic<bool>* interrupt_ = nullptr;
    WaitHook waitHook_;
    std::chrono::milliseconds patience_;
};
