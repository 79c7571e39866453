// The fetcher's line reader fed any bytes in any chunks gives the byte-by-byte result.

#include <fuzzer/FuzzedDataProvider.h>

#include <string>

#include "crawl/CurlFetcher.h"

namespace {

std::string Reference(const std::string& body) {
    std::string out;
    size_t piece = 0;
    bool nul = false;
    for (char c : body) {
        if (c == '\r') {
            continue;
        }
        ++piece;
        if (!nul) {
            if (c == '\0') {
                nul = true;
            } else if (c == '\n') {
                out += "\r\n";
            } else {
                out += c;
            }
        }
        if (c == '\n' || piece == CurlFetcher::kPieceBytes) {
            piece = 0;
            nul = false;
        }
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    const size_t chunk = in.ConsumeIntegralInRange<size_t>(1, 9000);
    const size_t repeat = in.ConsumeIntegralInRange<size_t>(1, 8);
    std::string body;
    const std::string unit = in.ConsumeRemainingBytesAsString();
    for (size_t i = 0; i < repeat; ++i) {
        body += unit;
    }
    CurlFetcher::BodyReader reader;
    for (size_t pos = 0; pos < body.size(); pos += chunk) {
        reader.Feed(body.data() + pos, std::min(chunk, body.size() - pos));
    }
    if (reader.Text() != Reference(body)) {
        __builtin_trap();
    }
    return 0;
}
