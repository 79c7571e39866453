#pragma once
// A crawl worker on a thread of its own, with the handle its owner keeps to stop and join it.
// Its last event is always WorkerEnded, also when something unexpected escapes the job.

#include <chrono>
#include <functional>
#include <memory>
#include <thread>

#include "crawl/CSpiderThread.h"

namespace crawl {

// What a worker fetches and stores with; the defaults are libcurl and the SQLite store.
struct CrawlDeps {
    std::function<std::unique_ptr<IPageFetcher>()> makeFetcher;
    RecordWriterFactory openStore;
    BackoffWaiter wait;  // the back-off between retries; real time when empty
    // The lanes of a collect with more than one; when empty, one fetch at a time over
    // makeFetcher's fetcher.
    LaneFetcherFactory makeLanes;
    const Clock* clock = nullptr;  // the walk's time; real time when null
};
CrawlDeps DefaultCrawlDeps();

class CrawlWorker {
  public:
    // Starts the job at once on a new thread. Throws std::system_error when no thread can be had.
    static std::unique_ptr<CrawlWorker> Start(CrawlJob job, const CrawlDeps& deps);
    // Tells the worker to leave before its next company entry; a record in hand is finished.
    void RequestStop();
    // The worker stores nothing more (a write in progress is finished first).
    void Discard();
    // A fetch in progress gives up at once (the worker was told to stop and its time is up).
    void Abandon();
    // Waits until the worker has ended, at most `timeout`; true when it has.
    bool Join(std::chrono::milliseconds timeout);
    bool Finished() const;
    int Id() const { return id_; }
    // Leaves a worker that is still running to finish on its own.
    ~CrawlWorker();

  private:
    struct State;
    CrawlWorker() = default;
    std::shared_ptr<State> state_;
    std::thread thread_;
    int id_ = 0;
};

// The message shown when a worker cannot be started.
inline constexpr const char* kCannotStartThread = "Cannot Start New Thread";

}  // namespace crawl
