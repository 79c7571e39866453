#pragma once
// The last Windows error code a platform call failed with, kept beside the errno value it
// was turned into, so that the error's text can be Windows' own.

#include <string>

namespace platform::win {

int ErrnoOfWindowsError(unsigned long code);
void RememberWindowsError(unsigned long code, int errnum);
// Windows' text of the remembered code when it was turned into `errnum`; empty otherwise.
std::string RememberedErrorText(int errnum);

}  // namespace platform::win
