#pragma once
// Reading numbers typed by users or found in pages the way the C library's atoi reads them:
// leading blanks, an optional sign, then digits; no digits gives 0. Values beyond the range of
// the result saturate instead of overflowing.

#include <cstdint>
#include <string_view>

namespace text {

std::int64_t LeadingLong(std::string_view s);
int LeadingInt(std::string_view s);

}  // namespace text
