#pragma once
// The directory's search is addressed by path: the search words become one encoded path
// segment (the keyword) and the page number another.

#include <string>
#include <string_view>

#include "text/GbkSearch.h"

namespace crawl {

// Percent-encodes GBK bytes in the directory's own two-pass way: first the 22 unsafe ASCII
// characters (space as "+", the others as "%" and two lower-case hex digits), then every byte
// outside 33..122 as "%" and two upper-case hex digits.
std::string UrlEncode(std::string_view gbk);

// Splits "industry^region" (text/GbkSearch.h).
using text::SplitCondition;

// The encoded region, "+" when both parts are present, then the encoded industry.
std::string KeywordFor(std::string_view industry, std::string_view region);

std::string PreCollectAddress(std::string_view keyword);
std::string ResultPageAddress(std::string_view keyword, int page);

}  // namespace crawl
