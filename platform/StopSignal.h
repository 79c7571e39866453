#pragma once
// Ctrl+C (and SIGTERM, or the console being closed) as a request to stop: the handlers only
// raise a flag that the program looks at where stopping is safe.

#include <atomic>

namespace platform {

// Installs the handlers that raise the flag.
void InstallStopHandlers();
// The flag; readable from any thread.
const std::atomic<bool>& StopSignalled();

}  // namespace platform
