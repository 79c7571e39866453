#include "text/Normalise.h"

namespace text {

namespace {

void AppendUtf8(std::string& out, unsigned cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

// The code point at `i` and its length; a broken sequence is taken one byte at a time.
unsigned Decode(std::string_view s, size_t i, size_t& n) {
    const auto c = static_cast<unsigned char>(s[i]);
    n = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
    if (c >= 0x80 && c < 0xC0) {
        n = 1;
    }
    if (i + n > s.size()) {
        n = 1;
        return c;
    }
    unsigned cp = n == 1 ? c : n == 2 ? (c & 0x1Fu) : n == 3 ? (c & 0x0Fu) : (c & 0x07u);
    for (size_t k = 1; k < n; ++k) {
        const auto t = static_cast<unsigned char>(s[i + k]);
        if ((t & 0xC0) != 0x80) {
            n = 1;
            return c;
        }
        cp = (cp << 6) | (t & 0x3Fu);
    }
    return cp;
}

bool Blank(unsigned cp) {
    return cp == ' ' || cp == '\t' || cp == '\r' || cp == '\n' || cp == 0xA0 || cp == 0x3000 ||
           (cp >= 0x2000 && cp <= 0x200B) || cp == 0xFEFF;
}

}  // namespace

std::string NormaliseName(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (size_t i = 0; i < utf8.size();) {
        size_t n = 1;
        unsigned cp = Decode(utf8, i, n);
        if (n == 1 && cp >= 0x80) {
            out.push_back(utf8[i++]);  // a broken sequence stays as it is
            continue;
        }
        i += n;
        if (cp >= 0xFF01 && cp <= 0xFF5E) {
            cp -= 0xFEE0;  // full-width ASCII forms, （） included
        } else if (cp == 0xFFE0 || cp == 0xFFE1 || cp == 0xFFE5 || cp == 0xFFE6) {
            cp = cp == 0xFFE0 ? 0xA2 : cp == 0xFFE1 ? 0xA3 : cp == 0xFFE5 ? 0xA5 : 0x20A9;
        }
        if (Blank(cp)) {
            continue;
        }
        AppendUtf8(out, cp);
    }
    return out;
}

}  // namespace text
