#pragma once

#include <chrono>

// The time source of the pacing rules, so tests can move time by hand.
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
