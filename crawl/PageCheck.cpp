#include "crawl/PageCheck.h"

#include <string>

#include "crawl/ContactParser.h"
#include "crawl/ListingParser.h"
#include "text/GbkCodec.h"
#include "text/GbkSearch.h"

namespace {

FetchResult NotThePage(FetchResult fetched, const char* what) {
    std::string title = text::Trim(text::ExtractBetween(fetched.body, "<title>", "</title>"));
    if (title.size() > 200) {
        title.resize(200);  // a reason, not a page; GbkToUtf8 mends a cut character
    }
    std::string reason = what;
    if (!title.empty()) {
        reason += "（" + text::GbkToUtf8(title) + "）";
    }
    FetchResult r = FetchResult::Failure(std::move(reason), true, fetched.status);
    r.notThePage = true;
    r.retryAfter = fetched.retryAfter;
    return r;
}

}  // namespace

bool IsResultPage(std::string_view page) {
    static const std::string found = text::Utf8ToGbk("共找到");
    // A listing cut short (its end marker missing) is not a page without companies.
    return !ListingBlockOf(page).empty() || text::ContainsText(page, found);
}

bool IsContactPage(std::string_view page) {
    return RecognizeLayout(page) != ContactLayout::None;
}

FetchResult CheckResultPage(FetchResult fetched) {
    if (!fetched.ok || IsResultPage(fetched.body)) {
        return fetched;
    }
    return NotThePage(std::move(fetched), "不是搜索结果页");
}

FetchResult CheckContactPage(FetchResult fetched) {
    if (!fetched.ok || IsContactPage(fetched.body)) {
        return fetched;
    }
    return NotThePage(std::move(fetched), "不是联系方式页");
}
