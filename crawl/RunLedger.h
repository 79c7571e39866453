#pragma once
// The entries a run has in hand, by key, shared by every worker of the run. A worker takes an
// entry before it fetches the contact page and lets go once its row is stored (or it gives
// up), so a worker started by the watchdog over the same page waits for what the stalled
// worker still has in hand, then looks in the store. Only entries in hand are remembered:
// what is stored is known by the store's index of entry keys, so the ledger does not grow
// with the run.

#include <condition_variable>
#include <mutex>
#include <set>
#include <string>
#include <utility>

#include "crawl/RunControl.h"

namespace crawl {

class RunLedger {
  public:
    enum class Claim {
        Mine,     // fetch and store it
        Waited,   // another worker had it in hand until now: it may be stored already
        Stopped,  // the caller was told to stop while waiting
    };
    Claim Take(const std::string& key, StopToken* stop);
    // The entry is no longer in hand (stored, kept, or given up).
    void Release(const std::string& key);
    size_t InHand();

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::set<std::string> inHand_;
};

// An entry taken in a ledger: let go when it is marked done or the hold ends. Empty holds (no
// ledger) do nothing.
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
        }
        return *this;
    }
    ~LedgerHold() { End(); }
    void MarkDone() { End(); }

  private:
    void End() {
        if (ledger_ != nullptr) {
            ledger_->Release(key_);
            ledger_ = nullptr;
        }
    }
    RunLedger* ledger_ = nullptr;
    std::string key_;
};

}  // namespace crawl
