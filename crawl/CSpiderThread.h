#pragma once
// The crawl worker: runs one job on its own thread. In pre-collect mode it reads the totals from
// the first result page; in collect mode it walks the result pages from the start page to the
// last, visits every listed company's contact page and appends one record per company. It
// reports only through the job's notification sink and is steered by the run-control word and
// its own stop token.

#include <cstdint>
#include <functional>
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
                  RecordWriterFactory openStore, std::shared_ptr<StopToken> stop, int workerId);

    // 1 when the session opened (whatever the mode then did), 0 when it did not.
    int RunJob();
    void PreCollect();
    void CollectPages();
    // False when it met STOP at an entry boundary.
    bool ParseListingPage(std::string block);
    // Fetches one contact page and appends its record; throws StoreError.
    void ParseContactPage(std::string name, std::string address);
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

  private:
    enum class Gate { Go, Stop };
    Gate WaitWhilePaused();
    bool StopRequested() const;
    void Post(int message, std::int64_t wParam, std::int64_t lParam, std::int64_t rowId = 0,
              std::string error = {});

    CrawlJob m_job;
    std::unique_ptr<IPageFetcher> m_pFetcher;
    RecordWriterFactory m_openStore;
    std::unique_ptr<IRecordWriter> m_pStore;
    std::shared_ptr<StopToken> m_pStop;
    int m_nWorkerId;
};
