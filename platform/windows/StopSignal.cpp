#include "platform/StopSignal.h"

#include <windows.h>

namespace platform {

namespace {

std::atomic<bool> g_stop{false};

BOOL WINAPI OnConsoleEvent(DWORD event) {
    g_stop.store(true);
    if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
        // Windows ends the process when this returns: give the run a moment to store what it
        // has (the program exits on its own before then).
        Sleep(4000);
    }
    return TRUE;
}

}  // namespace

void InstallStopHandlers() {
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

const std::atomic<bool>& StopSignalled() {
    return g_stop;
}

}  // namespace platform
