#pragma once
// One run on record: a collect of a search or a retry of the kept failures, written as it
// starts and as it ends, so that the history of every search can be told and "new since the
// last run" has something to count from.

#include <cstdint>
#include <string>

namespace store {

struct RunRecord {
    std::int64_t id = 0;
    std::string industry;  // UTF-8, of the search; both empty for a retry of kept failures
    std::string region;
    std::string started;       // "YYYY-MM-DD HH:MM:SS" by the collector's clock (StoreClock.h)
    std::string ended;         // empty while the run is under way
    std::string how;           // who started it: kByWindow, kByCommandLine or kByScheduler
    std::int64_t stored = 0;   // rows the run wrote or filled
    std::int64_t newRows = 0;  // of those, the ones that became complete in the run
    std::int64_t kept = 0;     // failures the run kept and did not heal
    std::string outcome;       // as the record shows it (kRunOngoing while under way)
    bool finished = false;     // the walk committed the search's last page (or its round ended)
    std::string host;          // the machine it ran on (empty: this one, when it begins)
};

inline constexpr const char* kByWindow = "窗口";
inline constexpr const char* kByCommandLine = "命令行";
inline constexpr const char* kByScheduler = "定时";
inline constexpr const char* kRunOngoing = "进行中";
// A run whose collector is gone without ending it.
inline constexpr const char* kRunBroken = "中断";

}  // namespace store
