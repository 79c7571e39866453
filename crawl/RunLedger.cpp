#include "crawl/RunLedger.h"

#include <chrono>

RunLedger::Claim RunLedger::Take(const std::string& address, StopToken* stop) {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        auto it = companies_.find(address);
        if (it == companies_.end()) {
            companies_.emplace(address, State::InHand);
            return Claim::Mine;
        }
        if (it->second == State::Done) {
            return Claim::Done;
        }
        if (stop != nullptr && stop->StopRequested()) {
            return Claim::Stopped;
        }
        // The stop token has its own signal; look at it again every 100 ms.
        changed_.wait_for(lock, std::chrono::milliseconds(100));
    }
}

void RunLedger::Done(const std::string& address) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        companies_[address] = State::Done;
    }
    changed_.notify_all();
}

void RunLedger::Release(const std::string& address) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = companies_.find(address);
        if (it != companies_.end() && it->second == State::InHand) {
            companies_.erase(it);
        }
    }
    changed_.notify_all();
}
