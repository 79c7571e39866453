#include "crawl/ListingParser.h"

#include "crawl/Hosts.h"
#include "text/GbkSearch.h"

using text::ExtractBetween;

std::string ListingBlockOf(std::string_view page) {
    return ExtractBetween(page, "<div id=\"offer_list\" class=\"list\">", "<script language=");
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
