#pragma once
// The crawl worker: runs one job on its own thread. In pre-collect mode it reads the totals from
// the first result page; in collect mode it walks the result pages from the start page to the
// last, visits every listed company's contact page and appends one record per company. It
// reports only through the job's notification sink and is steered by the run-control word and
// its own stop token.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "crawl/CrawlJob.h"
#include "crawl/PageFetcher.h"
#include "store/RecordWriter.h"

// How a worker opens the store it appends to; called on the worker's thread at its first record.
using RecordWriterFactory = std::function<std::unique_ptr<IRecordWriter>(const std::string& path)>;

class CSpiderThread {
  public:
    CSpiderThread(CrawlJob job, std::unique_ptr<IPageFetcher> fetcher,
                  RecordWriterFactory openStore, std::shared_ptr<StopToken> stop, int workerId,
                  BackoffWaiter wait = RealTimeWaiter());

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
    enum class Gate { Go, Stop };
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
    void KeepPage(KeptFailure failure);
    // A result page read whole is no longer a failure, whoever kept it.
    void HealPage(const std::string& address);
    static std::string CompanyKey(const std::string& name, const std::string& address);
    void RetryPage(const KeptFailure& failure);
    void RetryContact(const KeptFailure& failure);

    CrawlJob m_job;
    std::unique_ptr<IPageFetcher> m_pFetcher;
    RecordWriterFactory m_openStore;
    std::unique_ptr<IRecordWriter> m_pStore;
    std::shared_ptr<StopToken> m_pStop;
    int m_nWorkerId;
    BackoffWaiter m_wait;
    int m_nPage = 0;  // the result page in hand
    int m_nFailuresInARow = 0;
    std::string m_strLastReason;
    std::map<std::string, KeptFailure> m_keptContacts;  // by CompanyKey
    bool m_bSkipStored = false;  // retrying a result page: skip companies already stored
    std::map<std::string, KeptFailure> m_keptPages;  // by address
};
