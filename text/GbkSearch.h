#pragma once
// Searching GBK page text in bytes without ever matching inside a double-byte character.
//
// A byte 0x81-0xFE is the lead byte of a double-byte character and the byte behind it is its
// trail, whatever that byte is. A match is only reported where a character begins. The search
// position handed in is taken as the beginning of a character.

#include <cstddef>
#include <string>
#include <string_view>

namespace text {

inline constexpr size_t npos = std::string_view::npos;

inline bool IsLeadByte(unsigned char c) {
    return c >= 0x81 && c <= 0xFE;
}

// Offset of the first occurrence of `needle` at or after `from` that begins on a character
// boundary, or npos. An empty needle matches at `from`. Linear in the length searched.
size_t FindText(std::string_view text, std::string_view needle, size_t from = 0);

inline bool ContainsText(std::string_view text, std::string_view needle) {
    return FindText(text, needle) != npos;
}

// The text between the first occurrence of `start` and the first occurrence of `end` behind
// it. Empty when either is missing; the rest of the text when `end` is empty; an empty `start`
// matches at offset 0.
std::string ExtractBetween(std::string_view text, std::string_view start, std::string_view end);

// Replaces every occurrence of `what`, left to right, each search going on behind the last
// replacement. An empty `what` changes nothing.
std::string ReplaceAll(std::string_view text, std::string_view what, std::string_view with);

inline std::string RemoveAll(std::string_view text, std::string_view what) {
    return ReplaceAll(text, what, {});
}

// White space as the page fields use it: space, tab, CR, LF, vertical tab, form feed.
inline bool IsBlank(unsigned char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

std::string TrimLeft(std::string_view s);
std::string TrimRight(std::string_view s);
std::string Trim(std::string_view s);

// Splits a search condition "industry^region" at the first and second "^" (never inside a GBK
// character: '^' may be a trail byte).
void SplitCondition(std::string_view condition, std::string& industry, std::string& region);

}  // namespace text
