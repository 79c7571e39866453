#pragma once
// Refreshes at set times, kept by the system's own scheduler (Task Scheduler on Windows, a
// systemd user timer on Linux): nothing of ours runs between them, and a start missed while
// the machine was off or asleep is made up as soon as it is back.

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace platform {

struct Schedule {
    int id = 0;                 // given when it is added
    std::vector<int> weekdays;  // 1 (Monday) to 7 (Sunday); empty: every day
    int hour = 0;
    int minute = 0;
    std::string program;                 // the absolute path of what is started
    std::vector<std::string> arguments;  // what it is started with
};

// "08:00" (a day's 00:00 to 23:59); "MON,THU" (MON TUE WED THU FRI SAT SUN, any case).
bool ParseTimeOfDay(const std::string& text, Schedule& schedule);
bool ParseWeekdays(const std::string& text, Schedule& schedule);
// As people read it: "每天 08:00", "每周一、四 08:00".
std::string WhenText(const Schedule& schedule);
// The arguments as one command line (quoted where they need it, as the system that runs it
// reads them).
std::string CommandLine(const Schedule& schedule);

// The definitions handed to the systems, as text:
// the Task Scheduler's XML (UTF-8 here; the COM API takes it as UTF-16),
std::string TaskXml(const Schedule& schedule, const std::string& description);
// the systemd user service and timer, and the crontab line where there is no user systemd.
std::string SystemdService(const Schedule& schedule, const std::string& description);
std::string SystemdTimer(const Schedule& schedule, const std::string& description);
std::string CrontabLine(const Schedule& schedule);

// Why the system could not be handed `schedule` as it is (empty: it can): a control character
// would end a line of its definition; on Windows the Task Scheduler replaces %NAME% in the
// arguments with the environment's value, and a % cannot be written otherwise.
std::string ScheduleRefusal(const Schedule& schedule);

// The schedules this user has, read back from the system.
struct ListedSchedule {
    int id = 0;
    std::string when;     // WhenText of it
    std::string command;  // its command line
};

// What adding one did.
struct ScheduleAdded {
    bool ok = false;
    std::string error;        // why not (UTF-8)
    std::string crontabLine;  // no scheduler could take it: the line the user adds by hand
    std::string where;        // where it is now kept, as people find it
};

// Registers `schedule` (its id is chosen here) with the system's scheduler.
ScheduleAdded AddSchedule(Schedule& schedule);
// Every schedule of this program for this user; nothing and `error` set when it cannot be read.
std::optional<std::vector<ListedSchedule>> ListSchedules(std::string& error);
// False (with `error`) when there is no such schedule or it could not be removed.
bool RemoveSchedule(int id, std::string& error);

// The system's scheduler as the window and collector-cli use it (tests put their own in).
struct Scheduler {
    std::function<ScheduleAdded(Schedule&)> add;
    std::function<std::optional<std::vector<ListedSchedule>>(std::string&)> list;
    std::function<bool(int, std::string&)> remove;
};
Scheduler SystemScheduler();

// What a task or unit of ours is named after.
inline constexpr const char* kScheduleFolder = "Tarvola采集器";

}  // namespace platform

namespace platform {

// The installer's part, run with its rights: the folder every user may add tasks to, and at
// uninstall every task in it, whoever added it (nothing to do where units are the user's own).
bool PrepareScheduleFolder(std::string& error);
int RemoveEveryScheduledTask(std::string& error);

}  // namespace platform
