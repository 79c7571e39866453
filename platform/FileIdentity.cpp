#include "platform/FileIdentity.h"

#include "platform/FileSystem.h"

namespace platform {

namespace {

// Windows takes both slashes in a path.
#ifdef _WIN32
constexpr const char* kSeparators = "/\\";
#else
constexpr const char* kSeparators = "/";
#endif

std::string NameOf(const std::string& path) {
    const size_t slash = path.find_last_of(kSeparators);
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::string FolderOf(const std::string& path) {
    const size_t slash = path.find_last_of(kSeparators);
    if (slash == std::string::npos) {
        return ".";
    }
    // The root keeps its separator: "/" or "C:\".
    const bool root = slash == 0 || (slash == 2 && path[1] == ':');
    return path.substr(0, root ? slash + 1 : slash);
}

std::string FileKey(const std::string& path) {
    // Its folder and its name, whether or not the file is made yet (its identity changes from
    // none to one as it is made); a link is the file it leads to.
    const std::string file = FollowLink(path);
    const auto folder = IdentityOf(FolderOf(file));
    std::string name = NameOf(file);
#ifdef _WIN32
    // Windows' file systems take names in either case.
    for (char& c : name) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
#endif
    return (folder ? std::to_string(folder->device) + ":" + std::to_string(folder->inode)
                   : FolderOf(file)) +
           ":" + name;
}

bool IsSameFile(const std::string& target, const std::string& path) {
    const auto a = IdentityOf(target);
    const auto b = IdentityOf(path);
    if (a && b) {
        return *a == *b;
    }
    // Not both there: the same only when the names agree within the same folder.
    const auto folderA = IdentityOf(FolderOf(target));
    const auto folderB = IdentityOf(FolderOf(path));
    return folderA && folderB && *folderA == *folderB && NameOf(target) == NameOf(path);
}

}  // namespace platform
