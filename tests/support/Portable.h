#pragma once
// What the test support needs of the operating system beyond standard C++: a few socket calls
// (BSD sockets or Winsock) and setting environment variables.

#include <string>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
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
inline void SetEnv(const char* name, const std::string& value) {
    ::setenv(name, value.c_str(), 1);
}
inline void UnsetEnv(const char* name) {
    ::unsetenv(name);
}
#endif

}  // namespace portable
