#pragma once
// The proxy the user chose for the whole system. On Windows that is Internet Options (also set
// by Settings > Proxy); on Linux the environment's http_proxy is the system's, and libcurl
// reads it itself.

#include <string>

namespace platform {

// The system's proxy as a URL libcurl takes ("http://host:port"); empty when none is on (and
// always on Linux). An automatic configuration script is not read.
std::string SystemProxy();

// The proxy for the web of a Windows proxy list: "host:port" for every protocol, or
// "http=host:port;https=host:port;socks=host:port" (http's, else the list's one for all, else
// socks'), as a URL; empty when the list names none.
std::string ProxyFromServerList(const std::string& list);

}  // namespace platform
