#pragma once
// Whether two names lead to the same file, by device and inode (on Windows: volume serial
// number and file index) rather than by spelling.

#include <optional>
#include <string>

namespace platform {

struct FileIdentity {
    unsigned long long device = 0;
    unsigned long long inode = 0;
    bool operator==(const FileIdentity& o) const { return device == o.device && inode == o.inode; }
    bool operator!=(const FileIdentity& o) const { return !(*this == o); }
};

// The identity of an existing file or folder; nothing when it does not exist.
std::optional<FileIdentity> IdentityOf(const std::string& path);

// Whether `target` is the file `path` or would be created as it: the same existing file, or
// the same name in the same folder.
bool IsSameFile(const std::string& target, const std::string& path);

// What tells the file `path` names from every other on this machine, however it is spelt and
// whether or not it exists yet: its folder's identity and its name (in Windows' case rule).
std::string FileKey(const std::string& path);

// The folder part of a path ("." for a bare name).
std::string FolderOf(const std::string& path);

}  // namespace platform
