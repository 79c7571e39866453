#include "platform/windows/Wide.h"

#include <windows.h>

#include <cerrno>
#include <climits>

#include "platform/windows/LastError.h"

namespace platform::win {

std::wstring Wide(const std::string& utf8) {
    // Not UTF-8 (or absurdly long): no name, so the call fails instead of reaching a file of
    // another name.
    if (utf8.empty() || utf8.size() > INT_MAX / 2) {
        return {};
    }
    const int size = static_cast<int>(utf8.size());
    const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), size, nullptr, 0);
    if (n <= 0) {
        return {};
    }
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), size, out.data(), n);
    return out;
}

std::string Narrow(const wchar_t* wide, size_t length) {
    if (length == 0 || length > INT_MAX / 4) {
        return {};
    }
    const int n = WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(length), nullptr, 0,
                                      nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(length), out.data(), n, nullptr,
                        nullptr);
    return out;
}

std::string Narrow(const std::wstring& wide) {
    return Narrow(wide.data(), wide.size());
}

bool FailWithLastError() {
    const DWORD code = GetLastError();
    errno = ErrnoOfWindowsError(code);
    RememberWindowsError(code, errno);
    return false;
}

}  // namespace platform::win
