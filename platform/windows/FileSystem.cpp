#include "platform/FileSystem.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <atomic>
#include <cerrno>
#include <functional>

#include "platform/FileIdentity.h"
#include "platform/windows/Wide.h"

namespace platform {

namespace {

// A handle on `path` that reads nothing: enough to ask what it is. Folders need the backup
// flag to be opened at all.
HANDLE OpenForQuery(const std::string& path) {
    return CreateFileW(win::Wide(path).c_str(), 0,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

}  // namespace

FileKind KindOf(const std::string& path) {
    if (path.empty()) {
        return FileKind::Missing;
    }
    HANDLE h = OpenForQuery(path);
    if (h == INVALID_HANDLE_VALUE) {
        return FileKind::Missing;
    }
    FileKind kind = FileKind::Other;  // NUL, CON, a pipe
    BY_HANDLE_FILE_INFORMATION info{};
    if (GetFileType(h) == FILE_TYPE_DISK && GetFileInformationByHandle(h, &info)) {
        kind = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? FileKind::Folder
                                                                       : FileKind::Regular;
    }
    CloseHandle(h);
    return kind;
}

std::optional<FileIdentity> IdentityOf(const std::string& path) {
    if (path.empty()) {
        return std::nullopt;
    }
    HANDLE h = OpenForQuery(path);
    if (h == INVALID_HANDLE_VALUE) {
        return std::nullopt;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    const bool known = GetFileInformationByHandle(h, &info) != 0;
    CloseHandle(h);
    if (!known) {
        return std::nullopt;
    }
    return FileIdentity{
        info.dwVolumeSerialNumber,
        (static_cast<unsigned long long>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
}

std::string FollowLink(const std::string& path) {
    // Links are rare on Windows and replacing one replaces the link; the name is used as given.
    return path;
}

namespace {

// A file that did not exist, under the first name `nameFor(attempt)` gives that is free,
// opened with `access`, `share` and `flags` and handed out as a stream in `mode`.
FILE* CreateNewFile(const std::function<std::string()>& nextName, DWORD access, DWORD share,
                    DWORD flags, int streamFlags, const char* mode, std::string& path) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        path = nextName();
        HANDLE h = CreateFileW(win::Wide(path).c_str(), access, share, nullptr, CREATE_NEW, flags,
                               nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            if (GetLastError() == ERROR_FILE_EXISTS || GetLastError() == ERROR_ALREADY_EXISTS) {
                continue;
            }
            win::FailWithLastError();
            return nullptr;
        }
        const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_BINARY | streamFlags);
        if (fd < 0) {
            CloseHandle(h);
            DeleteFileW(win::Wide(path).c_str());
            errno = EMFILE;
            return nullptr;
        }
        FILE* file = _fdopen(fd, mode);
        if (file == nullptr) {
            const int err = errno;
            _close(fd);
            DeleteFileW(win::Wide(path).c_str());
            errno = err;
        }
        return file;
    }
    errno = EEXIST;
    return nullptr;
}

std::string UniqueTag() {
    static std::atomic<unsigned> serial{0};
    const unsigned long long tag =
        (GetTickCount64() << 16) ^ (GetCurrentProcessId() << 8) ^ ++serial;
    return std::to_string(tag % 1000000000ULL);
}

}  // namespace

FILE* CreateUniqueFile(const std::string& stem, const std::string&, std::string& path) {
    // The new file takes the folder's permissions, as any file made there would.
    return CreateNewFile([&] { return stem + UniqueTag(); }, GENERIC_WRITE,
                         FILE_SHARE_READ | FILE_SHARE_DELETE, FILE_ATTRIBUTE_NORMAL, _O_WRONLY,
                         "wb", path);
}

FILE* AnonymousTempFile() {
    const std::string folder = TempFolder();
    std::string path;
    return CreateNewFile([&] { return folder + "\\collector-" + UniqueTag() + ".tmp"; },
                         GENERIC_READ | GENERIC_WRITE, 0,
                         FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, _O_RDWR, "w+b",
                         path);
}

bool SyncFile(FILE* file) {
    HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
    // A console or a pipe has nothing to write to a disk.
    if (h == INVALID_HANDLE_VALUE || GetFileType(h) != FILE_TYPE_DISK) {
        return true;
    }
    return FlushFileBuffers(h) != 0 || win::FailWithLastError();
}

bool MoveIntoPlace(const std::string& from, const std::string& to) {
    // rename() will not replace an existing file on Windows.
    return MoveFileExW(win::Wide(from).c_str(), win::Wide(to).c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0 ||
           win::FailWithLastError();
}

bool RemoveFile(const std::string& path) {
    return DeleteFileW(win::Wide(path).c_str()) != 0 || win::FailWithLastError();
}

std::string TempFolder() {
    wchar_t buffer[MAX_PATH + 2];
    const DWORD n = GetTempPathW(MAX_PATH + 1, buffer);
    std::string folder = n > 0 && n <= MAX_PATH + 1 ? win::Narrow(buffer, n) : std::string(".");
    while (folder.size() > 3 && (folder.back() == '\\' || folder.back() == '/')) {
        folder.pop_back();
    }
    return folder;
}

unsigned long ProcessId() {
    return GetCurrentProcessId();
}

}  // namespace platform

namespace platform {

std::string AbsolutePath(const std::string& path) {
    const std::wstring wide = win::Wide(path);
    const DWORD size = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (size == 0) {
        return path;
    }
    std::wstring full(size, L'\0');
    const DWORD n = GetFullPathNameW(wide.c_str(), size, full.data(), nullptr);
    return n == 0 || n >= size ? path : win::Narrow(full.c_str(), n);
}

}  // namespace platform
