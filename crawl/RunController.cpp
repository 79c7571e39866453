#include "crawl/RunController.h"

#include <algorithm>

namespace crawl {

RunController::RunController(const Clock& clock, Launcher launch)
    : clock_(clock), launch_(std::move(launch)) {
    if (!launch_) {
        launch_ = [](const CrawlJob& job) { return CrawlWorker::Start(job, DefaultCrawlDeps()); };
    }
}

RunController::~RunController() {
    Shutdown(std::chrono::milliseconds(0));
}

void RunController::StartWorker(CrawlJob job) {
    job.pRunControl = word_;
    word_->store(RunState::Empty);
    std::unique_ptr<CrawlWorker> worker = launch_(job);
    if (current_) {
        // One crawl at a time: the worker before is told to leave (it finishes its record in
        // hand) and is joined once it has.
        current_->RequestStop();
        retired_.push_back(std::move(current_));
    }
    current_ = std::move(worker);
    lastJob_ = std::move(job);
}

void RunController::BeginRun(const PacingSettings& settings) {
    settings_ = settings;
    running_ = true;
    pauseEnd_.reset();
    watchdogDue_.reset();  // the watchdog only runs after the first record of a run
}

void RunController::Stop() {
    running_ = false;
    word_->store(RunState::Stop);
    pauseEnd_.reset();
    watchdogDue_.reset();
    if (current_) {
        current_->RequestStop();
    }
    for (auto& w : retired_) {
        w->RequestStop();
    }
}

void RunController::OnPageStarted(int page) {
    pagesDone_ = page;
    // A new page is progress too (its companies may all be skipped as known): a watchdog
    // that runs starts over.
    if (running_ && watchdogDue_) {
        ArmWatchdog();
    }
}

void RunController::OnProgress() {
    if (running_ && watchdogDue_) {
        ArmWatchdog();
    }
}

void RunController::OnRecordSaved(int count) {
    if (!running_) {
        return;
    }
    watchdogDue_.reset();
    const int every = settings_.nPagesPerPause;
    if (every > 0 && count > 0 && count % every == 0 && word_->load() != RunState::Stop) {
        word_->store(RunState::Pause);
        pauseEnd_ = clock_.Now() + std::chrono::seconds(std::max(0, settings_.nPauseSeconds));
        return;  // the watchdog waits for the end of the pause
    }
    if (!pauseEnd_) {
        ArmWatchdog();
    }
}

void RunController::OnBackingOff(std::chrono::milliseconds wait) {
    if (running_ && watchdogDue_ && settings_.nTimeoutSeconds > 0) {
        const Clock::TimePoint due =
            clock_.Now() + wait + std::chrono::seconds(settings_.nTimeoutSeconds);
        watchdogDue_ = std::max(*watchdogDue_, due);
    }
}

void RunController::OnRunEnded() {
    running_ = false;
    pauseEnd_.reset();
    watchdogDue_.reset();
}

void RunController::ArmWatchdog() {
    if (settings_.nTimeoutSeconds > 0) {
        watchdogDue_ = clock_.Now() + std::chrono::seconds(settings_.nTimeoutSeconds);
    }
}

void RunController::Tick(bool allowRestart) {
    retired_.erase(std::remove_if(retired_.begin(), retired_.end(),
                                  [](const std::unique_ptr<CrawlWorker>& w) {
                                      return w->Finished() && w->Join(std::chrono::milliseconds(0));
                                  }),
                   retired_.end());
    if (!running_) {
        return;
    }
    const Clock::TimePoint now = clock_.Now();
    if (pauseEnd_ && now >= *pauseEnd_) {
        pauseEnd_.reset();
        if (word_->load() == RunState::Pause) {
            word_->store(RunState::Running);
        }
        ArmWatchdog();
    }
    if (allowRestart && watchdogDue_ && now >= *watchdogDue_ && lastJob_) {
        watchdogDue_.reset();
        // The stalled worker is told to stop first; the fresh one starts at the page in progress.
        if (current_) {
            current_->RequestStop();
        }
        CrawlJob job = *lastJob_;
        if (pagesDone_ > 0) {
            job.nStartPage = pagesDone_;  // a shared search has no page in progress: its range
        }
        ++restarts_;
        StartWorker(std::move(job));
    }
}

size_t RunController::LiveWorkers() {
    size_t n = 0;
    if (current_ && !current_->Finished()) {
        ++n;
    }
    for (auto& w : retired_) {
        if (!w->Finished()) {
            ++n;
        }
    }
    return n;
}

void RunController::DiscardLiveWorkers() {
    if (current_) {
        current_->Discard();
    }
    for (auto& w : retired_) {
        w->Discard();
    }
}

bool RunController::Shutdown(std::chrono::milliseconds timeout) {
    Stop();
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    bool all = true;
    auto join = [&](std::unique_ptr<CrawlWorker>& w) {
        if (!w) {
            return;
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (!w->Join(std::max(left, std::chrono::milliseconds(0)))) {
            all = false;
        }
    };
    join(current_);
    for (auto& w : retired_) {
        join(w);
    }
    if (!all) {
        // Out of time: a worker still in a slow fetch gives it up (its record is not stored),
        // so that no worker outlives the run.
        all = true;
        auto abandon = [&](std::unique_ptr<CrawlWorker>& w) {
            if (w && !w->Finished()) {
                w->Abandon();
                // (A shutdown that gives no time, a destructor's, does not wait for it either.)
                all = timeout.count() > 0 && w->Join(kAbandonWait) && all;
            }
        };
        abandon(current_);
        for (auto& w : retired_) {
            abandon(w);
        }
    }
    return all;
}

}  // namespace crawl
