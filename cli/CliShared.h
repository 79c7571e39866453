#pragma once
// What collector-cli's commands share: messages, the store's location, one collect of a search.

#include <optional>
#include <string>

#include "cli/CliCommands.h"
#include "crawl/CollectSession.h"
#include "store/Store.h"

struct CliOptions;

bool StopSignalled();
// Prints `message` (control characters escaped) on stderr and gives `code`.
int Fail(const std::string& message, int code = kExitFailure);
// A store failure, or the store call given up for Ctrl+C (a stop, not a failure).
int StoreFailed(const store::StoreError& e);
// --store, or the default store.
std::string StorePathOf(const CliOptions& o);

// One collect of the search of `o` (its industry and region), as collect runs it.
struct SearchRun {
    int exit = kExitOk;                // collect's exit code for it
    std::optional<crawl::RunEnd> end;  // none: no run began (nothing found, or see `reason`)
    bool nothingToDo = false;          // the directory lists no company for it
    bool preCollectFailed = false;     // the directory could not be reached or refused it
    std::string reason;                // why no run began
    store::RunRecord run;              // the run as it ended on record
    int pages = 0;                     // result pages the run went through
};
// Pre-collects (unless --last is given), starts where the search's walk says and runs to the
// end, reporting as collect does; `how` is who started it (RunRecord.h). Throws StoreError.
SearchRun CollectSearch(const CliOptions& o, store::IRecordStore& store, const char* how);

// The commands beside collect, each in a file of its own.
int RunRefresh(const CliOptions& o);
int RunSearch(const CliOptions& o);
int RunSchedule(const CliOptions& o);
