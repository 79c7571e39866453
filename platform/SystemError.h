#pragma once
// A system error in the words of the window: Chinese for the common causes, the system's own
// text after it in brackets.

#include <string>

namespace platform {

// For example "没有这个文件或文件夹（No such file or directory）".
std::string ErrorText(int errnum);

}  // namespace platform
