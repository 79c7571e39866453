#include "text/Number.h"

#include <cstdlib>
#include <limits>
#include <stdexcept>
#include <string>

namespace text {

std::int64_t LeadingLong(std::string_view s) {
    size_t i = 0;
    while (i < s.size() && (s[i] == ' ' || (s[i] >= '\t' && s[i] <= '\r'))) {
        ++i;
    }
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
        negative = s[i] == '-';
        ++i;
    }
    const std::int64_t limit = std::numeric_limits<std::int64_t>::max();
    std::int64_t value = 0;
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
        int digit = s[i] - '0';
        if (value > (limit - digit) / 10) {
            value = limit;
            break;
        }
        value = value * 10 + digit;
    }
    return negative ? -value : value;
}

int LeadingInt(std::string_view s) {
    std::int64_t v = LeadingLong(s);
    if (v > std::numeric_limits<int>::max()) {
        return std::numeric_limits<int>::max();
    }
    if (v < std::numeric_limits<int>::min()) {
        return std::numeric_limits<int>::min();
    }
    return static_cast<int>(v);
}

}  // namespace text

std::optional<std::int64_t> text::StrictNumber(std::string_view s, std::int64_t low,
                                               std::int64_t high) {
    if (s.empty() || s.size() > 18) {
        return std::nullopt;
    }
    std::int64_t n = 0;
    for (char c : s) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        n = n * 10 + (c - '0');
    }
    if (n < low || n > high) {
        return std::nullopt;
    }
    return n;
}

std::int64_t text::EnvNumber(const char* name, std::int64_t low, std::int64_t high,
                             std::int64_t fallback) {
    const char* value = std::getenv(name);
    if (value == nullptr) {
        return fallback;
    }
    if (auto n = StrictNumber(value, low, high)) {
        return *n;
    }
    throw std::invalid_argument("环境变量 " + std::string(name) + " 应为 " + std::to_string(low) +
                                " 到 " + std::to_string(high) + " 之间的整数：" + value);
}
