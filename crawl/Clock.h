#pragma once
// The time source of every rule that depends on time (pacing, pauses, the watchdog, back-off
// and lanes, shared claims), so tests can move time by hand.

#include <chrono>

namespace crawl {

class Clock {
  public:
    using TimePoint = std::chrono::steady_clock::time_point;
    virtual ~Clock() = default;
    virtual TimePoint Now() const = 0;
};

class SteadyClock : public Clock {
  public:
    TimePoint Now() const override { return std::chrono::steady_clock::now(); }
};

// The clock of real time, for parts not given one.
inline const Clock& RealTime() {
    static const SteadyClock clock;
    return clock;
}

}  // namespace crawl
