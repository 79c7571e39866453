#include "crawl/CrawlJob.h"

#include <algorithm>

namespace crawl {

CrawlOptions CrawlOptions::Bounded() const {
    CrawlOptions bounded = *this;
    bounded.lanes = std::clamp(lanes, 1, kMaxLanes);
    bounded.delay = std::max(delay, std::chrono::milliseconds(0));
    bounded.lease = std::max(lease, std::chrono::seconds(1));
    return bounded;
}

}  // namespace crawl
