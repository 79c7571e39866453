#include "platform/SystemProxy.h"

#include <windows.h>

#include "platform/windows/Wide.h"

namespace platform {

std::string SystemProxy() {
    // Where Internet Options and Settings > Proxy keep the user's manual proxy.
    const wchar_t* key = L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
    DWORD enabled = 0;
    DWORD size = sizeof(enabled);
    if (RegGetValueW(HKEY_CURRENT_USER, key, L"ProxyEnable", RRF_RT_REG_DWORD, nullptr, &enabled,
                     &size) != ERROR_SUCCESS ||
        enabled == 0) {
        return {};
    }
    wchar_t server[2048];
    size = sizeof(server);
    if (RegGetValueW(HKEY_CURRENT_USER, key, L"ProxyServer", RRF_RT_REG_SZ, nullptr, server,
                     &size) != ERROR_SUCCESS) {
        return {};
    }
    return ProxyFromServerList(win::Narrow(server));
}

}  // namespace platform
