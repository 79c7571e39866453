#pragma once
// The command line of collector-cli:
//   collector-cli [--store PATH] precollect [--industry TEXT] [--region TEXT] [--proxy URL]
//   collector-cli [--store PATH] collect [--industry TEXT] [--region TEXT] [--start P] [--last L]
//                                        [--every N] [--wait S] [--timeout T] [--retry-failed]
//                                        [--no-skip-known] [--parallel K] [--delay MS]
//                                        [--proxy URL]
//   collector-cli [--store PATH] export --format text|csv|xlsx [--encoding gbk|utf-8] [--unique]
//                                       [--complete-only] [--industry TEXT] [--region TEXT]
//                                       [--since YYYY-MM-DD] [--new-today] [--since-last-run]
//                                       [--imported]
//                                       [--columns nine|all] FILE|-
//   collector-cli [--store PATH] clear [--force]
//   collector-cli [--store PATH] import [--encoding gbk|utf-8] [--no-skip-known] FILE|-
//   collector-cli [--store PATH] search add [--industry TEXT] [--region TEXT] [--name NAME]
//   collector-cli [--store PATH] search list | search remove NAME
//   collector-cli [--store PATH] refresh [NAME...] [--export-new DIR] [--wait-busy MIN]
//                                        [--retry-broken LIST] [--by-schedule] [collect's
//                                        --every --wait --timeout --parallel --delay --proxy
//                                        --skip-known --no-skip-known]
//   collector-cli [--store PATH] schedule add (--daily HH:MM | --weekly MON,THU HH:MM)
//                                        [--export-new DIR] [NAME...]
//   collector-cli schedule list | schedule remove ID

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "crawl/RunSettings.h"

struct CliOptions {
    enum class Command {
        None,
        PreCollect,
        Collect,
        Export,
        Clear,
        Import,
        Search,
        Refresh,
        Schedule
    };
    Command command = Command::None;
    bool help = false;
    std::string storePath;  // empty: data.db beside the executable
    std::string industry;   // UTF-8, as typed
    std::string region;
    std::optional<int> startPage;
    std::optional<int> lastPage;
    // collect: the numbers of the settings table (--every, --wait, --timeout, --parallel)
    crawl::CollectRequest run = crawl::DefaultRequest();
    int delayMs = 0;             // collect: between two requests to the same host
    std::string proxy;           // precollect, collect: in place of http_proxy
    bool retryFailed = false;    // collect: fetch the kept failures again instead
    bool skipKnown = true;       // collect, import: skip companies already stored (--no-skip-known)
    bool unique = false;         // export: each company once
    bool completeOnly = false;   // export: without rows waiting for their contact page
    bool industryGiven = false;  // export: only rows of searches with this industry
    bool regionGiven = false;    // export: only rows of searches with this region
    std::string since;           // export: "YYYY-MM-DD", rows that became leads that day or later
    bool newToday = false;       // export: rows collected today
    bool sinceLastRun = false;   // export: rows new since the last finished walk of their search
    bool imported = false;       // export: rows an import wrote
    bool allColumns = false;     // export: 采集时间 and 搜索条件 after the nine columns
    bool force = false;          // clear: also while other collectors work on a shared store
    std::string format;          // "text" or "csv"
    std::string encoding = "gbk";
    bool encodingGiven = false;  // import: without it, the file's encoding is found out
    std::string file;
    // search, schedule: "add", "list" or "remove"
    std::string action;
    std::string name;                // search add --name; search remove NAME
    std::vector<std::string> names;  // refresh, schedule add: the saved searches (none: all)
    std::string exportNew;           // refresh, schedule add: the folder of new companies
    std::chrono::seconds waitBusy = std::chrono::minutes(30);  // refresh: a busy file store
    // refresh: how long after a search broke off it is tried again, each in turn
    std::vector<std::chrono::seconds> retryBroken = {std::chrono::minutes(30),
                                                     std::chrono::minutes(60)};
    bool bySchedule = false;                 // refresh: started by the system's scheduler
    std::vector<std::string> settingsGiven;  // refresh: the keys of settings given as options
    bool skipKnownGiven = false;             // refresh: --skip-known or --no-skip-known
    bool daily = false;                      // schedule add: --daily; else --weekly
    std::string weekdays;                    // schedule add --weekly: "MON,THU"
    std::string time;                        // schedule add: "HH:MM"
    int scheduleId = 0;                      // schedule remove
};

// Parses the arguments (without the program name). On a mistake returns nothing and puts the
// reason into `error`.
std::optional<CliOptions> ParseCliOptions(const std::vector<std::string>& args, std::string& error);

// The usage text: of one command, or of all when `command` is None.
std::string CliUsage(CliOptions::Command command);
