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

int AddSchedule(const CliOptions& o) {
    std::string refusal;
    const std::optional<std::string> location = StoreForSchedule(StorePathOf(o), refusal);
    if (!location) {
        return Fail(refusal, kExitUsage);
    }
    const std::string& store = *location;
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
    // On Windows the window's program runs it (no console window shows); elsewhere this one.
#ifdef _WIN32
    const RefreshCommand command =
        RefreshCommandOf(ModuleDirectory() + "collector.exe", true, store, o.exportNew, o.names);
#else
    const RefreshCommand command =
        RefreshCommandOf(ModuleDirectory() + "collector-cli", false, store, o.exportNew, o.names);
#endif
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
