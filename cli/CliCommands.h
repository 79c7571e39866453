#pragma once

#include <optional>
#include <string>
#include <vector>

// Exit codes of collector-cli.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;     // store error, network session, export file
inline constexpr int kExitUsage = 2;       // wrong arguments, no condition
inline constexpr int kExitIncomplete = 3;  // collect reached its end with pages kept as failures
inline constexpr int kExitBusy = 4;        // refresh skipped a search: another crawl held the store
inline constexpr int kExitStopped = 130;   // stopped by SIGINT or SIGTERM

// Runs collector-cli with its arguments (without the program name).
int RunCli(const std::vector<std::string>& args);

// The window's program started with a switch that opens no window: --refresh … (a scheduled
// refresh: collector-cli refresh --by-schedule with the same arguments), --prepare-tasks and
// --remove-tasks (the installer's part of the schedules). Its exit code; nothing for a start
// that opens the window.
std::optional<int> RunWithoutWindow(const std::vector<std::string>& args);
