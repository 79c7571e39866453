#include "crawl/SearchAddress.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "crawl/Hosts.h"
#include "text/GbkSearch.h"

namespace crawl {

namespace {

constexpr std::string_view kUnsafe = "\"< >%\\^[]`+$,@:;/!#?=&";

void AppendHex(std::string& out, unsigned char b, const char* digits) {
    out.push_back('%');
    out.push_back(digits[b >> 4]);
    out.push_back(digits[b & 15]);
}

}  // namespace

std::string UrlEncode(std::string_view gbk) {
    // A NUL ends the text, as it ends a C string.
    gbk = gbk.substr(0, std::min(gbk.size(), gbk.find('\0')));
    std::string passA;
    passA.reserve(gbk.size() * 3);
    for (char c : gbk) {
        if (c == ' ') {
            passA.push_back('+');
        } else if (kUnsafe.find(c) != std::string_view::npos) {
            AppendHex(passA, static_cast<unsigned char>(c), "0123456789abcdef");
        } else {
            passA.push_back(c);
        }
    }
    std::string out;
    out.reserve(passA.size() * 3);
    for (char ch : passA) {
        auto c = static_cast<signed char>(ch);
        if (c > 32 && c < 123) {
            out.push_back(ch);
        } else {
            AppendHex(out, static_cast<unsigned char>(ch), "0123456789ABCDEF");
        }
    }
    return out;
}

std::string KeywordFor(std::string_view industry, std::string_view region) {
    std::string keyword;
    if (!region.empty()) {
        keyword += UrlEncode(region);
    }
    if (!industry.empty()) {
        if (!keyword.empty()) {
            keyword += '+';
        }
        keyword += UrlEncode(industry);
    }
    return keyword;
}

std::string PreCollectAddress(std::string_view keyword) {
    return std::string("http://") + hosts::SearchHost + "/company/k-" + std::string(keyword) +
           "_n-y.html";
}

std::string ResultPageAddress(std::string_view keyword, int page) {
    return std::string("http://") + hosts::SearchHost + "/company/k-" + std::string(keyword) +
           "_p-" + std::to_string(page) + "_isCreditFlag-false_n-y.html";
}

}  // namespace crawl
