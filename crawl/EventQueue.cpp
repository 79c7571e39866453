#include "crawl/EventQueue.h"

namespace crawl {

void EventQueue::Post(CrawlEvent n) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        queue_.push_back(std::move(n));
    }
    ready_.notify_one();
}

std::optional<CrawlEvent> EventQueue::Take(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!ready_.wait_for(lock, timeout, [this] { return !queue_.empty(); })) {
        return std::nullopt;
    }
    CrawlEvent n = std::move(queue_.front());
    queue_.pop_front();
    return n;
}

}  // namespace crawl
