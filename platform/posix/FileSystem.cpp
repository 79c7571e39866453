#include "platform/FileSystem.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/FileIdentity.h"

namespace platform {

FileKind KindOf(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        return FileKind::Missing;
    }
    if (S_ISREG(st.st_mode)) {
        return FileKind::Regular;
    }
    return S_ISDIR(st.st_mode) ? FileKind::Folder : FileKind::Other;
}

std::optional<FileIdentity> IdentityOf(const std::string& path) {
    struct stat st {};
    if (path.empty() || ::stat(path.c_str(), &st) != 0) {
        return std::nullopt;
    }
    return FileIdentity{static_cast<unsigned long long>(st.st_dev),
                        static_cast<unsigned long long>(st.st_ino)};
}

std::string FollowLink(const std::string& path) {
    std::string result = path;
    if (char* real = ::realpath(path.c_str(), nullptr)) {
        struct stat lst {};
        if (::lstat(path.c_str(), &lst) == 0 && S_ISLNK(lst.st_mode)) {
            result = real;
        }
        std::free(real);
    }
    return result;
}

FILE* CreateUniqueFile(const std::string& stem, const std::string& likeFile, std::string& path) {
    path = stem + "XXXXXX";
    const int fd = ::mkstemp(path.data());
    if (fd < 0) {
        return nullptr;
    }
    // mkstemp makes the file private, as a temporary file stays; a replaced file keeps its
    // permissions, a new one gets an ordinary file's.
    if (!likeFile.empty()) {
        struct stat st {};
        const bool like = ::stat(likeFile.c_str(), &st) == 0;
        const mode_t mask = ::umask(0);
        ::umask(mask);
        ::fchmod(fd, like ? (st.st_mode & 0777) : (0666 & ~mask));
    }
    FILE* file = ::fdopen(fd, "wb");
    if (file == nullptr) {
        const int err = errno;
        ::close(fd);
        ::unlink(path.c_str());
        errno = err;
    }
    return file;
}

FILE* AnonymousTempFile() {
    return std::tmpfile();
}

bool SyncFile(FILE* file) {
    // A file system without fsync (EINVAL) has nothing more to write.
    return ::fsync(fileno(file)) == 0 || errno == EINVAL;
}

bool MoveIntoPlace(const std::string& from, const std::string& to) {
    return ::rename(from.c_str(), to.c_str()) == 0;
}

bool RemoveFile(const std::string& path) {
    return ::unlink(path.c_str()) == 0;
}

std::string TempFolder() {
    const char* dir = std::getenv("TMPDIR");
    std::string folder = dir != nullptr && dir[0] != '\0' ? dir : "/tmp";
    while (folder.size() > 1 && folder.back() == '/') {
        folder.pop_back();
    }
    return folder;
}

unsigned long ProcessId() {
    return static_cast<unsigned long>(::getpid());
}

}  // namespace platform

namespace platform {

std::string AbsolutePath(const std::string& path) {
    if (path.empty() || path[0] == '/') {
        return path;
    }
    std::string folder(4096, '\0');
    if (::getcwd(folder.data(), folder.size()) == nullptr) {
        return path;
    }
    folder.resize(std::strlen(folder.c_str()));
    return folder + (folder.back() == '/' ? "" : "/") +
           (path.rfind("./", 0) == 0 ? path.substr(2) : path);
}

}  // namespace platform
