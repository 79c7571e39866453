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
    // Each part after the drive ("C:") or a share's name is made in turn.
    size_t from = folder.size() > 1 && folder[1] == ':' ? 3 : 1;
    if (folder.rfind("\\\\", 0) == 0) {
        from = folder.find_first_of("\\/", folder.find_first_of("\\/", 2) + 1);
    }
    for (size_t slash = folder.find_first_of("\\/", from);;
         slash = folder.find_first_of("\\/", slash + 1)) {
        const std::string part = folder.substr(0, slash);
        if (!part.empty() && !CreateDirectoryW(win::Wide(part).c_str(), nullptr) &&
            GetLastError() != ERROR_ALREADY_EXISTS) {
            return win::FailWithLastError();
        }
        if (slash == std::string::npos) {
            return true;
        }
    }
}

std::string DataFolder() {
    const wchar_t* local = _wgetenv(L"LOCALAPPDATA");
    std::string base;
    if (local != nullptr && local[0] != L'\0') {
        base = win::Narrow(local, wcslen(local));
    } else {
        const wchar_t* profile = _wgetenv(L"USERPROFILE");
        base = profile != nullptr ? win::Narrow(profile, wcslen(profile)) + "\\AppData\\Local"
                                  : std::string("C:\\");
    }
    while (base.size() > 3 && (base.back() == '\\' || base.back() == '/')) {
        base.pop_back();
    }
    return base + "\\collector\\";
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

}  // namespace platform
