#include "platform/Secret.h"

#include <cstdint>
#include <vector>

#ifdef _WIN32
#include <windows.h>
// (after windows.h, which it needs)
#include <wincrypt.h>
#endif

namespace platform {

namespace {

constexpr const char* kProtected = "dpapi:";

std::string Hex(const unsigned char* data, size_t size) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < size; ++i) {
        out += digits[data[i] >> 4];
        out += digits[data[i] & 15];
    }
    return out;
}

std::optional<std::vector<unsigned char>> Bytes(const std::string& hex) {
    auto value = [](char c) -> int {
        if (c >= '0' && c <= '9') {
            return c - '0';
        }
        if (c >= 'a' && c <= 'f') {
            return c - 'a' + 10;
        }
        return -1;
    };
    if (hex.size() % 2 != 0) {
        return std::nullopt;
    }
    std::vector<unsigned char> out;
    for (size_t i = 0; i < hex.size(); i += 2) {
        const int high = value(hex[i]);
        const int low = value(hex[i + 1]);
        if (high < 0 || low < 0) {
            return std::nullopt;
        }
        out.push_back(static_cast<unsigned char>(high * 16 + low));
    }
    return out;
}

}  // namespace

std::string ProtectSecret(const std::string& secret) {
#ifdef _WIN32
    DATA_BLOB in{static_cast<DWORD>(secret.size()),
                 reinterpret_cast<BYTE*>(const_cast<char*>(secret.data()))};
    DATA_BLOB out{};
    if (CryptProtectData(&in, L"collector", nullptr, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN,
                         &out)) {
        const std::string stored = kProtected + Hex(out.pbData, out.cbData);
        LocalFree(out.pbData);
        return stored;
    }
    return {};  // not kept rather than kept in plain text: the window asks for it again
#else
    // Kept in hex, so that a password of any bytes stays one line.
    return "plain:" + Hex(reinterpret_cast<const unsigned char*>(secret.data()), secret.size());
#endif
}

std::optional<std::string> UnprotectSecret(const std::string& stored) {
    const size_t colon = stored.find(':');
    if (colon == std::string::npos) {
        return std::nullopt;
    }
    const std::optional<std::vector<unsigned char>> bytes = Bytes(stored.substr(colon + 1));
    if (!bytes) {
        return std::nullopt;
    }
    const std::string kind = stored.substr(0, colon + 1);
#ifdef _WIN32
    if (kind == kProtected) {
        DATA_BLOB in{static_cast<DWORD>(bytes->size()), const_cast<BYTE*>(bytes->data())};
        DATA_BLOB out{};
        if (!CryptUnprotectData(&in, nullptr, nullptr, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN,
                                &out)) {
            return std::nullopt;
        }
        std::string secret(reinterpret_cast<const char*>(out.pbData), out.cbData);
        SecureZeroMemory(out.pbData, out.cbData);
        LocalFree(out.pbData);
        return secret;
    }
    return std::nullopt;  // a plain secret is never taken on Windows: asked for again
#else
    if (kind == "plain:") {
        return std::string(bytes->begin(), bytes->end());
    }
    return std::nullopt;  // protected on Windows: it cannot be read here
#endif
}

}  // namespace platform
