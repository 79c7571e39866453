#include "crawl/PageSource.h"

#include "store/StoreError.h"

namespace crawl {

KeptFailurePages::KeptFailurePages(std::vector<store::KeptFailure> failures, WriterAccess store,
                                   std::string run)
    : failures_(std::move(failures)), store_(std::move(store)), run_(std::move(run)) {}

IPageSource::Offer KeptFailurePages::Next(WorkPage& page) {
    std::optional<std::string> claim;
    const store::KeptFailure* next = nullptr;
    while (!claim) {
        if (next_ >= failures_.size()) {
            return Offer::End;
        }
        next = &failures_[next_++];
        claim = store_().ClaimFailure(next->id, kClaim, run_);  // nothing: gone, or another's
    }
    const store::KeptFailure& f = *next;
    claims_[f.id] = *claim;
    page = WorkPage{};
    page.failureId = f.id;
    page.page = f.page;
    page.condition = f.condition;
    if (f.kind == store::KeptFailure::Kind::ContactPage) {
        page.contact = f;
    } else {
        page.address = f.address;
        page.earlierTries = f.tries;
        // An interrupted walk of the page may have stored some of its companies long ago.
        page.unkeyedRowsCount = true;
    }
    return Offer::Page;
}

void KeptFailurePages::Leave(const WorkPage& page) {
    auto it = claims_.find(page.failureId);
    if (it == claims_.end()) {
        return;
    }
    const std::string token = it->second;
    claims_.erase(it);
    try {
        store_().ReleaseFailure(page.failureId, token);
    } catch (const store::StoreError&) {
        // The claim runs out on its own.
    }
}

}  // namespace crawl
