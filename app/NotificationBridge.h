#pragma once
// Carries worker notifications to the window's thread as queued calls. A worker that outlives
// the window posts into nothing instead of into a destroyed object.

#include <QObject>
#include <QPointer>
#include <functional>
#include <memory>
#include <mutex>

#include "crawl/Notification.h"

class NotificationBridge : public INotificationSink {
  public:
    using Handler = std::function<void(const CrawlNotification&)>;
    NotificationBridge(QObject* context, Handler handler);
    void Post(CrawlNotification n) override;
    // Called by the window when it goes: later notifications are dropped.
    void Detach();

  private:
    std::mutex mutex_;
    QObject* context_;
    Handler handler_;
};
