#pragma once
// Reading numbers typed by users or found in pages the way the C library's atoi reads them:
// leading blanks, an optional sign, then digits; no digits gives 0. Values beyond the range of
// the result saturate instead of overflowing.

#include <cstdint>
#include <optional>
#include <string_view>

namespace text {

std::int64_t LeadingLong(std::string_view s);
int LeadingInt(std::string_view s);

}  // namespace text

namespace text {

// A whole number written as nothing but decimal digits (no sign, no blanks, no unit) within
// [low, high]; nothing otherwise. For settings that must be read strictly: "2m" is no 2.
std::optional<std::int64_t> StrictNumber(std::string_view s, std::int64_t low, std::int64_t high);

// The environment variable `name` read with StrictNumber; `fallback` when it is not set.
// Throws std::invalid_argument, naming the variable and the range, when it holds anything else.
std::int64_t EnvNumber(const char* name, std::int64_t low, std::int64_t high,
                       std::int64_t fallback);

}  // namespace text
