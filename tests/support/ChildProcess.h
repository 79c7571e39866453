#pragma once
// Runs a program of ours as a child process with its output captured in files.

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class ChildProcess {
  public:
    ChildProcess(const std::string& program, const std::vector<std::string>& args,
                 const std::string& outputDir);
    ~ChildProcess();
    int Pid() const { return pid_; }
    void Signal(int sig);
    // Waits for the end; returns the exit code, or 128 + signal number when killed.
    int Wait();
    // Waits at most `limit` for the end, then kills it: a hang shows as 137, however slow the
    // machine is short of that.
    int WaitOrKill(std::chrono::milliseconds limit);
    // The most memory the child held (its VmHWM, in KiB), known once it was waited for.
    long PeakKb() const { return peakKb_; }
    std::string Stdout() const;
    std::string Stderr() const;

  private:
    void StopSampling();

    int pid_ = -1;
    bool waited_ = false;
    int status_ = 0;
    long peakKb_ = 0;
    std::string outPath_, errPath_;
    std::thread sampler_;
    std::mutex sampleMutex_;
    std::condition_variable sampled_;
    bool stopSampling_ = false;
};

struct RunResult {
    int code;
    std::string out, err;
};
RunResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                     const std::string& outputDir);
