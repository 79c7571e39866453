#include "platform/SocketWait.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>

namespace platform {

SocketReady WaitSocket(int socket, bool write, std::chrono::milliseconds limit) {
    pollfd p{};
    p.fd = socket;
    p.events = write ? POLLOUT : POLLIN;
    for (;;) {
        const int n = ::poll(&p, 1, static_cast<int>(limit.count()));
        if (n > 0) {
            return SocketReady::Ready;
        }
        if (n == 0) {
            return SocketReady::TimedOut;
        }
        if (errno != EINTR) {
            return SocketReady::Failed;
        }
    }
}

void AbandonSocket(int socket) {
    if (socket >= 0) {
        ::shutdown(socket, SHUT_RDWR);
    }
}

}  // namespace platform
