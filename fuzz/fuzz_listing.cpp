// The listing parser on any bytes: it finds every entry the block marks, each with its place
// among the entries of the same company, and an entry key that tells every entry apart.

#include <set>
#include <string>

#include "crawl/EntryKey.h"
#include "crawl/ListingParser.h"
#include "text/GbkSearch.h"

using namespace crawl;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string page(reinterpret_cast<const char*>(data), size);
    const std::string block = ListingBlockOf(page);
    const std::vector<ListedEntry> entries = ReadListing(block, "");
    size_t marked = 0;
    for (size_t p = text::FindText(block, kEntryMarker); p != text::npos;
         p = text::FindText(block, kEntryMarker, p + kEntryMarker.size())) {
        ++marked;
    }
    if (entries.size() != marked) {
        __builtin_trap();
    }
    std::set<std::string> keys;
    for (const ListedEntry& e : entries) {
        if (!e.inRegion ||
            !keys.insert(EntryKeyOf("x^", 1, e.name, e.address, e.occurrence)).second) {
            __builtin_trap();  // no region filters nothing; two entries never share a key
        }
    }
    CompanyNameOfEntry(page);
    ContactAddressOfEntry(page);
    return 0;
}
