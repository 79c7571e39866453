#pragma once
// How a worker tries a failed fetch again: a failure that can be retried is tried up to
// `maxRetries` more times, waiting `delays[i]` before retry i+1, or what the server's
// Retry-After asked. Failures that are still failures after that count toward an outage:
// `outageAfter` of them in a row end the run as a network failure.

#include <chrono>
#include <functional>
#include <vector>

#include "crawl/FetchResult.h"
#include "crawl/RunControl.h"

namespace crawl {

struct RetryPolicy {
    int maxRetries = 2;
    std::vector<std::chrono::milliseconds> delays{std::chrono::seconds(1), std::chrono::seconds(4)};
    int outageAfter = 5;

    // The wait before retry number `retry` (1 for the first) after `failure`.
    std::chrono::milliseconds WaitBefore(int retry, const FetchResult& failure) const;
};

// Waits for `d` unless `stop` is requested first; true when it was. The default waits on the
// stop token itself; tests pass one that only records the waits.
using BackoffWaiter = std::function<bool(std::chrono::milliseconds d, StopToken& stop)>;
BackoffWaiter RealTimeWaiter();

}  // namespace crawl
