// The boundary-aware search and ExtractBetween against a plain reference on any bytes.

#include <fuzzer/FuzzedDataProvider.h>

#include <string>

#include "text/GbkSearch.h"

namespace {

// Walks the characters from `from` and compares at every character start.
size_t ReferenceFind(const std::string& text, const std::string& needle, size_t from) {
    if (from > text.size()) {
        return text::npos;
    }
    for (size_t i = from; i + needle.size() <= text.size();) {
        if (text.compare(i, needle.size(), needle) == 0) {
            return i;
        }
        i += text::IsLeadByte(static_cast<unsigned char>(text[i])) ? 2 : 1;
    }
    return text::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    const std::string start = in.ConsumeRandomLengthString(8);
    const std::string end = in.ConsumeRandomLengthString(8);
    const size_t from = in.ConsumeIntegralInRange<size_t>(0, 64);
    const std::string text = in.ConsumeRemainingBytesAsString();

    if (!start.empty() && text::FindText(text, start, from) != ReferenceFind(text, start, from)) {
        __builtin_trap();
    }
    const std::string between = text::ExtractBetween(text, start, end);
    const size_t s = ReferenceFind(text, start, 0);
    std::string expected;
    if (s != text::npos) {
        const size_t after = s + start.size();
        if (end.empty()) {
            expected = text.substr(after);
        } else {
            const size_t e = ReferenceFind(text, end, after);
            expected = e == text::npos ? std::string() : text.substr(after, e - after);
        }
    }
    if (between != expected) {
        __builtin_trap();
    }
    const std::string replaced = text::ReplaceAll(text, start, end);
    if (start.empty() && replaced != text) {
        __builtin_trap();
    }
    text::Trim(text);
    return 0;
}
