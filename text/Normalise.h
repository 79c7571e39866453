#pragma once
// Company names as compared, never as stored: full-width forms folded to their ordinary
// (half-width) forms as NFKC folds them, the Chinese brackets （） becoming (), and every blank
// removed, so "广州化工（集团） 有限公司" and "广州化工(集团)有限公司" are the same company.

#include <string>
#include <string_view>

namespace text {

// `utf8` folded as above (UTF-8 in, UTF-8 out).
std::string NormaliseName(std::string_view utf8);

}  // namespace text
