#include "text/Grams.h"

#include <algorithm>

#include "text/GbkCodec.h"

namespace text {

std::string TrimBlanks(std::string_view s) {
    const size_t first = s.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    return std::string(s.substr(first, s.find_last_not_of(" \t") - first + 1));
}

namespace {

constexpr unsigned kFullWidthFirst = 0xFF01;  // ！
constexpr unsigned kFullWidthLast = 0xFF5E;   // ～
constexpr unsigned kFullWidthOffset = 0xFEE0;

char Lower(unsigned c) {
    return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
}

}  // namespace

std::string FoldAscii(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (size_t i = 0; i < utf8.size(); ++i) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        // U+FF01–U+FF5E are EF BC 81 … EF BD 9E in UTF-8.
        if (c == 0xEF && i + 2 < utf8.size()) {
            const auto b1 = static_cast<unsigned char>(utf8[i + 1]);
            const auto b2 = static_cast<unsigned char>(utf8[i + 2]);
            const unsigned code = ((c & 0x0Fu) << 12) | ((b1 & 0x3Fu) << 6) | (b2 & 0x3Fu);
            if ((b1 & 0xC0) == 0x80 && (b2 & 0xC0) == 0x80 && code >= kFullWidthFirst &&
                code <= kFullWidthLast) {
                out += Lower(code - kFullWidthOffset);
                i += 2;
                continue;
            }
        }
        out += Lower(c);
    }
    return out;
}

void FoldTable(std::string& from, std::string& to) {
    from.clear();
    to.clear();
    for (unsigned c = 'A'; c <= 'Z'; ++c) {
        from += static_cast<char>(c);
        to += Lower(c);
    }
    for (unsigned code = kFullWidthFirst; code <= kFullWidthLast; ++code) {
        from += static_cast<char>(0xE0 | (code >> 12));
        from += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        from += static_cast<char>(0x80 | (code & 0x3F));
        to += Lower(code - kFullWidthOffset);
    }
}

namespace {

// Where each character of `s` begins, and its end.
std::vector<size_t> CharStarts(std::string_view s) {
    std::vector<size_t> starts;
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    for (size_t i = 0; i < s.size();) {
        starts.push_back(i);
        i += std::max<size_t>(1, Utf8CharLength(p + i, s.size() - i));
    }
    starts.push_back(s.size());
    return starts;
}

}  // namespace

size_t CharCount(std::string_view utf8) {
    return CharStarts(utf8).size() - 1;
}

void AppendGramTokens(std::string_view utf8, std::vector<std::string>& tokens) {
    static const char kHex[] = "0123456789abcdef";
    const std::string folded = FoldAscii(utf8);
    const std::vector<size_t> starts = CharStarts(folded);
    const size_t first = tokens.size();
    for (size_t i = 0; i + 2 < starts.size(); ++i) {
        std::string token;
        for (size_t b = starts[i]; b < starts[i + 2]; ++b) {
            const auto byte = static_cast<unsigned char>(folded[b]);
            token.push_back(kHex[byte >> 4]);
            token.push_back(kHex[byte & 15]);
        }
        tokens.push_back(std::move(token));
    }
    std::sort(tokens.begin() + static_cast<std::ptrdiff_t>(first), tokens.end());
    tokens.erase(std::unique(tokens.begin() + static_cast<std::ptrdiff_t>(first), tokens.end()),
                 tokens.end());
}

}  // namespace text
