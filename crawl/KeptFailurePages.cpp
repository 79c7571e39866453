#include "crawl/PageSource.h"

KeptFailurePages::KeptFailurePages(std::vector<KeptFailure> failures)
    : failures_(std::move(failures)) {}

IPageSource::Offer KeptFailurePages::Next(WorkPage& page) {
    if (next_ >= failures_.size()) {
        return Offer::End;
    }
    const KeptFailure& f = failures_[next_++];
    page = WorkPage{};
    page.page = f.page;
    page.condition = f.condition;
    if (f.kind == KeptFailure::Kind::ContactPage) {
        page.contact = f;
    } else {
        page.address = f.address;
        page.earlierTries = f.tries;
        // An interrupted walk of the page may have stored some of its companies long ago.
        page.unkeyedRowsCount = true;
    }
    return Offer::Page;
}
