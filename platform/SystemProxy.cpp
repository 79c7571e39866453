#include "platform/SystemProxy.h"

#include <cctype>

namespace platform {

namespace {

std::string Trim(const std::string& s) {
    const size_t begin = s.find_first_not_of(" \t");
    const size_t end = s.find_last_not_of(" \t");
    return begin == std::string::npos ? std::string() : s.substr(begin, end - begin + 1);
}

std::string Lower(std::string s) {
    for (char& c : s) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return s;
}

// "host:port" as a URL of `scheme`; one that names its scheme stays as it is.
std::string AsUrl(const std::string& address, const char* scheme) {
    if (address.empty() || address.find("://") != std::string::npos) {
        return address;
    }
    return scheme + address;
}

}  // namespace

std::string ProxyFromServerList(const std::string& list) {
    std::string http, all, socks;
    size_t start = 0;
    while (start <= list.size()) {
        size_t end = list.find_first_of("; ", start);
        if (end == std::string::npos) {
            end = list.size();
        }
        const std::string entry = Trim(list.substr(start, end - start));
        start = end + 1;
        if (entry.empty()) {
            continue;
        }
        const size_t equals = entry.find('=');
        if (equals == std::string::npos) {
            if (all.empty()) {
                all = entry;
            }
            continue;
        }
        const std::string protocol = Lower(Trim(entry.substr(0, equals)));
        const std::string address = Trim(entry.substr(equals + 1));
        if (protocol == "http" && http.empty()) {
            http = address;
        } else if (protocol == "socks" && socks.empty()) {
            socks = address;
        }
    }
    if (!http.empty()) {
        return AsUrl(http, "http://");
    }
    if (!all.empty()) {
        return AsUrl(all, "http://");
    }
    return AsUrl(socks, "socks4://");
}

}  // namespace platform
