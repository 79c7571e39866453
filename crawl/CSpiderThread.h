#pragma once
// The crawl worker: runs one job on its own thread. In pre-collect mode it reads the totals from
// the first result page; in collect mode it walks the result pages from the start page to the
// last, visits every listed company's contact page and appends one record per company. It
// reports only through the job's notification sink and is steered by the run-control word and
// its own stop token.

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "crawl/CrawlJob.h"
#include "crawl/LaneFetcher.h"
#include "crawl/LanePacer.h"
#include "crawl/PageFetcher.h"
#include "crawl/RunLedger.h"
#include "store/RecordWriter.h"
#include "store/SharedPages.h"

// How a worker opens the store it appends to; called on the worker's thread at its first record.
using RecordWriterFactory = std::function<std::unique_ptr<IRecordWriter>(const std::string& path)>;
// How a worker gets its lanes when it collects with more than one.
using LaneFetcherFactory = std::function<std::unique_ptr<ILaneFetcher>()>;

class CSpiderThread {
  public:
    CSpiderThread(CrawlJob job, std::unique_ptr<IPageFetcher> fetcher,
                  RecordWriterFactory openStore, std::shared_ptr<StopToken> stop, int workerId,
                  BackoffWaiter wait = RealTimeWaiter(), LaneFetcherFactory makeLanes = {});

    // 1 when the session opened (whatever the mode then did), 0 when it did not. Store and
    // network failures that end the job are posted; anything else escapes to the caller.
    int RunJob();
    void PreCollect();
    void CollectPages();
    // Fetches every kept failure of the job again.
    void RetryFailures();
    // False when it met STOP at an entry boundary.
    bool ParseListingPage(std::string block);
    // Fetches one contact page and stores its record, or keeps it as a failure with the
    // company's row in its place. False when a stop came first (nothing stored or kept).
    // Throws StoreError and Outage.
    bool ParseContactPage(std::string name, std::string address);
    std::string BuildKeyword();

    int m_nKind;
    int m_nMode;
    int m_nStartPage;
    int m_nLastPage;
    int m_nRecords = 0;
    std::string m_strCondition;
    std::string m_strIndustry;
    std::string m_strRegion;
    std::string m_strStorePath;

    static constexpr int kPausePollMs = 1000;

    // Thrown when too many fetches in a row failed: the directory is out of reach.
    struct Outage {
        std::string reason;
    };

  private:
    friend class LaneWalk;
    enum class Gate { Go, Stop };
    enum class Admission { Fetch, Skip, Stop };
    struct Attempt {
        FetchResult result;
        int tries = 0;
        bool stopped = false;  // a stop came during a back-off wait
    };
    Gate WaitWhilePaused();
    bool StopRequested() const;
    void Post(CrawlEventBody body);
    IRecordWriter& Store();
    Attempt FetchWithRetries(const std::string& address);
    // Counts a failure that can be retried toward an outage; a fetch that was answered ends
    // the count.
    void NoteOutcome(const FetchResult& result);
    // Keeps a result page that still fails, and reports it.
    // The failure of a result page after `attempt`, its tries counted over every run.
    KeptFailure PageFailure(int page, const std::string& address, const Attempt& attempt) const;
    // False when it was not kept (the worker was told to stop, or its records are dropped).
    bool KeepPage(KeptFailure failure);
    // A result page read whole is no longer a failure, whoever kept it.
    void HealPage(const std::string& address);
    static std::string CompanyKey(const std::string& name, const std::string& address);
    void RetryPage(const KeptFailure& failure);
    void RetryContact(const KeptFailure& failure);
    // Walks the pages with several fetches in flight (CSpiderThreadLanes.cpp).
    void CollectInLanes(const std::string& keyword);
    // Calls `company` with the name and contact address of every entry of a result page's
    // block that lists the region, in order, until it gives false; `entry` is called before
    // each entry, and gives false to end the walk there. False when the walk was ended.
    bool ForEachCompany(const std::string& block, const std::function<bool()>& entry,
                        const std::function<bool(std::string, std::string)>& company);
    // Whether a listed company is to be fetched: taken in the run's ledger (into `hold`), or
    // skipped as done or known, or a stop came while another worker had it in hand.
    Admission Admit(const std::string& name, const std::string& address, const std::string& key,
                    LedgerHold& hold);
    // Whether the store already holds the company in a way that makes this run skip it.
    bool AlreadyStored(const std::string& name, const std::string& address, const std::string& key);
    // Stores what fetching a company's contact page gave: its record, or its row and the kept
    // failure. False when the worker's records are dropped (nothing stored).
    bool StoreContact(std::string name, const std::string& address, const std::string& key,
                      const Attempt& attempt, LedgerHold& hold);
    // Walks the pages of a search shared with other collectors: claims one page at a time
    // until every page of the range is done (CSpiderThreadShared.cpp).
    void CollectShared(ISharedPages& shared);
    // Renews the lease of the shared page in hand when a good part of it has passed, or at
    // once when the worker is about to wait `coming` (so the lease outlasts the wait). False
    // when the claim was lost to another collector: the page is theirs now.
    bool KeepLease(std::chrono::milliseconds coming = std::chrono::milliseconds(0));
    // Gives the shared page in hand back at once (when the run ends in the middle of it).
    void LeaveSharedPage();
    // Waits until `address`'s host may be asked again; false when a stop came first.
    bool WaitForHost(const std::string& address);

    CrawlJob m_job;
    std::unique_ptr<IPageFetcher> m_pFetcher;
    RecordWriterFactory m_openStore;
    std::unique_ptr<IRecordWriter> m_pStore;
    std::shared_ptr<StopToken> m_pStop;
    int m_nWorkerId;
    BackoffWaiter m_wait;
    LaneFetcherFactory m_makeLanes;
    LanePacer m_pacer;
    int m_nPage = 0;  // the result page in hand
    int m_nFailuresInARow = 0;
    std::string m_strLastReason;
    std::map<std::string, KeptFailure> m_keptContacts;  // by CompanyKey
    bool m_bSkipStored = false;  // retrying a result page: skip companies already stored
    // Collecting a shared search: its store, the search's id, the claim of the page in hand.
    ISharedPages* m_pShared = nullptr;
    std::int64_t m_nSearch = 0;
    std::optional<ISharedPages::Claim> m_claim;
    std::chrono::steady_clock::time_point m_leaseRenewed;
    bool m_bLeaseLost = false;
    std::map<std::string, KeptFailure> m_keptPages;  // by address
};
