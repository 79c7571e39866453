#pragma once
// How hard a worker may press the directory: how many of its lanes it uses and when the next
// request to a host may start.
// - Two requests to the same host start at least `spacing` apart.
// - A refusal (Answer.h: 429, 503, a verification page) halves the lanes in use (never below
//   one), once per overload: the answers to requests that had started before the last halving
//   do not halve again. An answer that says Retry-After holds its host until that time.
// - After kSuccessesPerLane answered pages in a row one lane comes back, up to the lanes the
//   run was given.
// Time comes from the caller, so the rules can be tested without waiting. A run's pacer outlives
// a watchdog restart (the fresh worker goes on with it), so it may be used from two threads.

#include <chrono>
#include <map>
#include <mutex>
#include <string>

#include "crawl/Clock.h"
#include "crawl/FetchResult.h"

namespace crawl {

class LanePacer {
  public:
    LanePacer(int lanes, std::chrono::milliseconds spacing);

    int LanesInUse() const;
    // The earliest time a request to `host` may start.
    Clock::TimePoint ReadyAt(const std::string& host) const;
    void Started(const std::string& host, Clock::TimePoint now);
    // Takes the answer to a request started at `started` into account; true when the lanes in
    // use changed.
    bool Answered(const std::string& host, const FetchResult& result, Clock::TimePoint started,
                  Clock::TimePoint now);

    static constexpr int kSuccessesPerLane = 50;

  private:
    struct Host {
        Clock::TimePoint lastStart;
        Clock::TimePoint heldUntil;
        bool started = false;
    };
    int lanes_;
    int inUse_;
    std::chrono::milliseconds spacing_;
    int successes_ = 0;
    Clock::TimePoint lastHalving_ = Clock::TimePoint::min();
    std::map<std::string, Host> hosts_;
    mutable std::mutex mutex_;
};

// The host of an address ("http://host:port/path" gives "host:port").
std::string HostOf(const std::string& address);

}  // namespace crawl
