#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>

#include "crawl/Notification.h"

// A sink that queues notifications for a thread that drains them in order.
class NotificationQueue : public INotificationSink {
  public:
    void Post(CrawlNotification n) override;
    // The next notification, waiting at most `timeout` for one.
    std::optional<CrawlNotification> Take(std::chrono::milliseconds timeout);

  private:
    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<CrawlNotification> queue_;
};
