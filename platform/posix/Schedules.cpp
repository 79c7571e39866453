// Schedules as systemd user timers: a service and a timer per schedule in the user's unit
// folder, enabled with systemctl --user. Where the user has no systemd, the crontab line is
// given to add by hand.

#include <dirent.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>

#include "platform/FileSystem.h"
#include "platform/ProgramFolders.h"
#include "platform/Schedule.h"

extern char** environ;

namespace platform {

namespace {

constexpr const char* kUnitPrefix = "collector-refresh-";

std::string UnitFolder() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    const char* home = std::getenv("HOME");
    std::string base = config != nullptr && config[0] == '/' ? config
                       : home != nullptr                     ? std::string(home) + "/.config"
                                                             : std::string();
    return base.empty() ? std::string() : base + "/systemd/user/";
}

std::string UnitName(int id, const char* kind) {
    return kUnitPrefix + std::to_string(id) + kind;
}

// Runs systemctl --user with `args` (tests name another program in COLLECTOR_SYSTEMCTL); its
// output is kept for the message of a failure. The exit code, or -1 when it could not run.
int Systemctl(const std::vector<std::string>& args, std::string& output) {
    const char* named = std::getenv("COLLECTOR_SYSTEMCTL");
    std::vector<std::string> words = {named != nullptr && named[0] != '\0' ? named : "systemctl",
                                      "--user"};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& w : words) {
        argv.push_back(w.data());
    }
    argv.push_back(nullptr);
    int pipeFds[2];
    if (pipe(pipeFds) != 0) {
        return -1;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 2);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    char buf[512];
    ssize_t n = 0;
    while ((n = read(pipeFds[0], buf, sizeof buf)) > 0 && output.size() < 4096) {
        output.append(buf, static_cast<size_t>(n));
    }
    close(pipeFds[0]);
    if (spawned != 0) {
        return -1;
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool UserSystemd() {
    std::string output;
    return Systemctl({"show-environment"}, output) == 0;
}

bool WriteWhole(const std::string& path, const std::string& content) {
    std::string temp;
    FILE* f = CreateUniqueFile(path, "", temp);
    if (f == nullptr) {
        return false;
    }
    const bool written = std::fwrite(content.data(), 1, content.size(), f) == content.size();
    if (std::fclose(f) != 0 || !written || !MoveIntoPlace(temp, path)) {
        RemoveFile(temp);
        return false;
    }
    return true;
}

std::set<int> TakenIds(const std::string& folder) {
    std::set<int> ids;
    if (DIR* dir = opendir(folder.c_str())) {
        while (dirent* e = readdir(dir)) {
            const std::string name = e->d_name;
            const std::string prefix = kUnitPrefix;
            const std::string suffix = ".timer";
            if (name.size() > prefix.size() + suffix.size() && name.rfind(prefix, 0) == 0 &&
                name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0) {
                const std::string digits =
                    name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
                if (digits.find_first_not_of("0123456789") == std::string::npos &&
                    digits.size() < 9) {
                    ids.insert(std::atoi(digits.c_str()));
                }
            }
        }
        closedir(dir);
    }
    return ids;
}

std::string Trimmed(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) {
        text.pop_back();
    }
    return text;
}

}  // namespace

ScheduleAdded AddSchedule(Schedule& schedule) {
    ScheduleAdded added;
    if (added.error = ScheduleRefusal(schedule); !added.error.empty()) {
        return added;
    }
    const std::string folder = UnitFolder();
    if (folder.empty() || !UserSystemd()) {
        added.ok = true;
        added.crontabLine = CrontabLine(schedule);
        return added;
    }
    if (!MakeFolders(folder)) {
        added.error = "无法创建文件夹 " + folder;
        return added;
    }
    const std::set<int> taken = TakenIds(folder);
    schedule.id = 1;
    while (taken.count(schedule.id) != 0) {
        ++schedule.id;
    }
    const std::string description =
        std::string(kScheduleFolder) + " 定时采集 " + std::to_string(schedule.id);
    const std::string service = folder + UnitName(schedule.id, ".service");
    const std::string timer = folder + UnitName(schedule.id, ".timer");
    if (!WriteWhole(service, SystemdService(schedule, description)) ||
        !WriteWhole(timer, SystemdTimer(schedule, description))) {
        RemoveFile(service);
        added.error = "无法写入 " + folder;
        return added;
    }
    std::string output;
    if (Systemctl({"daemon-reload"}, output) != 0 ||
        Systemctl({"enable", "--now", UnitName(schedule.id, ".timer")}, output) != 0) {
        RemoveFile(service);
        RemoveFile(timer);
        Systemctl({"daemon-reload"}, output);
        added.error = "systemctl --user 未能启用定时器：" + Trimmed(output);
        return added;
    }
    added.ok = true;
    added.where = timer;
    return added;
}

std::optional<std::vector<ListedSchedule>> ListSchedules(std::string& error) {
    (void)error;
    std::vector<ListedSchedule> listed;
    const std::string folder = UnitFolder();
    for (int id : TakenIds(folder)) {
        ListedSchedule s;
        s.id = id;
        std::ifstream timer(folder + UnitName(id, ".timer"));
        std::string line;
        if (std::getline(timer, line) && line.rfind("# ", 0) == 0) {
            s.when = line.substr(2);
        }
        std::ifstream service(folder + UnitName(id, ".service"));
        while (std::getline(service, line)) {
            if (line.rfind("ExecStart=", 0) == 0) {
                s.command = line.substr(10);
            }
        }
        listed.push_back(s);
    }
    return listed;
}

bool RemoveSchedule(int id, std::string& error) {
    const std::string folder = UnitFolder();
    const std::string timer = folder + UnitName(id, ".timer");
    if (folder.empty() || KindOf(timer) != FileKind::Regular) {
        error = "没有编号为 " + std::to_string(id) + " 的定时任务";
        return false;
    }
    std::string output;
    Systemctl({"disable", "--now", UnitName(id, ".timer")}, output);
    const bool removed = RemoveFile(timer);
    RemoveFile(folder + UnitName(id, ".service"));
    Systemctl({"daemon-reload"}, output);
    if (!removed) {
        error = "无法删除 " + timer;
    }
    return removed;
}

}  // namespace platform

namespace platform {

bool PrepareScheduleFolder(std::string& error) {
    (void)error;
    return true;
}

int RemoveEveryScheduledTask(std::string& error) {
    (void)error;
    return 0;
}

}  // namespace platform
