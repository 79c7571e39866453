#pragma once
// An answer is the page asked for only when it was read whole; everything else is a failure in
// its row of the table of answers (Answer.h), never a page with nothing on it.
//
// - A result page is whole when its listing block is there with both of its markers and lists
//   1 to kMaxEntriesPerPage entries. A page without entries (no block, or a block without
//   entries) is whole only when its totals say the search ends before it: 0 matches, or fewer
//   pages than the one asked for. Anything else (a block cut short, no entries while the totals
//   still reach the page, too many entries) is not the page.
// - The pre-collect page needs only its totals (or a listing).
// - A contact page is whole when one layout's contact section is there with its end marker.
// - An answer that is not the page, whatever its status, is a refusal when it carries neither
//   a listing nor a contact section but the words of a verification page; a 200 that is not the
//   page otherwise is transient, "不是搜索结果页" ("不是联系方式页") with the page's title.
//
// Every check drops the body of a failure: a failure holds no page.

#include <cstdint>
#include <string_view>

#include "crawl/FetchResult.h"

namespace crawl {

// The most entries a whole result page lists; reading stops at the one after.
inline constexpr int kMaxEntriesPerPage = 1000;

// The totals a result page states ("共找到 N 条符合", "total-page">共P页<").
struct SearchTotals {
    bool hasMatches = false;  // "共找到 … 条符合" is there whole
    std::int64_t matches = 0;
    int pages = 0;  // 0 when the page count is not there
};
SearchTotals ReadTotals(std::string_view page);

// Entries of a listing block, counted up to kMaxEntriesPerPage + 1.
int CountEntries(std::string_view block);

bool IsContactPage(std::string_view page);

// The answer for result page `page` (1 and up), or for the pre-collect page when `page` is 0.
// A whole page without entries ends the search (see above).
FetchResult CheckResultPage(FetchResult fetched, int page);
FetchResult CheckContactPage(FetchResult fetched);

}  // namespace crawl
