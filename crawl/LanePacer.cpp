#include "crawl/LanePacer.h"

#include <algorithm>

namespace crawl {

LanePacer::LanePacer(int lanes, std::chrono::milliseconds spacing)
    : lanes_(std::max(1, lanes)), inUse_(lanes_), spacing_(spacing) {}

int LanePacer::LanesInUse() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return inUse_;
}

Clock::TimePoint LanePacer::ReadyAt(const std::string& host) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = hosts_.find(host);
    if (it == hosts_.end()) {
        return Clock::TimePoint::min();
    }
    const Host& h = it->second;
    Clock::TimePoint ready = h.heldUntil;
    if (h.started) {
        ready = std::max(ready, h.lastStart + spacing_);
    }
    return ready;
}

void LanePacer::Started(const std::string& host, Clock::TimePoint now) {
    std::lock_guard<std::mutex> lock(mutex_);
    Host& h = hosts_[host];
    h.lastStart = now;
    h.started = true;
}

bool LanePacer::Answered(const std::string& host, const FetchResult& result,
                         Clock::TimePoint started, Clock::TimePoint now) {
    std::lock_guard<std::mutex> lock(mutex_);
    const int before = inUse_;
    if (result.retryAfter) {
        Host& h = hosts_[host];
        h.heldUntil = std::max(h.heldUntil, now + *result.retryAfter);
    }
    // A refusal (429, 503, a verification page) is the site pushing back: fewer lanes.
    if (result.answer == Answer::Refusal) {
        if (started >= lastHalving_) {
            inUse_ = std::max(1, inUse_ / 2);
            lastHalving_ = now;
        }
        successes_ = 0;
    } else if (result.ok) {
        if (++successes_ >= kSuccessesPerLane) {
            successes_ = 0;
            inUse_ = std::min(lanes_, inUse_ + 1);
        }
    } else {
        successes_ = 0;
    }
    return inUse_ != before;
}

std::string HostOf(const std::string& address) {
    size_t begin = address.find("://");
    begin = begin == std::string::npos ? 0 : begin + 3;
    const size_t end = address.find_first_of("/?#", begin);
    return address.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
}

}  // namespace crawl
