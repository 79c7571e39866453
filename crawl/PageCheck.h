#pragma once
// A 200 answer is not yet the page that was asked for. Busy directories answer crawlers with a
// verification or "too many visits" page instead; read as a result page it would look like a
// page without companies, read as a contact page like a company without details. These checks
// turn such an answer into a failure to retry, with the page's title as its reason.
//
// - A result page carries the listing block (both its ends) or the totals that pre-collect
//   reads ("共找到").
//   One with the totals and no entries is a real page (a search that shrank ends there).
// - A contact page carries the contact section of one of its three layouts (found but without
//   fields it is still a contact page).

#include <string_view>

#include "crawl/FetchResult.h"

bool IsResultPage(std::string_view page);
bool IsContactPage(std::string_view page);

// `fetched` unchanged unless it is a 200 answer that is not a result page (contact page): then
// a failure to retry, "不是搜索结果页" ("不是联系方式页") with the page's title when it has one.
FetchResult CheckResultPage(FetchResult fetched);
FetchResult CheckContactPage(FetchResult fetched);
