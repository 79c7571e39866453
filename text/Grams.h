#pragma once
// The index the collected-data filter searches: every two neighbouring characters of a text
// (ASCII letters in lower case), so a query of two or more characters, Chinese ones included,
// is looked up instead of scanned for. A text matches a query when it holds every pair of the
// query; the caller then checks the query itself, since the pairs may come from other places.

#include <string>
#include <string_view>
#include <vector>

namespace text {

// A query as typed, without the blanks and tabs around it.
std::string TrimBlanks(std::string_view s);

// ASCII letters in lower case; everything else as it is.
std::string FoldAscii(std::string_view utf8);

// How many characters `utf8` holds (a malformed byte counts as one).
size_t CharCount(std::string_view utf8);

// The distinct pairs of neighbouring characters of `utf8` (folded), each as an index token:
// the pair's bytes in hexadecimal, which any tokenizer keeps whole. Appended to `tokens`.
void AppendGramTokens(std::string_view utf8, std::vector<std::string>& tokens);

}  // namespace text
