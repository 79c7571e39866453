#include "platform/Schedule.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <iterator>
#include <set>

#include "platform/LocalTime.h"
#include "text/Split.h"

namespace platform {

namespace {

constexpr const char* kDayNames[] = {"MON", "TUE", "WED", "THU", "FRI", "SAT", "SUN"};
constexpr const char* kDayChinese[] = {"一", "二", "三", "四", "五", "六", "日"};
// As the Task Scheduler's XML and systemd's calendar name them.
constexpr const char* kDayXml[] = {"Monday", "Tuesday",  "Wednesday", "Thursday",
                                   "Friday", "Saturday", "Sunday"};
constexpr const char* kDaySystemd[] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};

std::string TwoDigits(int n) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%02d", n);
    return buf;
}

std::string Clock(const Schedule& s) {
    return TwoDigits(s.hour) + ":" + TwoDigits(s.minute);
}

std::string XmlEscaped(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

// One argument as CommandLineToArgvW reads it back: quoted when it has a blank or a quote,
// backslashes before a quote doubled.
std::string WindowsQuoted(const std::string& arg) {
    if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) {
        return arg;
    }
    std::string out = "\"";
    size_t slashes = 0;
    for (char c : arg) {
        if (c == '\\') {
            ++slashes;
            continue;
        }
        if (c == '"') {
            out.append(slashes * 2 + 1, '\\');
        } else {
            out.append(slashes, '\\');
        }
        slashes = 0;
        out += c;
    }
    out.append(slashes * 2, '\\');
    return out + "\"";
}

// One word of a unit's ExecStart=: always quoted, with systemd's escapes and specifiers.
std::string SystemdQuoted(const std::string& arg) {
    std::string out = "\"";
    for (char c : arg) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (c == '%') {
            out += "%%";
        } else if (c == '$') {
            out += "$$";
        } else {
            out += c;
        }
    }
    return out + "\"";
}

// One word for the shell that cron starts: single-quoted; cron takes % for a new line.
std::string CronQuoted(const std::string& arg) {
    std::string out = "'";
    for (char c : arg) {
        if (c == '\'') {
            out += "'\\''";
        } else if (c == '%') {
            out += "\\%";
        } else {
            out += c;
        }
    }
    return out + "'";
}

std::string Joined(const Schedule& s, std::string (*quote)(const std::string&)) {
    std::string line;
    for (const std::string& arg : s.arguments) {
        line += (line.empty() ? "" : " ") + quote(arg);
    }
    return line;
}

}  // namespace

bool ParseTimeOfDay(const std::string& text, Schedule& schedule) {
    const size_t colon = text.find(':');
    if (colon == std::string::npos || colon == 0 || colon > 2 || text.size() - colon != 3) {
        return false;
    }
    for (size_t i = 0; i < text.size(); ++i) {
        if (i != colon && (text[i] < '0' || text[i] > '9')) {
            return false;
        }
    }
    const int hour = std::stoi(text.substr(0, colon));
    const int minute = std::stoi(text.substr(colon + 1));
    if (hour > 23 || minute > 59) {
        return false;
    }
    schedule.hour = hour;
    schedule.minute = minute;
    return true;
}

bool ParseWeekdays(const std::string& text, Schedule& schedule) {
    std::set<int> days;  // in the week's order, each once
    for (std::string name : text::SplitList(text, ',')) {
        for (char& c : name) {
            c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
        }
        const auto day = std::find(std::begin(kDayNames), std::end(kDayNames), name);
        if (day == std::end(kDayNames)) {
            return false;
        }
        days.insert(static_cast<int>(day - std::begin(kDayNames)) + 1);
    }
    schedule.weekdays.assign(days.begin(), days.end());
    return true;
}

std::string WhenText(const Schedule& s) {
    if (s.weekdays.empty()) {
        return "每天 " + Clock(s);
    }
    std::string days = "每周";
    for (size_t i = 0; i < s.weekdays.size(); ++i) {
        days += (i == 0 ? "" : "、") + std::string(kDayChinese[s.weekdays[i] - 1]);
    }
    return days + " " + Clock(s);
}

std::string CommandLine(const Schedule& s) {
#ifdef _WIN32
    return WindowsQuoted(s.program) + " " + Joined(s, WindowsQuoted);
#else
    return CronQuoted(s.program) + " " + Joined(s, CronQuoted);
#endif
}

std::string TaskXml(const Schedule& s, const std::string& description) {
    // The first start is today's time, as the machine's clock has it: a start missed before
    // the task existed is none.
    const std::string today = LocalDate(std::time(nullptr));
    std::string trigger;
    if (s.weekdays.empty()) {
        trigger =
            "      <ScheduleByDay>\n        <DaysInterval>1</DaysInterval>\n"
            "      </ScheduleByDay>\n";
    } else {
        trigger =
            "      <ScheduleByWeek>\n        <WeeksInterval>1</WeeksInterval>\n"
            "        <DaysOfWeek>\n";
        for (int d : s.weekdays) {
            trigger += "          <" + std::string(kDayXml[d - 1]) + " />\n";
        }
        trigger += "        </DaysOfWeek>\n      </ScheduleByWeek>\n";
    }
    return "<?xml version=\"1.0\" encoding=\"UTF-16\"?>\n"
           "<Task version=\"1.2\" "
           "xmlns=\"http://schemas.microsoft.com/windows/2004/02/mit/task\">\n"
           "  <RegistrationInfo>\n"
           "    <Description>" +
           XmlEscaped(description) +
           "</Description>\n"
           "  </RegistrationInfo>\n"
           "  <Triggers>\n"
           "    <CalendarTrigger>\n"
           "      <StartBoundary>" +
           today + "T" + Clock(s) +
           ":00</StartBoundary>\n"
           "      <Enabled>true</Enabled>\n" +
           trigger +
           "    </CalendarTrigger>\n"
           "  </Triggers>\n"
           // The user who adds it, only while logged on: no password is stored.
           "  <Principals>\n"
           "    <Principal id=\"Author\">\n"
           "      <LogonType>InteractiveToken</LogonType>\n"
           "      <RunLevel>LeastPrivilege</RunLevel>\n"
           "    </Principal>\n"
           "  </Principals>\n"
           "  <Settings>\n"
           "    <MultipleInstancesPolicy>IgnoreNew</MultipleInstancesPolicy>\n"
           "    <DisallowStartIfOnBatteries>false</DisallowStartIfOnBatteries>\n"
           "    <StopIfGoingOnBatteries>false</StopIfGoingOnBatteries>\n"
           "    <AllowHardTerminate>true</AllowHardTerminate>\n"
           // A start missed while the machine was off or asleep is made up when it is back;
           // the machine is never woken for it.
           "    <StartWhenAvailable>true</StartWhenAvailable>\n"
           "    <RunOnlyIfNetworkAvailable>false</RunOnlyIfNetworkAvailable>\n"
           "    <IdleSettings>\n"
           "      <StopOnIdleEnd>false</StopOnIdleEnd>\n"
           "      <RestartOnIdle>false</RestartOnIdle>\n"
           "    </IdleSettings>\n"
           "    <AllowStartOnDemand>true</AllowStartOnDemand>\n"
           "    <Enabled>true</Enabled>\n"
           "    <Hidden>false</Hidden>\n"
           "    <RunOnlyIfIdle>false</RunOnlyIfIdle>\n"
           "    <WakeToRun>false</WakeToRun>\n"
           "    <ExecutionTimeLimit>PT4H</ExecutionTimeLimit>\n"
           // Only a task that fails to start is started again; a refresh that ended badly
           // tries its searches again itself.
           "    <RestartOnFailure>\n"
           "      <Interval>PT30M</Interval>\n"
           "      <Count>3</Count>\n"
           "    </RestartOnFailure>\n"
           "  </Settings>\n"
           "  <Actions Context=\"Author\">\n"
           "    <Exec>\n"
           "      <Command>" +
           XmlEscaped(s.program) +
           "</Command>\n"
           "      <Arguments>" +
           XmlEscaped(Joined(s, WindowsQuoted)) +
           "</Arguments>\n"
           "    </Exec>\n"
           "  </Actions>\n"
           "</Task>\n";
}

std::string SystemdService(const Schedule& s, const std::string& description) {
    return "# " + WhenText(s) +
           "\n"
           "[Unit]\n"
           "Description=" +
           description +
           "\n\n"
           "[Service]\n"
           "Type=oneshot\n"
           "ExecStart=" +
           SystemdQuoted(s.program) + " " + Joined(s, SystemdQuoted) +
           "\n"
           // As long as the Task Scheduler lets a refresh run; a stop is a SIGTERM, which the
           // refresh takes as Ctrl+C: what is in hand is stored.
           "TimeoutStartSec=4h\n"
           "Nice=5\n";
}

std::string SystemdTimer(const Schedule& s, const std::string& description) {
    std::string days;
    for (int d : s.weekdays) {
        days += (days.empty() ? "" : ",") + std::string(kDaySystemd[d - 1]);
    }
    return "# " + WhenText(s) +
           "\n"
           "[Unit]\n"
           "Description=" +
           description +
           "\n\n"
           "[Timer]\n"
           "OnCalendar=" +
           (days.empty() ? std::string() : days + " ") + "*-*-* " + Clock(s) +
           ":00\n"
           // A start missed while the machine was off or asleep is made up when it is back.
           "Persistent=true\n\n"
           "[Install]\n"
           "WantedBy=timers.target\n";
}

std::string ScheduleRefusal(const Schedule& s) {
    std::vector<const std::string*> texts = {&s.program};
    for (const std::string& arg : s.arguments) {
        texts.push_back(&arg);
    }
    for (const std::string* text : texts) {
        for (unsigned char c : *text) {
            if (c < 0x20 || c == 0x7f) {
                return "定时任务的命令中不能有控制字符";
            }
#ifdef _WIN32
            if (c == '%') {
                return "定时任务的命令中不能有 %（任务计划程序会把 %名称% 换成环境变量）：" + *text;
            }
#endif
        }
    }
    return {};
}

Scheduler SystemScheduler() {
    return {AddSchedule, ListSchedules, RemoveSchedule};
}

std::string CrontabLine(const Schedule& s) {
    std::string days = "*";
    if (!s.weekdays.empty()) {
        days.clear();
        for (int d : s.weekdays) {
            days += (days.empty() ? "" : ",") + std::to_string(d % 7);  // cron: 0 is Sunday
        }
    }
    return std::to_string(s.minute) + " " + std::to_string(s.hour) + " * * " + days + " " +
           CronQuoted(s.program) + " " + Joined(s, CronQuoted);
}

}  // namespace platform
