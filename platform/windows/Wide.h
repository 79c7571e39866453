#pragma once
// UTF-8 and the UTF-16 of Windows' own functions, and errors of those functions as errno
// values. For the Windows side only (platform/windows and the Win32 window): keeps windows.h
// out of the shared headers.

#include <string>

namespace platform::win {

std::wstring Wide(const std::string& utf8);
std::string Narrow(const wchar_t* wide, size_t length);
std::string Narrow(const std::wstring& wide);

// Sets errno from GetLastError() (and remembers that code for ErrorText); returns false, so
// that a failing call can end with `return FailWithLastError();`.
bool FailWithLastError();

}  // namespace platform::win
