#include "platform/MachineName.h"

#include <windows.h>

#include "platform/windows/Wide.h"

namespace platform {

std::string MachineName() {
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    if (!GetComputerNameW(name, &size)) {
        return {};
    }
    return win::Narrow(name, size);
}

}  // namespace platform
