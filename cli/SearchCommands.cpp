// search and schedule: the saved searches in the store, and the times the system's scheduler
// refreshes them.

#include <iostream>

#include "cli/CliOptions.h"
#include "cli/CliShared.h"
#include "platform/FileSystem.h"
#include "platform/ProgramFolders.h"
#include "platform/Schedule.h"
#include "platform/StopSignal.h"
#include "store/SavedSearch.h"
#include "text/Printable.h"

using namespace store;

int RunSearch(const CliOptions& o) {
    try {
        auto store = OpenStore(StorePathOf(o), &platform::StopSignalled());
        if (o.action == "add") {
            SavedSearch search{o.name, o.industry, o.region};
            if (search.name.empty()) {
                search.name = DefaultSearchName(o.industry, o.region);
            }
            if (const std::string refusal = SaveSearch(*store, search); !refusal.empty()) {
                return Fail(refusal, kExitUsage);
            }
            std::cout << "saved: " << text::Printable(search.name) << std::endl;
        } else if (o.action == "list") {
            for (const SavedSearch& s : SavedSearches(*store)) {
                std::cout << text::Printable(s.name) << "\t" << text::Printable(s.industry) << "\t"
                          << text::Printable(s.region) << "\n";
            }
            std::cout.flush();
        } else if (!RemoveSavedSearch(*store, o.name)) {
            return Fail("没有名为“" + o.name + "”的搜索");
        }
        return kExitOk;
    } catch (const StoreError& e) {
        return StoreFailed(e);
    }
}

namespace {

// The refresh the scheduler starts: the window's program with --refresh on Windows (it opens
// no window, so nothing shows and nothing can be closed to stop it), collector-cli elsewhere.
platform::Schedule RefreshCommand(const CliOptions& o, const std::string& store) {
    platform::Schedule s;
#ifdef _WIN32
    s.program = ModuleDirectory() + "collector.exe";
    s.arguments = {"--refresh", "--store", store};
#else
    s.program = ModuleDirectory() + "collector-cli";
    s.arguments = {"--store", store, "refresh", "--by-schedule"};
#endif
    if (!o.exportNew.empty()) {
        s.arguments.push_back("--export-new");
        s.arguments.push_back(platform::AbsolutePath(o.exportNew));
    }
    s.arguments.insert(s.arguments.end(), o.names.begin(), o.names.end());
    return s;
}

int AddSchedule(const CliOptions& o) {
    std::string store = StorePathOf(o);
    if (IsPostgresLocation(store)) {
        // The task's command line is kept in the clear: its password is read from pgpass.
        if (!PasswordSpans(store).empty()) {
            return Fail(
                "数据库地址中写有密码，不能用于定时任务：请把密码写入 ~/.pgpass（Windows 为 "
                "%APPDATA%\\postgresql\\pgpass.conf）或 PGPASSFILE 所指的文件，地址中不写密码。",
                kExitUsage);
        }
    } else {
        store = platform::AbsolutePath(store);
    }
    platform::Schedule schedule;
    if (!platform::ParseTimeOfDay(o.time, schedule)) {
        return Fail("时间应为 HH:MM（00:00 到 23:59）：" + o.time, kExitUsage);
    }
    if (!o.daily && !platform::ParseWeekdays(o.weekdays, schedule)) {
        return Fail(
            "星期应为 MON,TUE,WED,THU,FRI,SAT,SUN 中的一个或几个，以逗号分隔：" + o.weekdays,
            kExitUsage);
    }
    try {
        auto opened = OpenStore(store, &platform::StopSignalled());
        const std::vector<SavedSearch> saved = SavedSearches(*opened);
        if (saved.empty()) {
            return Fail("没有保存的搜索：请先用 collector-cli search add 保存。", kExitUsage);
        }
        for (const std::string& name : o.names) {
            if (!FindSavedSearch(*opened, name)) {
                return Fail("没有名为“" + name + "”的搜索", kExitUsage);
            }
        }
    } catch (const StoreError& e) {
        return StoreFailed(e);
    }
    const platform::Schedule command = RefreshCommand(o, store);
    schedule.program = command.program;
    schedule.arguments = command.arguments;
    const platform::ScheduleAdded added = platform::AddSchedule(schedule);
    if (!added.ok) {
        return Fail(added.error);
    }
    if (!added.crontabLine.empty()) {
        std::cerr << "本机没有可用的 systemd 用户实例：请用 crontab -e 添加下面这一行。"
                  << std::endl;
        std::cout << added.crontabLine << std::endl;
        return kExitOk;
    }
    std::cout << "schedule " << schedule.id << ": " << platform::WhenText(schedule) << "\t"
              << added.where << std::endl;
    return kExitOk;
}

}  // namespace

int RunSchedule(const CliOptions& o) {
    if (o.action == "add") {
        return AddSchedule(o);
    }
    std::string error;
    if (o.action == "list") {
        const auto listed = platform::ListSchedules(error);
        if (!listed) {
            return Fail(error);
        }
        for (const platform::ListedSchedule& s : *listed) {
            std::cout << s.id << "\t" << s.when << "\t" << s.command << "\n";
        }
        std::cout.flush();
        return kExitOk;
    }
    if (!platform::RemoveSchedule(o.scheduleId, error)) {
        return Fail(error);
    }
    return kExitOk;
}
