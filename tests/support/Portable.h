#pragma once
// What the test support needs of the operating system beyond standard C++: a few socket calls
// (BSD sockets or Winsock) and setting environment variables.

#include <cerrno>
#include <string>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>
#endif

namespace portable {

#ifdef _WIN32
constexpr int kShutBoth = SD_BOTH;
constexpr int kNoSignal = 0;
inline void StartSockets() {
    static const bool started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    (void)started;
}
inline void CloseSocket(int s) {
    ::closesocket(static_cast<SOCKET>(s));
}
inline void SetSendTimeout(int s, int ms) {
    const DWORD t = static_cast<DWORD>(ms);
    ::setsockopt(static_cast<SOCKET>(s), SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&t),
                 sizeof t);
}
inline bool SendTimedOut() {
    return WSAGetLastError() == WSAETIMEDOUT;
}
inline void SetEnv(const char* name, const std::string& value) {
    _putenv_s(name, value.c_str());
}
inline void UnsetEnv(const char* name) {
    _putenv_s(name, "");
}
#else
constexpr int kShutBoth = SHUT_RDWR;
constexpr int kNoSignal = MSG_NOSIGNAL;
inline void StartSockets() {}
inline void CloseSocket(int s) {
    ::close(s);
}
inline void SetSendTimeout(int s, int ms) {
    timeval t{ms / 1000, (ms % 1000) * 1000};
    ::setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, &t, sizeof t);
}
inline bool SendTimedOut() {
    return errno == EAGAIN || errno == EWOULDBLOCK;
}
inline void SetEnv(const char* name, const std::string& value) {
    ::setenv(name, value.c_str(), 1);
}
inline void UnsetEnv(const char* name) {
    ::unsetenv(name);
}
#endif

}  // namespace portable
