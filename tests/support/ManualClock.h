#pragma once

#include <atomic>

#include "crawl/Clock.h"

// A clock that only moves when a test moves it. Workers may read it while the test moves it.
class ManualClock : public crawl::Clock {
  public:
    TimePoint Now() const override { return TimePoint(TimePoint::duration(now_.load())); }
    void Advance(std::chrono::nanoseconds d) {
        now_ += std::chrono::duration_cast<TimePoint::duration>(d).count();
    }

  private:
    std::atomic<TimePoint::duration::rep> now_{
        std::chrono::steady_clock::now().time_since_epoch().count()};
};
