#pragma once
// Waiting on a socket with a time limit, so that a caller can look at its stop flag between
// waits instead of blocking in a library call for ever.

#include <chrono>

namespace platform {

enum class SocketReady { Ready, TimedOut, Failed };

// Waits until `socket` can be read (or written, with `write`), at most `limit`.
SocketReady WaitSocket(int socket, bool write, std::chrono::milliseconds limit);

// Ends every transfer on the socket at once, without waiting for the other side: a peer that
// stopped answering cannot hold the caller.
void AbandonSocket(int socket);

}  // namespace platform
