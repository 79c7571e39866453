#pragma once
// The window's settings of one user on this machine (每采集, 等待, 并发, 超时, skip-known, the
// proxy, the export folder): a small "name=value" file in the user's configuration folder, so
// collectors that share a PostgreSQL store keep their own. Written whole beside itself and
// moved into place, so a crash never leaves half a file; a file that cannot be read or written
// only costs the remembered values.

#include <map>
#include <optional>
#include <string>

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
