// The collect walk over a search that several collectors share through one store. Instead of
// walking its range in order, the worker claims one page at a time (the lowest that nobody
// works on), walks it as it would any page, marks it done and claims the next; when no page
// can be claimed but some are still being walked by others, it waits, so that a page whose
// collector died is taken over once its lease runs out. A company is stored once per search:
// a page walked again adds nothing. Progress is the pages done by all the collectors.

#include "crawl/CSpiderThread.h"
#include "crawl/ListingParser.h"
#include "crawl/SearchAddress.h"
#include "store/SharedPages.h"

namespace {

// How often a worker with nothing to claim looks again.
constexpr auto kClaimPoll = std::chrono::milliseconds(250);

}  // namespace

void CSpiderThread::KeepLease() {
    if (m_pShared == nullptr || m_nPage == 0) {
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    if (now - m_leaseRenewed >= m_job.lease / 4) {
        m_pShared->RenewLease(m_nSearch, m_nPage, m_job.lease);
        m_leaseRenewed = now;
    }
}

void CSpiderThread::CollectShared(ISharedPages& shared) {
    const std::string keyword = KeywordFor(m_strIndustry, m_strRegion);
    m_pShared = &shared;
    m_nSearch = shared.RegisterSearch(m_strIndustry, m_strRegion, m_nLastPage);
    Post(ev::PagesDone{shared.PagesDone(m_nSearch)});
    for (;;) {
        if (WaitWhilePaused() == Gate::Stop) {
            return;
        }
        const std::optional<int> claimed =
            shared.ClaimPage(m_nSearch, m_nStartPage, m_nLastPage, m_job.lease);
        if (!claimed) {
            if (shared.PagesLeft(m_nSearch, m_nStartPage, m_nLastPage) == 0) {
                Post(ev::PagesDone{shared.PagesDone(m_nSearch)});  // the others' last ones too
                Post(ev::Finished{});
                return;
            }
            // Others are at work on the rest: wait for them, or for a lease to run out. The
            // wait is no stall of this worker.
            Post(ev::BackingOff{kClaimPoll.count()});
            if (m_pStop->WaitFor(kClaimPoll)) {
                return;
            }
            continue;
        }
        m_nPage = *claimed;
        m_leaseRenewed = std::chrono::steady_clock::now();
        const std::string address = ResultPageAddress(keyword, m_nPage);
        Attempt a = FetchWithRetries(address);
        if (a.stopped) {
            shared.ReleasePage(m_nSearch, m_nPage);
            return;
        }
        if (!a.result.ok) {
            // Kept to be fetched again with the failures; the shared walk goes on past it.
            auto kept = m_keptPages.find(address);
            KeptFailure f;
            f.kind = KeptFailure::Kind::ResultPage;
            f.page = m_nPage;
            f.address = address;
            f.reason = a.result.reason;
            f.tries = a.tries + (kept != m_keptPages.end() ? kept->second.tries : 0);
            KeepPage(std::move(f));
            shared.MarkPageDone(m_nSearch, m_nPage);
            NoteOutcome(a.result);
            continue;
        }
        NoteOutcome(a.result);
        if (!ParseListingPage(ListingBlockOf(a.result.body))) {
            // Stopped in the middle: the page goes back to whoever claims it next.
            shared.ReleasePage(m_nSearch, m_nPage);
            return;
        }
        HealPage(address);
        auto gate = m_pStop->StoreGate();
        if (!gate) {
            return;
        }
        shared.MarkPageDone(m_nSearch, m_nPage);
        Post(ev::PagesDone{shared.PagesDone(m_nSearch)});
    }
}
