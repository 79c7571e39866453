#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>

#include "crawl/CrawlEvent.h"

namespace crawl {

// A sink that queues events for a thread that drains them in order.
class EventQueue : public IEventSink {
  public:
    void Post(CrawlEvent event) override;
    // The next event, waiting at most `timeout` for one.
    std::optional<CrawlEvent> Take(std::chrono::milliseconds timeout);

  private:
    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<CrawlEvent> queue_;
};

}  // namespace crawl
