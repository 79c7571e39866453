#pragma once
// The run-control word: written by the driver (run, pause, stop), read by each worker's walk as
// it goes; a pause holds new fetches, a stop ends the walk after what is in hand is stored.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>

namespace crawl {

enum class RunState {
    Empty,    // a worker has just been started: go on
    Running,  // a pause has ended: go on
    Pause,    // start no new fetch until the word changes
    Stop,     // end the page loop
};

// The word itself. A walk held by a pause sleeps on it and wakes as soon as it changes, so a
// resume or a stop is seen at once rather than at the next look.
class RunControlWord {
  public:
    explicit RunControlWord(RunState state = RunState::Empty) : state_(state) {}
    RunState load() const { return state_.load(); }
    void store(RunState state) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            state_ = state;
        }
        changed_.notify_all();
    }
    // While the word says Pause, waits for it to change, at most `d`; true when it changed.
    bool WaitWhilePaused(std::chrono::milliseconds d) {
        std::unique_lock<std::mutex> lock(mutex_);
        ++held_;
        heldChanged_.notify_all();
        const bool changed =
            changed_.wait_for(lock, d, [this] { return state_.load() != RunState::Pause; });
        --held_;
        return changed;
    }
    // Waits until `walks` walks are held by the pause, at most `d`; false when they were not.
    // How a driver (or a test) knows that the pause has taken hold.
    bool WaitUntilHeld(int walks, std::chrono::milliseconds d) {
        std::unique_lock<std::mutex> lock(mutex_);
        return heldChanged_.wait_for(lock, d, [&] { return held_ >= walks; });
    }

  private:
    std::atomic<RunState> state_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::condition_variable heldChanged_;
    int held_ = 0;
};

// A stop request for one worker, which also cuts its pause short. Unlike the shared word it is
// never lifted, so a worker once told to stop cannot be revived by a later worker's start.
class StopToken {
  public:
    void RequestStop() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
            flag_ = true;
        }
        changed_.notify_all();
    }
    // The request as a flag that code which cannot wait on the token (a store waiting on its
    // server) looks at.
    const std::atomic<bool>& Flag() const { return flag_; }
    bool StopRequested() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return stop_;
    }
    // Sleeps for `d` or until a stop is requested; true when a stop was requested.
    bool WaitFor(std::chrono::milliseconds d) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, d, [this] { return stop_; });
    }

    // Holds off a clear of the store while the worker writes: gives a lock to hold across the
    // write, or nothing when the worker's records are to be dropped (the store was cleared
    // after it was told to stop).
    std::optional<std::unique_lock<std::mutex>> StoreGate() {
        std::unique_lock<std::mutex> lock(storeMutex_);
        if (discard_) {
            return std::nullopt;
        }
        return lock;
    }
    // The worker's time is up (its run is ending without it): a fetch in progress gives up.
    void Abandon() { abandon_ = true; }
    const std::atomic<bool>& AbandonFlag() const { return abandon_; }

    // From now on the worker stores nothing; a write in progress is finished first.
    void Discard() {
        std::lock_guard<std::mutex> lock(storeMutex_);
        discard_ = true;
    }

  private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    bool stop_ = false;
    std::atomic<bool> flag_{false};
    std::atomic<bool> abandon_{false};
    std::mutex storeMutex_;
    bool discard_ = false;
};

}  // namespace crawl
