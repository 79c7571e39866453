#pragma once
// Ctrl+C and SIGTERM as a request to stop: the handlers only raise a flag that the program
// looks at where stopping is safe.

#include <atomic>

namespace platform {

// Installs handlers for SIGINT and SIGTERM that raise the flag.
void InstallStopHandlers();
// The flag; readable from any thread.
const std::atomic<bool>& StopSignalled();

// Whether standard error is a terminal (a redrawn progress line) or a file or pipe.
bool StderrIsTerminal();

}  // namespace platform
