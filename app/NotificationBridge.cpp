#include "app/NotificationBridge.h"

#include <QMetaObject>

NotificationBridge::NotificationBridge(QObject* context, Handler handler)
    : context_(context), handler_(std::move(handler)) {}

void NotificationBridge::Post(CrawlEvent n) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (context_ == nullptr) {
        return;
    }
    Handler handler = handler_;
    QMetaObject::invokeMethod(
        context_, [handler, n = std::move(n)]() { handler(n); }, Qt::QueuedConnection);
}

void NotificationBridge::Detach() {
    std::lock_guard<std::mutex> lock(mutex_);
    context_ = nullptr;
}
