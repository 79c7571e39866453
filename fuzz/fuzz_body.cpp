// The fetcher's line reader fed any bytes in any chunks gives the byte-by-byte result.

#include <fuzzer/FuzzedDataProvider.h>

#include <string>

#include "ReferenceLineReader.h"
#include "crawl/CurlFetcher.h"

using namespace crawl;

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
    if (reader.Text() != ReferenceLineReader(body)) {
        __builtin_trap();
    }
    return 0;
}
