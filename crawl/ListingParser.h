#pragma once
// Reading one company entry of a search-result page's listing block. No HTML is parsed: every
// value is cut out between literal markers, never inside a GBK character.

#include <string>
#include <string_view>
#include <vector>

namespace crawl {

// Where the listing block of a result page begins.
inline constexpr std::string_view kListingMarker = "<div id=\"offer_list\" class=\"list\">";
// Where it ends.
inline constexpr std::string_view kListingEnd = "<script language=";

// The listing block of a result page (empty when the page lacks its markers).
std::string ListingBlockOf(std::string_view page);

// Whether the page holds the listing block with both of its markers (cut short it does not).
bool HasWholeListingBlock(std::string_view page);

// The entry marker; an entry runs from behind one marker to the next or to the block's end.
inline constexpr std::string_view kEntryMarker = "<div class=\"info\">";

// The company name: between " class=\"l\">" and "</a></span>", with every
// "<font color=red>", "</font>" and ASCII space removed.
std::string CompanyNameOfEntry(std::string_view entry);

// The address of the company's contact page, by the first of four rules that applies. Never
// validated: with nothing recognisable it is the bare detail-contact prefix.
std::string ContactAddressOfEntry(std::string_view entry);

// One entry of a listing block, as the walk needs it.
struct ListedEntry {
    std::string name;     // CompanyNameOfEntry
    std::string address;  // ContactAddressOfEntry
    // How many earlier entries of the block name the same company (see CompanyOfEntry),
    // counted over every entry, whatever its region.
    int occurrence = 0;
    bool inRegion = true;  // the entry's text names the region of the search
};

// Every entry of `block` in order, each marked with whether it lists `region` (GBK; empty
// matches every entry).
std::vector<ListedEntry> ReadListing(std::string_view block, std::string_view region);

}  // namespace crawl
