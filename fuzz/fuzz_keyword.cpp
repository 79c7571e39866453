// The keyword encoder on any condition text: the address part is always plain ASCII.

#include <string>

#include "crawl/SearchAddress.h"

using namespace crawl;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string condition(reinterpret_cast<const char*>(data), size);
    std::string industry, region;
    SplitCondition(condition, industry, region);
    if (industry.size() + region.size() > condition.size()) {
        __builtin_trap();
    }
    const std::string keyword = KeywordFor(industry, region);
    for (unsigned char c : keyword) {
        if (c <= 32 || c >= 123) {
            __builtin_trap();
        }
    }
    const std::string encoded = UrlEncode(condition);
    for (size_t i = 0; i < encoded.size(); ++i) {
        if (encoded[i] == '%' &&
            (i + 2 >= encoded.size() || !isxdigit(encoded[i + 1]) || !isxdigit(encoded[i + 2]))) {
            __builtin_trap();
        }
    }
    ResultPageAddress(keyword, static_cast<int>(size));
    return 0;
}
