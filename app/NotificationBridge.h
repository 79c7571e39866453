#pragma once
// Carries worker events to the window's thread as queued calls. A worker that outlives
// the window posts into nothing instead of into a destroyed object.

#include <QObject>
#include <QPointer>
#include <functional>
#include <memory>
#include <mutex>

#include "crawl/CrawlEvent.h"

class NotificationBridge : public IEventSink {
  public:
    using Handler = std::function<void(const CrawlEvent&)>;
    NotificationBridge(QObject* context, Handler handler);
    void Post(CrawlEvent n) override;
    // Called by the window when it goes: later events are dropped.
    void Detach();

  private:
    std::mutex mutex_;
    QObject* context_;
    Handler handler_;
};
