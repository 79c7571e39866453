#pragma once

#include "crawl/Clock.h"

// A clock that only moves when a test moves it.
class ManualClock : public Clock {
  public:
    TimePoint Now() const override { return now_; }
    void Advance(std::chrono::seconds d) { now_ += d; }

  private:
    TimePoint now_ = std::chrono::steady_clock::now();
};
