#include "text/GbkCodec.h"

namespace text {

bool IsAscii(std::string_view s) {
    for (unsigned char c : s) {
        if (c >= 0x80) {
            return false;
        }
    }
    return true;
}

size_t Utf8CharLength(const unsigned char* p, size_t left) {
    size_t n = 1;
    if (p[0] >= 0xC2 && p[0] <= 0xDF) {
        n = 2;
    } else if (p[0] >= 0xE0 && p[0] <= 0xEF) {
        n = 3;
    } else if (p[0] >= 0xF0 && p[0] <= 0xF4) {
        n = 4;
    }
    if (n > left) {
        return 1;
    }
    for (size_t i = 1; i < n; ++i) {
        if ((p[i] & 0xC0) != 0x80) {
            return 1;
        }
    }
    return n;
}

}  // namespace text
