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

std::string FoldAscii(std::string_view utf8) {
    std::string out(utf8);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return out;
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
