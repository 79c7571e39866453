#pragma once
// What one crawl worker is given to do: its mode, its search and page range, and the run's
// options and shared parts (the ledger of its companies, its pacer, its claim token).

#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "crawl/CrawlEvent.h"
#include "crawl/LanePacer.h"
#include "crawl/RetryPolicy.h"
#include "crawl/RunControl.h"
#include "crawl/RunLedger.h"
#include "store/KeptFailure.h"

namespace crawl {

inline constexpr int CRAWL_KIND_MEMBER = 1;
inline constexpr int CRAWL_MODE_PRECOLLECT = 1;
inline constexpr int CRAWL_MODE_COLLECT = 2;
inline constexpr int CRAWL_MODE_RETRY = 3;  // fetch the kept failures again
inline constexpr int kMaxLanes = 32;

// How a run fetches, as the user set it: one copy goes from the request to every worker.
struct CrawlOptions {
    RetryPolicy retry;
    // Skip, without fetching its contact page, a company the store already holds.
    bool skipKnown = false;
    // Fetches in flight at once when collecting (1 to kMaxLanes); 1 walks one page at a time.
    int lanes = 1;
    // The least time between the starts of two requests to the same host.
    std::chrono::milliseconds delay{0};
    // A store shared by several collectors: how long a claimed page stays this worker's
    // without a sign of life.
    std::chrono::seconds lease{120};

    // The same options within what a worker can do (lanes 1 to kMaxLanes, no negative time).
    CrawlOptions Bounded() const;
};

// The settings a driver hands to one worker.
struct CrawlJob {
    std::shared_ptr<IEventSink> pNotify;
    std::shared_ptr<RunControlWord> pRunControl;
    int nKind = CRAWL_KIND_MEMBER;
    int nMode = 0;
    int nStartPage = 1;
    int nLastPage = 0;
    std::string strCondition;  // GBK: industry "^" region, any length
    std::string strStorePath;  // the store that collected records are appended to
    int round = 1;             // the walk of the search the job is part of (EntryKey.h)
    // A retry: the walk each search of its failures is at now, whose entries the pages are.
    std::map<std::string, int> rounds;
    // The companies of the run, shared by every worker of it (none: no company is skipped).
    std::shared_ptr<RunLedger> ledger;
    // The run's claim on the kept failures it fetches again, shared by every worker of it.
    std::string claimToken;
    // Kept failures: in retry mode what to fetch again; in collect mode the ones the pages may
    // meet again (a contact page that succeeds now fills its kept row).
    std::vector<store::KeptFailure> failures;
    CrawlOptions options;
    // The run's pacer, which a worker the watchdog starts goes on with (none: the worker
    // makes its own from the options' lanes and delay).
    std::shared_ptr<LanePacer> pacer;
};

}  // namespace crawl
