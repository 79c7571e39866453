#pragma once
// Texts that come from the directory (a page's title, a company's name) may carry control
// characters; written as they are to a terminal they would clear it or retitle its window.
// They are shown escaped, or left out where escapes would only confuse (the window); the store
// and the exports keep them byte-exact.

#include <string>
#include <string_view>

namespace text {

enum class Controls {
    Escape,  // written as a visible escape: "\x1b"
    Drop,    // left out
};

// `utf8` with its control characters (U+0000–U+001F but tab and line feed, U+007F and
// U+0080–U+009F) escaped or left out; everything else, bytes that are not UTF-8 included,
// unchanged.
std::string Printable(std::string_view utf8, Controls how = Controls::Escape);

}  // namespace text
