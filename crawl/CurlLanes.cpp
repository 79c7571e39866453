#include "crawl/CurlLanes.h"

#include <curl/curl.h>

#include <algorithm>

namespace crawl {

CurlLanes::~CurlLanes() {
    CancelAll();
    lanes_.clear();  // the easy handles go before the multi handle that shared their connections
    if (multi_ != nullptr) {
        curl_multi_cleanup(multi_);
    }
}

bool CurlLanes::OpenSession(int lanes) {
    CurlGlobalInit();
    multi_ = curl_multi_init();
    if (multi_ == nullptr) {
        return false;
    }
    for (int i = 0; i < std::max(1, lanes); ++i) {
        auto lane = std::make_unique<Lane>();
        if (!lane->transfer.Open()) {
            return false;
        }
        free_.push_back(lane.get());
        lanes_.push_back(std::move(lane));
    }
    return true;
}

bool CurlLanes::Start(std::uint64_t tag, const std::string& address) {
    if (free_.empty()) {
        return false;
    }
    Lane* lane = free_.back();
    lane->tag = tag;
    lane->transfer.Begin(address, limits_);
    lane->exempt = false;
    lane->transfer.SetBudget(&budget_, false);
    if (curl_multi_add_handle(multi_, lane->transfer.Handle()) != CURLM_OK) {
        return false;
    }
    free_.pop_back();
    busy_.push_back(lane);
    return true;
}

void CurlLanes::Release(Lane* lane) {
    curl_multi_remove_handle(multi_, lane->transfer.Handle());
    lane->transfer.Drop();  // a finished transfer gave its body away already
    busy_.erase(std::remove(busy_.begin(), busy_.end(), lane), busy_.end());
    free_.push_back(lane);
}

std::vector<ILaneFetcher::Done> CurlLanes::Wait(std::chrono::milliseconds timeout) {
    std::vector<Done> done;
    if (multi_ == nullptr) {
        return done;
    }
    int running = 0;
    curl_multi_perform(multi_, &running);
    // Waits only when nothing has finished yet: a transfer done by this perform is given now.
    if (!busy_.empty() && running == static_cast<int>(busy_.size())) {
        curl_multi_poll(multi_, nullptr, 0, static_cast<int>(timeout.count()), nullptr);
        curl_multi_perform(multi_, &running);
    }
    Evict(done);
    int left = 0;
    while (CURLMsg* msg = curl_multi_info_read(multi_, &left)) {
        if (msg->msg != CURLMSG_DONE) {
            continue;
        }
        // (One evicted above left the multi handle with its message, if it had one.)
        auto lane = std::find_if(busy_.begin(), busy_.end(), [msg](Lane* l) {
            return l->transfer.Handle() == msg->easy_handle;
        });
        if (lane == busy_.end()) {
            continue;
        }
        Lane* l = *lane;
        const CURLcode rc = msg->data.result;
        FetchResult result = l->transfer.Finish(rc);
        Release(l);
        done.push_back({l->tag, std::move(result)});
        // One page at a time: the others stay in their lanes, counted against the bound,
        // until the walk has reduced this one to its record.
        break;
    }
    return done;
}

void CurlLanes::Bound(size_t limit, const std::vector<std::uint64_t>& exempt) {
    budget_.limit = limit;
    for (Lane* lane : busy_) {
        lane->exempt = std::find(exempt.begin(), exempt.end(), lane->tag) != exempt.end();
        lane->transfer.SetBudget(&budget_, lane->exempt);
    }
}

void CurlLanes::Evict(std::vector<Done>& done) {
    while (budget_.held > budget_.limit) {
        Lane* largest = nullptr;
        for (Lane* lane : busy_) {
            if (!lane->exempt && lane->transfer.BytesHeld() > 0 &&
                (largest == nullptr ||
                 lane->transfer.BytesHeld() > largest->transfer.BytesHeld())) {
                largest = lane;
            }
        }
        if (largest == nullptr) {
            return;  // only exempt transfers hold anything
        }
        FetchResult abandoned = FetchResult::Failed("内存不足，稍后再取", Answer::Transient);
        abandoned.abandoned = true;
        Release(largest);
        done.push_back({largest->tag, std::move(abandoned)});
    }
}

void CurlLanes::CancelAll() {
    while (!busy_.empty()) {
        Release(busy_.back());
    }
}

size_t CurlLanes::BytesInFlight() const {
    size_t n = 0;
    for (const Lane* lane : busy_) {
        n += lane->transfer.BytesHeld();
    }
    return n;
}

}  // namespace crawl
