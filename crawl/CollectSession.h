#pragma once
// The rules of a run, in one place for the window and the command line. A driver turns user
// input into calls here, hands over every event its workers post (on the driver's own thread),
// calls Tick() every 100 ms or so, and shows the updates it gets back. The session decides:
// - which worker is current: starting a worker stops the one before it, and a pre-collect
//   answer that is not the current worker's is ignored;
// - what an event of an earlier worker may still do: a worker retired by the watchdog belongs
//   to the same run, so its stored record counts; a worker of an earlier run has its record
//   stored, but it neither counts for, pauses nor ends the run in progress;
// - the run's record and page totals across watchdog restarts, and the page in progress,
//   saved in the store under the run's search, so the next run of that search resumes there;
// - the pause after every N records of the run and the watchdog (RunController);
// - the failures kept in this run, and how the run ended.

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "crawl/Clock.h"
#include "crawl/CollectRequest.h"
#include "crawl/CrawlEvent.h"
#include "crawl/CrawlJob.h"
#include "crawl/RunController.h"
#include "store/RunRecord.h"

namespace store {
class IRecordStore;
}  // namespace store

namespace crawl {

struct RunEnd {
    // Challenged: the site kept refusing the run (verification pages, too many visits, statuses
    // the table of answers does not name). ProxyAuth: the proxy asked for credentials (407).
    enum class How { Finished, Stopped, NetFailed, Challenged, ProxyAuth, StoreFailed, Crashed };
    How how = How::Finished;
    std::string reason;                        // UTF-8, for the failures
    std::vector<store::KeptFailure> failures;  // kept in this run and still failing
    bool walkFinished = false;                 // a collect committed the search's last page
};

struct SessionUpdate {
    enum class Kind {
        None,
        PreCollected,      // pages, matches
        PreCollectFailed,  // reason
        PageStarted,       // page
        RecordSaved,       // rowId; counted: it belongs to the run in progress
        FetchFailed,       // failure
        RunEnded,          // end
        LanesChanged,      // lanes: the lanes in use now
    };
    Kind kind = Kind::None;
    std::int64_t pages = 0;
    std::int64_t matches = 0;
    int page = 0;
    int lanes = 0;
    std::int64_t rowId = 0;
    store::MemberRecord record;  // RecordSaved: what was stored
    int httpStatus = 0;          // RecordSaved: its contact page's status
    bool counted = false;
    store::KeptFailure failure;
    RunEnd end;
    std::string reason;
    int status = 0;  // PreCollectFailed: the HTTP status the site answered with, 0 for none
};

// Where a collect of `condition` (GBK "industry^region") starts when the user names no page:
// the page its last walk stopped or broke off at (a search that shrank since: its last page
// `lastPage`, when known); 1 when that walk finished or the search was never collected. A
// shared store hands out its pages itself: 1, the whole range. Throws StoreError.
int DefaultStartPage(store::IRecordStore& store, const std::string& condition, int lastPage);

// Why clearing `store` would pull the ground from under other collectors ("有 N 个采集器正在使用
// 这个共享数据库，"), or nothing when none works on it. Throws StoreError.
std::string OthersAtWork(store::IRecordStore& store);

class CollectSession {
  public:
    // `sink` receives every worker's events; `launch` starts workers (real ones when empty).
    CollectSession(const Clock& clock, std::shared_ptr<IEventSink> sink,
                   RunController::Launcher launch = {});
    ~CollectSession();

    // Each start throws std::system_error when no thread can be had.
    // Learns the totals of a search; refused (false) while a run is in progress.
    bool StartPreCollect(const std::string& condition, const RetryPolicy& retry = {});
    // Walks the result pages into `store` (which also keeps the page in progress). A page or
    // contact page kept from an earlier run that the walk meets again is fetched and healed.
    void StartCollect(const CollectRequest& request, store::IRecordStore& store);
    // Fetches every kept failure of `store` again (those of request.failureIds when it names
    // any); false when none is kept.
    bool StartRetry(const CollectRequest& request, store::IRecordStore& store);

    // Stops the run (or the pre-collect) in progress: its workers finish the record in hand.
    // Gives the run's end when a run was in progress.
    std::optional<SessionUpdate> Stop();
    // Fires the end of a pause and the watchdog (not while `allowRestart` is false).
    void Tick(bool allowRestart = true);
    SessionUpdate Handle(const CrawlEvent& event);
    // Stops every worker and waits for them, at most `timeout` in all.
    bool Shutdown(std::chrono::milliseconds timeout);
    // Before the store is cleared: every earlier worker stops and stores nothing more, so no
    // record of an earlier run lands after the clear. A write in progress is finished first.
    void DiscardEarlierWork();
    size_t LiveWorkers() { return controller_.LiveWorkers(); }
    // The store given to the run is about to go: nothing more is written through it (the
    // run's workers have connections of their own).
    void ForgetStore() { store_ = nullptr; }

    // How often a run renews its entry in the record of runs while it works.
    static constexpr std::chrono::seconds kRunRenewEvery{10};

    bool Running() const { return running_; }
    bool PreCollecting() const { return precollectWorker_ != 0; }
    int Records() const { return records_; }
    int Page() const { return page_; }
    // A retry: the kept failures it took, and those of them fetched again so far (healed or
    // kept again).
    int RetryTotal() const { return retryTotal_; }
    int Retried() const { return static_cast<int>(retried_.size()); }
    // The lanes the run uses now (fewer than asked for while the site is overloaded).
    int Lanes() const { return lanes_; }
    // The failures kept by this run's workers and not healed since; a worker stopped at the
    // end of a run may still add one after the run's end was reported.
    std::vector<store::KeptFailure> Failures() const;
    int Restarts() const { return controller_.Restarts(); }
    // The run's entry in the store's record of runs (0: none could be written).
    std::int64_t RunRecordId() const { return run_.id; }
    // The last run as it ended (id 0 before any ended), with what its workers stored after.
    const store::RunRecord& EndedRun() const { return endedRun_; }
    RunController& Controller() { return controller_; }

  private:
    void Launch(CrawlJob job);
    // Starts a collect or retry run of `job` (its mode and pages set) into `store`.
    void BeginRun(CrawlJob job, const CollectRequest& request, store::IRecordStore& store);
    void NoteCurrentWorker();
    SessionUpdate End(RunEnd::How how, std::string reason = {}, bool walkFinished = false);
    // Closes the run's entry in the record of runs (`outcome`: in place of how it ended).
    void RecordRunEnd(RunEnd::How how, bool walkFinished, const char* outcome = nullptr);
    bool OfThisRun(int worker) const;

    std::shared_ptr<IEventSink> sink_;
    RunController controller_;
    store::IRecordStore* store_ = nullptr;
    bool running_ = false;
    bool saveProgress_ = false;      // a collect run keeps its page in progress; a retry does not
    std::string condition_;          // the search of the run: its page is kept under it
    bool reachesSearchEnd_ = false;  // the run's last page is the search's, as pre-collected
    int round_ = 1;                  // the walk of the search the run is part of
    int retryTotal_ = 0;
    std::set<std::int64_t> retried_;
    int runSerial_ = 0;
    std::map<int, int> runOfWorker_;
    int precollectWorker_ = 0;
    int records_ = 0;
    int page_ = 0;
    int lanes_ = 1;
    std::map<std::int64_t, store::KeptFailure> failures_;
    const Clock& clock_;
    store::RunRecord run_;       // the run on record; its counts grow with the run
    store::RunRecord endedRun_;  // the last run, once ended: late records still count
    // Counts what a worker of the ended run stored on its way out.
    void CountLate(bool stored, bool complete);
    Clock::TimePoint runRenewed_;  // when its entry was last renewed
};

// How a run ended, as the record of runs shows it.
std::string OutcomeText(RunEnd::How how, bool keptFailures);

}  // namespace crawl
