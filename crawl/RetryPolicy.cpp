#include "crawl/RetryPolicy.h"

#include <algorithm>

namespace crawl {

std::chrono::milliseconds RetryPolicy::WaitBefore(int retry, const FetchResult& failure) const {
    if (failure.retryAfter) {
        return std::chrono::duration_cast<std::chrono::milliseconds>(*failure.retryAfter);
    }
    if (delays.empty()) {
        return std::chrono::milliseconds(0);
    }
    const size_t i = static_cast<size_t>(std::max(1, retry)) - 1;
    return delays[std::min(i, delays.size() - 1)];
}

BackoffWaiter RealTimeWaiter() {
    return [](std::chrono::milliseconds d, StopToken& stop) { return stop.WaitFor(d); };
}

}  // namespace crawl
