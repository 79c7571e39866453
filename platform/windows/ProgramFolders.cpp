#include "platform/ProgramFolders.h"

#include <windows.h>

#include <cstdlib>
#include <vector>

#include "platform/windows/Wide.h"

std::string ModuleDirectory() {
    std::vector<wchar_t> buf(32768);
    const DWORD n = GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
    if (n == 0 || n >= buf.size()) {
        return ".\\";
    }
    std::string path = platform::win::Narrow(buf.data(), n);
    const size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? std::string(".\\") : path.substr(0, slash + 1);
}

namespace platform {

bool MakeFolders(const std::string& folder) {
    // Each part after the root is made in turn: after "C:\", or after "\\server\share\"
    // (also "\\?\C:\"), neither of which can be made.
    size_t from = 1;
    if (folder.rfind("\\\\", 0) == 0) {
        const size_t server = folder.find_first_of("\\/", 2);
        const size_t share =
            server == std::string::npos ? server : folder.find_first_of("\\/", server + 1);
        from = share == std::string::npos ? folder.size() : share + 1;
        if (folder.rfind("\\\\?\\", 0) == 0 && folder.size() > 6 && folder[5] == ':') {
            from = 7;  // \\?\C:\...
        }
    } else if (folder.size() > 1 && folder[1] == ':') {
        from = 3;
    }
    for (size_t slash = folder.find_first_of("\\/", from);;
         slash = folder.find_first_of("\\/", slash + 1)) {
        const std::string part = folder.substr(0, slash);
        if (part.size() >= from && !CreateDirectoryW(win::Wide(part).c_str(), nullptr) &&
            GetLastError() != ERROR_ALREADY_EXISTS) {
            const DWORD attributes = GetFileAttributesW(win::Wide(part).c_str());
            if (attributes == INVALID_FILE_ATTRIBUTES ||
                (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
                return win::FailWithLastError();
            }
        }
        if (slash == std::string::npos) {
            return true;
        }
    }
}

namespace {

// %`variable`%\collector\, or the profile's `fallback`\collector\ when it is not set.
std::string ProfileFolder(const wchar_t* variable, const char* fallback) {
    const wchar_t* value = _wgetenv(variable);
    std::string base;
    if (value != nullptr && value[0] != L'\0') {
        base = win::Narrow(value, wcslen(value));
    } else {
        const wchar_t* profile = _wgetenv(L"USERPROFILE");
        base = profile != nullptr ? win::Narrow(profile, wcslen(profile)) + fallback
                                  : std::string("C:");
    }
    while (base.size() > 3 && (base.back() == '\\' || base.back() == '/')) {
        base.pop_back();
    }
    return base + "\\collector\\";
}

}  // namespace

std::string DataFolder() {
    return ProfileFolder(L"LOCALAPPDATA", "\\AppData\\Local");
}

std::string ConfigFolder() {
    return ProfileFolder(L"APPDATA", "\\AppData\\Roaming");
}

bool FolderWritable(const std::string& folder) {
    // Rights on Windows are in access lists that no flag test reads: try it. A program folder
    // under Program Files is refused to an ordinary user here.
    std::string probe = folder;
    if (!probe.empty() && probe.back() != '\\' && probe.back() != '/') {
        probe += '\\';
    }
    probe += "collector-write-test-" + std::to_string(GetCurrentProcessId()) + ".tmp";
    HANDLE h = CreateFileW(win::Wide(probe).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        return false;
    }
    CloseHandle(h);
    return true;
}

bool FileWritable(const std::string& path) {
    // Opened for writing as a store would be (shared, changing nothing), then its folder.
    HANDLE h = CreateFileW(win::Wide(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        return false;
    }
    CloseHandle(h);
    const size_t slash = path.find_last_of("\\/");
    return FolderWritable(slash == std::string::npos ? std::string(".")
                                                     : path.substr(0, slash + 1));
}

}  // namespace platform
