#pragma once
// The companies of one run, by contact address, shared by every worker of the run. A worker
// takes an address before it fetches the contact page and marks it done once the company's
// row is stored, so a worker started by the watchdog over the same page never stores a
// company twice: it skips what is done and waits for what the stalled worker still has in
// hand (which that worker finishes or lets go).

#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <utility>

#include "crawl/RunControl.h"

class RunLedger {
  public:
    enum class Claim {
        Mine,     // fetch and store it
        Done,     // already stored in this run: skip it
        Stopped,  // the caller was told to stop while waiting
    };
    Claim Take(const std::string& address, StopToken* stop);
    void Done(const std::string& address);
    void Release(const std::string& address);

  private:
    enum class State { InHand, Done };
    std::mutex mutex_;
    std::condition_variable changed_;
    std::map<std::string, State> companies_;
};

// A company taken in a ledger: let go when the hold ends, unless it was marked done. Empty
// holds (no ledger) do nothing.
class LedgerHold {
  public:
    LedgerHold() = default;
    LedgerHold(RunLedger* ledger, std::string key) : ledger_(ledger), key_(std::move(key)) {}
    LedgerHold(LedgerHold&& other) noexcept { *this = std::move(other); }
    LedgerHold& operator=(LedgerHold&& other) noexcept {
        if (this != &other) {
            End();
            ledger_ = std::exchange(other.ledger_, nullptr);
            key_ = std::move(other.key_);
            done_ = other.done_;
        }
        return *this;
    }
    ~LedgerHold() { End(); }
    void MarkDone() { done_ = true; }

  private:
    void End() {
        if (ledger_ != nullptr) {
            done_ ? ledger_->Done(key_) : ledger_->Release(key_);
            ledger_ = nullptr;
        }
    }
    RunLedger* ledger_ = nullptr;
    std::string key_;
    bool done_ = false;
};
