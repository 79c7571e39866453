#include "crawl/RunLedger.h"

#include <chrono>

namespace crawl {

RunLedger::Claim RunLedger::Take(const std::string& key, StopToken* stop) {
    std::unique_lock<std::mutex> lock(mutex_);
    bool waited = false;
    for (;;) {
        if (inHand_.insert(key).second) {
            return waited ? Claim::Waited : Claim::Mine;
        }
        if (stop != nullptr && stop->StopRequested()) {
            return Claim::Stopped;
        }
        waited = true;
        // The stop token has its own signal; look at it again every 100 ms.
        changed_.wait_for(lock, std::chrono::milliseconds(100));
    }
}

void RunLedger::Release(const std::string& key) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        inHand_.erase(key);
    }
    changed_.notify_all();
}

size_t RunLedger::InHand() {
    std::lock_guard<std::mutex> lock(mutex_);
    return inHand_.size();
}

}  // namespace crawl
