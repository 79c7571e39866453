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

// The one rule by which the filter compares texts, on every store: full-width ASCII forms
// (U+FF01–U+FF5E, "ＡＢＣ１２３") as ASCII, and ASCII letters in lower case; everything else
// (ü, Greek, the Turkish İ) as it is, whatever the machine's or the database's locale.
std::string FoldAscii(std::string_view utf8);

// The same rule as the two strings of an SQL translate(): each character of `from` becomes the
// one at the same place of `to` (UTF-8).
void FoldTable(std::string& from, std::string& to);

// How many characters `utf8` holds (a malformed byte counts as one).
size_t CharCount(std::string_view utf8);

// The distinct pairs of neighbouring characters of `utf8` (folded), each as an index token:
// the pair's bytes in hexadecimal, which any tokenizer keeps whole. Appended to `tokens`.
void AppendGramTokens(std::string_view utf8, std::vector<std::string>& tokens);

}  // namespace text
