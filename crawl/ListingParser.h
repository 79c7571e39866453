#pragma once
// Reading one company entry of a search-result page's listing block. No HTML is parsed: every
// value is cut out between literal markers, never inside a GBK character.

#include <string>
#include <string_view>

// The listing block of a result page (empty when the page lacks its markers).
std::string ListingBlockOf(std::string_view page);

// The entry marker; an entry runs from behind one marker to the next or to the block's end.
inline constexpr std::string_view kEntryMarker = "<div class=\"info\">";

// The company name: between " class=\"l\">" and "</a></span>", with every
// "<font color=red>", "</font>" and ASCII space removed.
std::string CompanyNameOfEntry(std::string_view entry);

// The address of the company's contact page, by the first of four rules that applies. Never
// validated: with nothing recognisable it is the bare detail-contact prefix.
std::string ContactAddressOfEntry(std::string_view entry);
