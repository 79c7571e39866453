#pragma once
// What a collect or retry run is asked to do: the search, its pages, the pauses and the options
// its workers take.

#include <cstdint>
#include <string>
#include <vector>

#include "crawl/CrawlJob.h"
#include "crawl/RunController.h"

namespace crawl {

// What a collect or retry run is to do.
struct CollectRequest {
    std::string condition;  // GBK: industry "^" region (collect)
    int startPage = 1;
    int lastPage = 0;
    // The search's pages as its pre-collect counted them (0: not known). A walk that commits
    // that page finishes the search, so that its next collect starts again at page 1.
    int searchPages = 0;
    PacingSettings pacing;
    CrawlOptions options;
    std::vector<std::int64_t> failureIds;  // retry: only these kept failures (empty: all)
    // Who started the run, as the record of runs says it (store::kByWindow, kByCommandLine,
    // kByScheduler).
    std::string how;
};

}  // namespace crawl
