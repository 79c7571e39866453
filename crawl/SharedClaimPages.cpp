// A collector claims the lowest page of the shared search that nobody works on; with nothing to
// claim but pages still being walked by others it waits, so that a page whose collector died
// is taken over once its lease runs out. Every claim is renewed when a quarter of its lease
// has passed, and before the walk waits, so that it outlasts the wait. A claim found lost (the
// collector was so slow that another took the page over) leaves the page to that one.

#include "crawl/PageSource.h"

#include <algorithm>

#include "crawl/SearchAddress.h"
#include "store/StoreError.h"

namespace crawl {

SharedClaimPages::SharedClaimPages(store::ISharedPages& shared, std::int64_t search,
                                   std::string keyword, std::string condition, int first, int last,
                                   std::chrono::seconds lease, Post post, const Clock& clock)
    : shared_(shared),
      search_(search),
      keyword_(std::move(keyword)),
      condition_(std::move(condition)),
      first_(first),
      last_(last),
      lease_(lease),
      post_(std::move(post)),
      clock_(clock) {
    // A new run of the search: the pages kept as failures before may be walked again.
    shared_.RetryFailedPages(search_);
    round_ = shared_.SearchRound(search_);
    token_ = shared_.Register();
    beat_ = clock_.Now();
}

SharedClaimPages::~SharedClaimPages() {
    try {
        shared_.Unregister(token_);
    } catch (const store::StoreError&) {
        // Its registration goes stale on its own.
    }
}

void SharedClaimPages::CheckSearch() {
    // Pages that vanish (another collector cleared the store) are no walk to call done.
    if (!shared_.SearchExists(search_)) {
        throw store::StoreError("搜索已被清除：另一个采集器清空了共享数据库，采集已停止");
    }
}

IPageSource::Offer SharedClaimPages::Next(WorkPage& page) {
    if (shared_.SearchRound(search_) != round_) {
        // Another collector opened the next round: this walk's round was done by the others.
        post_(ev::PagesDone{shared_.PagesDone(search_)});
        return Offer::End;
    }
    std::optional<store::ISharedPages::Claim> claim =
        shared_.ClaimPage(search_, first_, last_, lease_);
    if (!claim) {
        if (held_.empty() && shared_.PagesLeft(search_, first_, last_) == 0) {
            CheckSearch();
            post_(ev::PagesDone{shared_.PagesDone(search_)});  // the others' last ones too
            return Offer::End;
        }
        return Offer::Wait;
    }
    held_[claim->page] = Held{*claim, clock_.Now()};
    page = WorkPage{};
    page.page = claim->page;
    page.address = ResultPageAddress(keyword_, claim->page);
    page.condition = condition_;
    return Offer::Page;
}

void SharedClaimPages::Done(const WorkPage& page) {
    CheckSearch();
    // Every entry of the page is stored, whoever holds the claim now.
    shared_.MarkPageDone(search_, page.page, round_);
    held_.erase(page.page);
    post_(ev::PagesDone{shared_.PagesDone(search_)});
}

void SharedClaimPages::Kept(const WorkPage& page) {
    // Kept to be fetched again with the failures: not done, and not claimed again in this run;
    // the shared walk goes on past it.
    CheckSearch();
    shared_.MarkPageFailed(search_, page.page, round_);
    held_.erase(page.page);
}

void SharedClaimPages::Leave(const WorkPage& page) {
    auto it = held_.find(page.page);
    if (it == held_.end()) {
        return;
    }
    const store::ISharedPages::Claim claim = it->second.claim;
    held_.erase(it);
    try {
        shared_.ReleasePage(search_, claim);
    } catch (const store::StoreError&) {
        // Its lease runs out on its own.
    }
}

void SharedClaimPages::EndsAt(int page) {
    CheckSearch();
    shared_.EndSearchAt(search_, page, round_);
    last_ = std::min(last_, page);
}

std::vector<int> SharedClaimPages::KeepAlive(std::chrono::milliseconds coming) {
    std::vector<int> lost;
    const auto now = clock_.Now();
    if (now - beat_ >= kBeat || coming.count() > 0) {
        shared_.Heartbeat(token_, std::chrono::ceil<std::chrono::seconds>(coming));
        beat_ = now;
    }
    for (auto it = held_.begin(); it != held_.end();) {
        Held& h = it->second;
        if (coming.count() > 0 || now - h.renewed >= lease_ / 4) {
            const auto lease = lease_ + std::chrono::ceil<std::chrono::seconds>(coming);
            if (!shared_.RenewLease(search_, h.claim, lease)) {
                CheckSearch();
                lost.push_back(it->first);
                it = held_.erase(it);
                continue;
            }
            h.renewed = now;
        }
        ++it;
    }
    return lost;
}

}  // namespace crawl
