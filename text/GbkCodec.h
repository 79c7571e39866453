#pragma once
// Conversion between GBK (code page 936) byte strings and UTF-8.
//
// Nothing is ever dropped: a GBK byte sequence that does not decode becomes U+FFFD and the rest
// of the text is still converted; a UTF-8 character without a GBK form (or a malformed UTF-8
// byte) becomes "?".

#include <optional>
#include <string>
#include <string_view>

namespace text {

std::string GbkToUtf8(std::string_view gbk);
std::string Utf8ToGbk(std::string_view utf8);

// `gbk` in UTF-8, or nothing when a byte sequence is not GBK: for reading where a U+FFFD in
// place of a character would be a silent loss.
std::optional<std::string> GbkToUtf8Exact(std::string_view gbk);

// `utf8` in GBK, or nothing when a character has no GBK form (or the UTF-8 is malformed): for
// writing where a "?" in place of a name would be a silent loss.
std::optional<std::string> Utf8ToGbkExact(std::string_view utf8);

// True when every byte is below 0x80; such text is the same in GBK and UTF-8.
bool IsAscii(std::string_view s);

// The length of the whole UTF-8 character at `p` (of `left` bytes), or 1 for a byte that starts
// none: what a conversion passes over when the character has no GBK form.
size_t Utf8CharLength(const unsigned char* p, size_t left);

}  // namespace text
