#include "platform/FileIdentity.h"

#include <sys/stat.h>

namespace platform {

std::optional<FileIdentity> IdentityOf(const std::string& path) {
    struct stat st {};
    if (path.empty() || ::stat(path.c_str(), &st) != 0) {
        return std::nullopt;
    }
    return FileIdentity{static_cast<unsigned long long>(st.st_dev),
                        static_cast<unsigned long long>(st.st_ino)};
}

std::string FolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

namespace {

std::string NameOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

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
