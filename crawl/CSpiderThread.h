#pragma once
// The crawl worker: runs one job on its own thread. In pre-collect mode it reads the totals from
// the first result page; in collect mode it walks the result pages of its search (a range, or
// the pages it claims of a search shared through the store), and in retry mode the failures
// kept in the store, each with the one walk (CrawlEngine). It reports only through the job's
// notification sink and is steered by the run-control word and its own stop token.

#include <functional>
#include <memory>
#include <string>

#include "crawl/Clock.h"
#include "crawl/CrawlJob.h"
#include "crawl/LaneFetcher.h"
#include "crawl/LanePacer.h"
#include "crawl/PageFetcher.h"
#include "crawl/PageSource.h"
#include "store/RecordWriter.h"

namespace crawl {

// How a worker opens the store it appends to; called on the worker's thread at its first record.
// A store that waits on a server gives up once `interrupt` (the worker's stop) is raised.
using RecordWriterFactory = std::function<std::unique_ptr<store::IRecordWriter>(
    const std::string& path, const std::atomic<bool>* interrupt)>;
// How a worker gets its lanes when it collects with more than one.
using LaneFetcherFactory = std::function<std::unique_ptr<ILaneFetcher>()>;

class CSpiderThread {
  public:
    CSpiderThread(CrawlJob job, std::unique_ptr<IPageFetcher> fetcher,
                  RecordWriterFactory openStore, std::shared_ptr<StopToken> stop, int workerId,
                  BackoffWaiter wait = RealTimeWaiter(), LaneFetcherFactory makeLanes = {},
                  const Clock& clock = RealTime());

    // 1 when the session opened (whatever the mode then did), 0 when it did not. Store and
    // network failures that end the job are posted; anything else escapes to the caller.
    int RunJob();
    void PreCollect();
    void CollectPages();
    // Fetches every kept failure of the job again.
    void RetryFailures();
    // The search's address keyword; it also splits the condition into industry and region.
    std::string BuildKeyword();

  private:
    void Post(CrawlEventBody body);
    store::IRecordWriter& Store();
    // Walks what `source` hands out to its end, a stop or a broken run (thrown).
    void Walk(IPageSource& source);

    CrawlJob m_job;
    std::string m_strIndustry;  // GBK, from the job's condition
    std::string m_strRegion;
    std::unique_ptr<IPageFetcher> m_pFetcher;
    RecordWriterFactory m_openStore;
    std::unique_ptr<store::IRecordWriter> m_pStore;
    std::shared_ptr<StopToken> m_pStop;
    int m_nWorkerId;
    BackoffWaiter m_wait;
    LaneFetcherFactory m_makeLanes;
    const Clock& m_clock;
    std::shared_ptr<LanePacer> m_pacer;
};

}  // namespace crawl
