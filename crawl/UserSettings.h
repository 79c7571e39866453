#pragma once
// The window's settings of one user on this machine (每采集, 等待, 并发, 超时, skip-known, the
// proxy, the export folder): a small "name=value" file in the user's configuration folder, so
// collectors that share a PostgreSQL store keep their own. Written whole beside itself and
// moved into place, so a crash never leaves half a file; a file that cannot be read or written
// only costs the remembered values.

#include <map>
#include <optional>
#include <string>

#include "crawl/CollectRequest.h"

class UserSettings {
  public:
    // `path` empty: nothing is read or kept (tests, and a user without a configuration folder).
    explicit UserSettings(std::string path);

    std::optional<std::string> Get(const std::string& name) const;
    // Keeps `value` (one line of UTF-8) and writes the file; false when it could not be written.
    bool Set(const std::string& name, const std::string& value);

    // settings.ini in the user's configuration folder.
    static std::string DefaultPath();

  private:
    bool Write() const;

    std::string path_;
    std::map<std::string, std::string> values_;
};

namespace crawl {

// The numbers of a run and skip-known as the user keeps them, into `request`; a value that is
// not there or not a valid one leaves the request's.
void ApplyUserSettings(const UserSettings& settings, CollectRequest& request);

// The proxy the user keeps: its address with the password put back where it was taken out.
struct StoredProxy {
    std::string address;        // empty: none (the environment's http_proxy then)
    bool passwordLost = false;  // it has one that cannot be read here (another machine or user)
};
StoredProxy LoadStoredProxy(const UserSettings& settings);
// The address without its password, and the password as the system protects it.
std::pair<std::string, std::string> ProxyToStore(const std::string& proxy);

inline constexpr const char* kProxyPasswordLost = "代理密码无法读取，请在窗口中重新输入";

}  // namespace crawl
