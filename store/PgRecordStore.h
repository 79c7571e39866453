#pragma once
// The record store in a PostgreSQL database, for several collectors on several machines that
// keep one list (see Store.h for what every store promises; SqlRecordStore holds the
// operations). The tables are those of the SQLite file, created when missing, all texts UTF-8.
//
// Beside the records it keeps the work of shared searches: a search (industry and region) is
// registered once with its result pages, and each collector claims the next unclaimed page
// with a lease that it renews while it works on the page, so no two collectors walk the same
// page and a page whose collector died is claimed again when its lease has run out (see
// SharedPages.h). A listing entry is stored once, whoever walks its page: a page walked again
// adds nothing. Once this store registered a search, each row it writes is written only while
// the search is there, under a lock that a clear waits for: a clear leaves none of them behind.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "store/PgConnection.h"
#include "store/SharedPages.h"
#include "store/SqlRecordStore.h"

namespace store {

class PgRecordStore : public SqlRecordStore, public ISharedPages {
  public:
    // Connects and creates any missing table. Throws StoreError (without the password), and
    // StoreInterrupted once `interrupt` is raised.
    explicit PgRecordStore(std::string uri, const std::atomic<bool>* interrupt = nullptr);

    const std::string& Path() const override { return uri_; }
    std::string DisplayName() const override { return RedactPassword(uri_); }

    ISharedPages* SharedPages() override { return this; }
    void SetInterrupt(const std::atomic<bool>* flag) override { pg_.SetInterrupt(flag); }
    void SetWaitHook(WaitHook hook) override { pg_.SetWaitHook(std::move(hook)); }
    bool Usable() const override { return pg_.Usable(); }
    // A run under way whose collector has not renewed it for this long is gone.
    static constexpr int kRunLapseSeconds = 90;
    int CloseBrokenRuns() override;

    std::int64_t RegisterSearch(const std::string& industry, const std::string& region,
                                int pages) override;
    std::optional<Claim> ClaimPage(std::int64_t search, int first, int last,
                                   std::chrono::seconds lease) override;
    bool RenewLease(std::int64_t search, const Claim& claim, std::chrono::seconds lease) override;
    void ReleasePage(std::int64_t search, const Claim& claim) override;
    void MarkPageDone(std::int64_t search, int page, int round = 0) override;
    void EndSearchAt(std::int64_t search, int page, int round = 0) override;
    int PagesDone(std::int64_t search) override;
    int PagesLeft(std::int64_t search, int first, int last) override;
    void MarkPageFailed(std::int64_t search, int page, int round = 0) override;
    void RetryFailedPages(std::int64_t search) override;
    bool SearchExists(std::int64_t search) override;
    int SearchRound(std::int64_t search) override;
    std::optional<SearchWalk> RoundOf(const std::string& industry,
                                      const std::string& region) override;
    std::string Register() override;
    void Heartbeat(const std::string& token, std::chrono::seconds ahead) override;
    void Unregister(const std::string& token) override;
    int WorkingCollectors(std::chrono::seconds fresh) override;

    // The most pages a shared search is registered with.
    static constexpr int kMaxSharedPages = 100000;

  protected:
    std::string WriteGuard(SqlBinder& bind) override;
    void WriteRefused() override;
    std::string TextCondition(const std::string& folded, SqlBinder& bind) override;
    void ClearFirst() override;

  private:
    int RecordedSchemaVersion();  // 0 when none is recorded
    void CreateMissingTables();
    void RecordSchemaVersion();

    std::string uri_;
    PgConnection& pg_;
    std::int64_t search_ = 0;  // the search registered last; 0: none
};

}  // namespace store
