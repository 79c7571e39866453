// GBK conversions by Windows' own code page 936.

#include "text/GbkCodec.h"

#include <windows.h>

#include <climits>

namespace text {
namespace {

constexpr UINT kGbk = 936;

// Windows gives GBK's user-defined and unassigned codes (and the byte 0xFF) characters of the
// private use area, where iconv and the directory's own pages know none: they count as
// invalid, in both directions.
bool HasPrivateUse(std::wstring_view text) {
    for (wchar_t c : text) {
        if (c >= 0xE000 && c <= 0xF8FF) {
            return true;
        }
    }
    return false;
}

// `in` in UTF-16 through `codePage`, or nothing when a byte sequence does not decode.
std::optional<std::wstring> Decode(UINT codePage, std::string_view in) {
    if (in.empty()) {
        return std::wstring();
    }
    if (in.size() > INT_MAX / 2) {
        return std::nullopt;  // Windows counts in int: such a text goes character by character
    }
    const int size = static_cast<int>(in.size());
    const int n = MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, in.data(), size, nullptr, 0);
    if (n <= 0) {
        return std::nullopt;
    }
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, in.data(), size, out.data(), n);
    if (HasPrivateUse(out)) {
        return std::nullopt;
    }
    return out;
}

// `in` in `codePage`, or nothing when a character has no form there.
std::optional<std::string> Encode(UINT codePage, std::wstring_view in) {
    if (in.empty()) {
        return std::string();
    }
    if (in.size() > INT_MAX / 4 || HasPrivateUse(in)) {
        return std::nullopt;
    }
    const int size = static_cast<int>(in.size());
    // Best-fit would turn a character without a GBK form into a look-alike without a word.
    const DWORD flags = codePage == CP_UTF8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
    BOOL usedDefault = FALSE;
    BOOL* used = codePage == CP_UTF8 ? nullptr : &usedDefault;
    const int n = WideCharToMultiByte(codePage, flags, in.data(), size, nullptr, 0, nullptr, used);
    if (n <= 0 || usedDefault) {
        return std::nullopt;
    }
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(codePage, flags, in.data(), size, out.data(), n, nullptr, nullptr);
    return out;
}

std::optional<std::string> Convert(UINT from, UINT to, std::string_view in) {
    const auto wide = Decode(from, in);
    return wide ? Encode(to, *wide) : std::nullopt;
}

// Whether the `left` bytes at `p` are the start of a character that the text's end cut off.
bool CutOffAtTheEnd(const unsigned char* p, size_t left) {
    const size_t want = p[0] >= 0xF0 && p[0] <= 0xF4   ? 4
                        : p[0] >= 0xE0 && p[0] <= 0xEF ? 3
                        : p[0] >= 0xC2 && p[0] <= 0xDF ? 2
                                                       : 0;
    if (want <= left) {
        return false;
    }
    for (size_t i = 1; i < left; ++i) {
        if ((p[i] & 0xC0) != 0x80) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::string GbkToUtf8(std::string_view gbk) {
    if (IsAscii(gbk)) {
        return std::string(gbk);
    }
    if (auto whole = Convert(kGbk, CP_UTF8, gbk)) {
        return std::move(*whole);
    }
    // Character by character. A bad double-byte pair loses its lead byte; the next byte is
    // kept when it is ASCII, so markup behind a broken character survives.
    std::string out;
    out.reserve(gbk.size() * 3 / 2 + 16);
    const auto* p = reinterpret_cast<const unsigned char*>(gbk.data());
    const size_t size = gbk.size();
    size_t i = 0;
    while (i < size) {
        if (p[i] < 0x80) {
            out.push_back(static_cast<char>(p[i++]));
            continue;
        }
        const size_t n = p[i] >= 0x81 && p[i] <= 0xFE && i + 1 < size ? 2 : 1;
        if (auto one = Convert(kGbk, CP_UTF8, gbk.substr(i, n))) {
            out += *one;
            i += n;
            continue;
        }
        out += "\xEF\xBF\xBD";
        if (i + 1 >= size) {
            break;  // a lead byte cut off at the end
        }
        i += n == 2 && p[i + 1] >= 0x80 ? 2 : 1;
    }
    return out;
}

std::string Utf8ToGbk(std::string_view utf8) {
    if (IsAscii(utf8)) {
        return std::string(utf8);
    }
    if (auto whole = Convert(CP_UTF8, kGbk, utf8)) {
        return std::move(*whole);
    }
    // Character by character: one without a GBK form (or a stray byte) becomes "?".
    std::string out;
    out.reserve(utf8.size());
    const auto* p = reinterpret_cast<const unsigned char*>(utf8.data());
    size_t i = 0;
    while (i < utf8.size()) {
        if (p[i] < 0x80) {
            out.push_back(static_cast<char>(p[i++]));
            continue;
        }
        size_t n = Utf8CharLength(p + i, utf8.size() - i);
        if (n == 1 && CutOffAtTheEnd(p + i, utf8.size() - i)) {
            n = utf8.size() - i;  // one "?" for what is left
        }
        auto one = n > 1 ? Convert(CP_UTF8, kGbk, utf8.substr(i, n)) : std::nullopt;
        out += one ? *one : std::string("?");
        i += n;
    }
    return out;
}

std::optional<std::string> GbkToUtf8Exact(std::string_view gbk) {
    if (IsAscii(gbk)) {
        return std::string(gbk);
    }
    return Convert(kGbk, CP_UTF8, gbk);
}

std::optional<std::string> Utf8ToGbkExact(std::string_view utf8) {
    if (IsAscii(utf8)) {
        return std::string(utf8);
    }
    return Convert(CP_UTF8, kGbk, utf8);
}

}  // namespace text
