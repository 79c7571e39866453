#include "crawl/PageCheck.h"

#include <string>

#include "crawl/ContactParser.h"
#include "crawl/ListingParser.h"
#include "text/GbkCodec.h"
#include "text/GbkSearch.h"
#include "text/Number.h"

namespace crawl {

namespace {

FetchResult NotThePage(FetchResult fetched, const char* what, bool holdsSection) {
    // A verification page, whatever its status, is the site asking for a human or for fewer
    // visits; the proxy's 407 stays the proxy's.
    const bool refusal =
        !holdsSection && fetched.answer != Answer::Proxy && HasVerificationWords(fetched.body);
    if (!fetched.ok && !refusal) {
        fetched.DropBody();
        return fetched;  // its status's row stands
    }
    std::string title = text::Trim(text::ExtractBetween(fetched.body, "<title>", "</title>"));
    if (title.size() > 200) {
        title.resize(200);  // a reason, not a page; GbkToUtf8 mends a cut character
    }
    // The page's title, or the status a verification page came with, says which page it was.
    const std::string detail = !title.empty() ? text::GbkToUtf8(title)
                               : fetched.ok   ? std::string()
                                              : "HTTP " + std::to_string(fetched.status);
    std::string reason(refusal ? std::string_view(kRefusalReason) : std::string_view(what));
    if (!detail.empty()) {
        reason += "（" + detail + "）";
    }
    FetchResult r = FetchResult::Failed(
        std::move(reason), refusal ? Answer::Refusal : Answer::Transient, fetched.status);
    r.notThePage = true;
    r.retryAfter = fetched.retryAfter;
    return r;
}

bool HasListingStart(std::string_view page) {
    return text::ContainsText(page, kListingMarker);
}

}  // namespace

SearchTotals ReadTotals(std::string_view page) {
    static const std::string found = text::Utf8ToGbk("共找到");
    static const std::string matching = text::Utf8ToGbk("条符合");
    static const std::string pagesStart = text::Utf8ToGbk("total-page\">共");
    static const std::string pagesEnd = text::Utf8ToGbk("页<");
    SearchTotals t;
    // The count is there only when the whole phrase is: a page cut right after "共找到" says
    // nothing of its matches, least of all that there are none.
    const size_t at = text::FindText(page, found);
    t.hasMatches =
        at != text::npos && text::FindText(page, matching, at + found.size()) != text::npos;
    t.matches = text::LeadingLong(text::Trim(text::ExtractBetween(page, found, matching)));
    t.pages = text::LeadingInt(text::ExtractBetween(page, pagesStart, pagesEnd));
    return t;
}

int CountEntries(std::string_view block) {
    int n = 0;
    for (size_t p = text::FindText(block, kEntryMarker); p != text::npos && n <= kMaxEntriesPerPage;
         p = text::FindText(block, kEntryMarker, p + kEntryMarker.size())) {
        ++n;
    }
    return n;
}

bool IsContactPage(std::string_view page) {
    return ContactSectionWhole(page);
}

FetchResult CheckResultPage(FetchResult fetched, int page) {
    const bool listing = HasListingStart(fetched.body);
    if (!fetched.ok) {
        return NotThePage(std::move(fetched), "不是搜索结果页", listing);
    }
    if (listing && !HasWholeListingBlock(fetched.body)) {
        return NotThePage(std::move(fetched), "不是搜索结果页", true);  // cut short
    }
    const int entries = CountEntries(ListingBlockOf(fetched.body));
    if (entries > kMaxEntriesPerPage) {
        return NotThePage(std::move(fetched), "不是搜索结果页", true);
    }
    const SearchTotals totals = ReadTotals(fetched.body);
    if (page == 0) {
        // The pre-collect page: its totals (a listing alone counts as one page).
        if (listing || totals.hasMatches) {
            return fetched;
        }
        return NotThePage(std::move(fetched), "不是搜索结果页", false);
    }
    if (entries > 0) {
        return fetched;
    }
    // Nothing listed: the search ends here only when the page says so itself.
    if ((totals.hasMatches && totals.matches == 0) || (totals.pages > 0 && totals.pages < page)) {
        return fetched;
    }
    return NotThePage(std::move(fetched), "不是搜索结果页", listing);
}

FetchResult CheckContactPage(FetchResult fetched) {
    const bool whole = ContactSectionWhole(fetched.body);
    if (fetched.ok && whole) {
        return fetched;
    }
    const bool section = RecognizeLayout(fetched.body) != ContactLayout::None;
    return NotThePage(std::move(fetched), "不是联系方式页", section);
}

}  // namespace crawl
