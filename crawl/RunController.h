#pragma once
// The pacing and watchdog of a collect run, shared by the window and the command line.
//
// The driver starts workers through it, hands it the notifications it drains on its own thread
// and calls Tick() often (every 100 ms or so). It pauses the crawl after every N records saved
// by a worker and resumes it after the wait; when no record arrives for the time-out it stops
// the stalled worker and starts a fresh one at the page in progress. It keeps these promises:
// - a worker that was told to stop is never revived, so two workers never walk the same pages;
// - no watchdog runs during a pause; it is armed again when the pause ends;
// - the pause rule never replaces "STOP" and applies only while a run is in progress;
// - every-N 0 never pauses, a time-out of 0 means no watchdog.

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "crawl/Clock.h"
#include "crawl/CrawlJob.h"
#include "crawl/CrawlWorker.h"

namespace crawl {

struct PacingSettings {
    int nPagesPerPause = 30;  // records per pause, despite the historic name
    int nPauseSeconds = 10;
    int nTimeoutSeconds = 15;
};

class RunController {
  public:
    using Launcher = std::function<std::unique_ptr<CrawlWorker>(const CrawlJob&)>;

    // `launch` starts a worker (CrawlWorker::Start with the default dependencies when empty).
    explicit RunController(const Clock& clock, Launcher launch = {});
    ~RunController();

    std::shared_ptr<RunControlWord> Word() const { return word_; }

    // Zeroes the run-control word and starts a worker for `job` (its word is set here); the
    // worker started before is told to stop.
    // Throws std::system_error when no thread can be had.
    void StartWorker(CrawlJob job);

    // A collect run begins: call before starting its worker.
    void BeginRun(const PacingSettings& settings);
    // "STOP": every live worker leaves at its next company entry; timers are dropped.
    void Stop();
    bool Running() const { return running_; }
    bool Paused() const { return pauseEnd_.has_value(); }
    // When the pause in progress ends (none while not paused).
    std::optional<Clock::TimePoint> PauseEnd() const { return pauseEnd_; }

    // The driver's notifications, on its own thread. `count`: the run's records so far.
    void OnPageStarted(int page);
    // Progress that is no page in progress (a shared search's page done): the watchdog that
    // runs starts over.
    void OnProgress();
    void OnRecordSaved(int count);
    void OnRunEnded();  // finished, or the store failed
    // The worker waits `wait` before a retry: a running watchdog gives it that long besides.
    void OnBackingOff(std::chrono::milliseconds wait);

    // Fires what is due: the end of a pause ("RUNNING") and, unless `allowRestart` is false,
    // the watchdog restart (which then stays due).
    void Tick(bool allowRestart = true);

    int PagesDone() const { return pagesDone_; }
    // Serial number of the worker started last (0 before the first).
    int CurrentWorkerId() const { return current_ ? current_->Id() : 0; }
    int Restarts() const { return restarts_; }
    size_t LiveWorkers();
    // Every worker still alive stores nothing more; a write in progress is finished first.
    void DiscardLiveWorkers();
    // Stops every worker and waits for them, at most `timeout` in all; a worker still running
    // then gives up its fetch in progress and is waited for kAbandonWait more. True when all
    // ended.
    bool Shutdown(std::chrono::milliseconds timeout);
    // How long a worker abandoned by Shutdown has to end (its transfer gives up within 1 s).
    static constexpr std::chrono::seconds kAbandonWait{5};

  private:
    void ArmWatchdog();

    const Clock& clock_;
    Launcher launch_;
    std::shared_ptr<RunControlWord> word_ = std::make_shared<RunControlWord>(RunState::Empty);
    std::unique_ptr<CrawlWorker> current_;
    std::vector<std::unique_ptr<CrawlWorker>> retired_;
    std::optional<CrawlJob> lastJob_;
    PacingSettings settings_;
    bool running_ = false;
    int pagesDone_ = 0;
    int restarts_ = 0;
    std::optional<Clock::TimePoint> pauseEnd_;
    std::optional<Clock::TimePoint> watchdogDue_;
};

}  // namespace crawl
