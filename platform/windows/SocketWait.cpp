#include "platform/SocketWait.h"

#include <winsock2.h>

namespace platform {

SocketReady WaitSocket(int socket, bool write, std::chrono::milliseconds limit) {
    const auto s = static_cast<SOCKET>(socket);
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    fd_set failed;
    FD_ZERO(&failed);
    FD_SET(s, &failed);
    timeval tv{};
    tv.tv_sec = static_cast<long>(limit.count() / 1000);
    tv.tv_usec = static_cast<long>((limit.count() % 1000) * 1000);
    // A connect that fails shows in the failure set, not as writable.
    const int n = ::select(0, write ? nullptr : &set, write ? &set : nullptr, &failed, &tv);
    if (n > 0) {
        return SocketReady::Ready;
    }
    return n == 0 ? SocketReady::TimedOut : SocketReady::Failed;
}

void AbandonSocket(int socket) {
    if (socket >= 0) {
        ::shutdown(static_cast<SOCKET>(socket), SD_BOTH);
    }
}

}  // namespace platform
