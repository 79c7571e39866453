#include "crawl/ListingParser.h"

#include <map>

#include "crawl/EntryKey.h"
#include "crawl/Hosts.h"
#include "text/GbkSearch.h"

namespace crawl {

using text::ExtractBetween;

std::string ListingBlockOf(std::string_view page) {
    return ExtractBetween(page, kListingMarker, kListingEnd);
}

bool HasWholeListingBlock(std::string_view page) {
    const size_t start = text::FindText(page, kListingMarker);
    return start != text::npos &&
           text::FindText(page, kListingEnd, start + kListingMarker.size()) != text::npos;
}

std::string CompanyNameOfEntry(std::string_view entry) {
    std::string name = ExtractBetween(entry, " class=\"l\">", "</a></span>");
    name = text::RemoveAll(name, "<font color=red>");
    name = text::RemoveAll(name, "</font>");
    return text::RemoveAll(name, " ");
}

std::string ContactAddressOfEntry(std::string_view entry) {
    const std::string athenaPrefix =
        std::string("http://") + hosts::CompanyHost + "/athena/contact/";
    const std::string detailPrefix = std::string("http://") + hosts::MainHost + "/company/detail/";
    const std::string contactPrefix =
        std::string("http://") + hosts::DetailHost + "/company/detail/contact/";

    if (text::ContainsText(entry, athenaPrefix)) {
        return athenaPrefix + ExtractBetween(entry, athenaPrefix, "\" target");
    }
    if (text::ContainsText(entry, detailPrefix)) {
        return detailPrefix + ExtractBetween(entry, detailPrefix, "\" ");
    }
    std::string link =
        ExtractBetween(ExtractBetween(entry, "view-more\">", "tarvolaclick"), "<a href=\"", "\" ");
    if (text::ContainsText(link, "/athena/")) {
        return text::ReplaceAll(link, "bizreflist", "contact");
    }
    return contactPrefix + ExtractBetween(entry, "detail/contact/", "\" target=");
}

std::vector<ListedEntry> ReadListing(std::string_view block, std::string_view region) {
    std::vector<ListedEntry> entries;
    std::map<std::string, int> seen;
    size_t p = text::FindText(block, kEntryMarker);
    while (p != text::npos) {
        const size_t begin = p + kEntryMarker.size();
        const size_t q = text::FindText(block, kEntryMarker, begin);
        const std::string_view e =
            q == text::npos ? block.substr(begin) : block.substr(begin, q - begin);
        ListedEntry entry;
        entry.name = CompanyNameOfEntry(e);
        entry.address = ContactAddressOfEntry(e);
        entry.occurrence = seen[CompanyOfEntry(entry.name, entry.address)]++;
        entry.inRegion = text::ContainsText(e, region);
        entries.push_back(std::move(entry));
        p = q;
    }
    return entries;
}

}  // namespace crawl
