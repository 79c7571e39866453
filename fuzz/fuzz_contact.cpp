// The contact parser on any bytes.

#include <string>

#include "crawl/ContactParser.h"
#include "text/GbkSearch.h"

using namespace crawl;
using namespace store;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string page(reinterpret_cast<const char*>(data), size);
    MemberRecord r = ExtractContactFields(page);
    if (!r.title.empty()) {
        __builtin_trap();
    }
    for (const std::string* f : {&r.fax, &r.phone, &r.address, &r.zip}) {
        if (!f->empty() && text::IsBlank(static_cast<unsigned char>((*f)[0]))) {
            __builtin_trap();  // left-trimmed in every layout
        }
    }
    for (const std::string* f : r.Fields()) {
        if (f->size() > page.size()) {
            __builtin_trap();
        }
    }
    return 0;
}
