#include "platform/StopSignal.h"

#include <signal.h>

namespace platform {

namespace {

std::atomic<bool> g_stop{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the flag is set from a signal handler");

void OnStopSignal(int) {
    g_stop.store(true);
}

}  // namespace

void InstallStopHandlers() {
    struct sigaction sa {};
    sa.sa_handler = OnStopSignal;
    sa.sa_flags = SA_RESTART;  // a write in progress finishes; the flag is looked at after it
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    // A closed pipe (export ... - | head) is a write error to report, not a silent death.
    signal(SIGPIPE, SIG_IGN);
}

const std::atomic<bool>& StopSignalled() {
    return g_stop;
}

}  // namespace platform
