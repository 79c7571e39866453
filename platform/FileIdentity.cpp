#include "platform/FileIdentity.h"

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
