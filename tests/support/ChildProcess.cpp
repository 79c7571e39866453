#include "ChildProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <stdexcept>

#include "TempDir.h"

extern char** environ;

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& args,
                           const std::string& outputDir) {
    static int serial = 0;
    ++serial;
    outPath_ = outputDir + "/child" + std::to_string(serial) + ".out";
    errPath_ = outputDir + "/child" + std::to_string(serial) + ".err";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_addopen(&actions, 2, errPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const auto& a : args) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    int rc = posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        throw std::runtime_error("cannot start " + program);
    }
    // The peak is read from the living child: the kernel's ru_maxrss of a spawned child also
    // counts what its parent held when it was started.
    sampler_ = std::thread([this] {
        const std::string path = "/proc/" + std::to_string(pid_) + "/status";
        std::unique_lock<std::mutex> lock(sampleMutex_);
        do {
            std::ifstream in(path);
            std::string line;
            while (std::getline(in, line)) {
                if (line.rfind("VmHWM:", 0) == 0) {
                    peakKb_ = std::max(peakKb_, std::atol(line.c_str() + 6));
                }
            }
        } while (!sampled_.wait_for(lock, std::chrono::milliseconds(5),
                                    [this] { return stopSampling_; }));
    });
}

void ChildProcess::StopSampling() {
    {
        std::lock_guard<std::mutex> lock(sampleMutex_);
        stopSampling_ = true;
    }
    sampled_.notify_all();
    if (sampler_.joinable()) {
        sampler_.join();
    }
}

ChildProcess::~ChildProcess() {
    if (!waited_ && pid_ > 0) {
        ::kill(pid_, SIGKILL);
        Wait();
    }
}

void ChildProcess::Signal(int sig) {
    ::kill(pid_, sig);
}

int ChildProcess::Wait() {
    if (!waited_) {
        siginfo_t info{};
        while (::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOWAIT) < 0 &&
               errno == EINTR) {
        }
        StopSampling();  // the child is a zombie still: its number is not reused meanwhile
        while (::waitpid(pid_, &status_, 0) < 0 && errno == EINTR) {
        }
        waited_ = true;
    }
    if (WIFSIGNALED(status_)) {
        return 128 + WTERMSIG(status_);
    }
    return WEXITSTATUS(status_);
}

int ChildProcess::WaitOrKill(std::chrono::milliseconds limit) {
    const auto until = std::chrono::steady_clock::now() + limit;
    for (;;) {
        siginfo_t info{};
        if (waited_ ||
            (::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOWAIT | WNOHANG) == 0 &&
             info.si_pid == pid_)) {
            return Wait();
        }
        if (std::chrono::steady_clock::now() > until) {
            Signal(SIGKILL);
            return Wait();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

std::string ChildProcess::Stdout() const {
    return ReadFileBytes(outPath_);
}
std::string ChildProcess::Stderr() const {
    return ReadFileBytes(errPath_);
}

RunResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                     const std::string& outputDir) {
    ChildProcess child(program, args, outputDir);
    int code = child.Wait();
    return {code, child.Stdout(), child.Stderr()};
}
