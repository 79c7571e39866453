#include "text/GbkSearch.h"

#include <algorithm>
#include <cstring>
#include <functional>

namespace text {

namespace {

// The next place of `needle` in `text` at or after `from`, or npos. The C library's memmem
// (SIMD two-way in glibc) where there is one: several times faster than a first-byte scan on
// markup. Elsewhere (Windows) a Horspool search.
size_t FindBytes(std::string_view text, std::string_view needle, size_t from) {
#ifdef COLLECTOR_HAVE_MEMMEM
    const void* hit = memmem(text.data() + from, text.size() - from, needle.data(), needle.size());
    return hit == nullptr ? npos : static_cast<size_t>(static_cast<const char*>(hit) - text.data());
#else
    const auto hit = std::search(text.begin() + from, text.end(),
                                 std::boyer_moore_horspool_searcher(needle.begin(), needle.end()));
    return hit == text.end() ? npos : static_cast<size_t>(hit - text.begin());
#endif
}

}  // namespace

size_t FindText(std::string_view text, std::string_view needle, size_t from) {
    if (from > text.size()) {
        return npos;
    }
    if (needle.empty()) {
        return from;
    }
    const auto* base = reinterpret_cast<const unsigned char*>(text.data());
    // `known` is always a character boundary at or before the next candidate. A run of
    // lead-range bytes right in front of a candidate pairs up from its first byte, so the
    // candidate is a boundary when the run has even length. Every byte is looked at by this
    // backward walk at most once, because `known` only moves forward past what was walked.
    size_t known = from;
    size_t pos = from;
    while (pos + needle.size() <= text.size()) {
        const size_t cand = FindBytes(text, needle, pos);
        if (cand == npos) {
            return npos;
        }
        size_t j = cand;
        while (j > known && IsLeadByte(base[j - 1])) {
            --j;
        }
        if ((cand - j) % 2 == 0) {
            return cand;
        }
        known = cand + 1;  // cand is a trail byte, so the next character begins behind it
        pos = cand + 1;
    }
    return npos;
}

std::string ExtractBetween(std::string_view text, std::string_view start, std::string_view end) {
    size_t s = FindText(text, start);
    if (s == npos) {
        return {};
    }
    size_t after = s + start.size();
    if (end.empty()) {
        return std::string(text.substr(after));
    }
    size_t e = FindText(text, end, after);
    if (e == npos) {
        return {};
    }
    return std::string(text.substr(after, e - after));
}

std::string ReplaceAll(std::string_view text, std::string_view what, std::string_view with) {
    if (what.empty()) {
        return std::string(text);
    }
    std::string out;
    out.reserve(text.size());
    size_t pos = 0;
    for (size_t hit; (hit = FindText(text, what, pos)) != npos; pos = hit + what.size()) {
        out.append(text.substr(pos, hit - pos));
        out.append(with);
    }
    out.append(text.substr(pos));
    return out;
}

std::string TrimLeft(std::string_view s) {
    size_t i = 0;
    while (i < s.size() && IsBlank(static_cast<unsigned char>(s[i]))) {
        ++i;
    }
    return std::string(s.substr(i));
}

std::string TrimRight(std::string_view s) {
    size_t n = s.size();
    while (n > 0 && IsBlank(static_cast<unsigned char>(s[n - 1]))) {
        --n;
    }
    return std::string(s.substr(0, n));
}

std::string Trim(std::string_view s) {
    return TrimRight(TrimLeft(s));
}

void SplitCondition(std::string_view condition, std::string& industry, std::string& region) {
    size_t first = FindText(condition, "^");
    if (first == npos) {
        industry.assign(condition);
        region.clear();
        return;
    }
    industry.assign(condition.substr(0, first));
    size_t second = FindText(condition, "^", first + 1);
    region.assign(second == npos ? condition.substr(first + 1)
                                 : condition.substr(first + 1, second - first - 1));
}

}  // namespace text
