// The collect walk over a search that several collectors share through one store. Instead of
// walking its range in order, the worker claims one page at a time (the lowest that nobody
// works on), walks it as it would any page, marks it done and claims the next; when no page
// can be claimed but some are still being walked by others, it waits, so that a page whose
// collector died is taken over once its lease runs out. The lease is renewed between the
// page's companies and before every wait; a worker that finds its claim lost (it was too slow
// and another collector took the page over) leaves the page to that one. A company is stored
// once per search: a page walked again adds nothing. Progress is the pages done by all.

#include "crawl/CSpiderThread.h"
#include "crawl/ListingParser.h"
#include "crawl/SearchAddress.h"
#include "store/SharedPages.h"

namespace {

// How often a worker with nothing to claim looks again.
constexpr auto kClaimPoll = std::chrono::milliseconds(250);

}  // namespace

bool CSpiderThread::KeepLease(std::chrono::milliseconds coming) {
    if (m_pShared == nullptr || !m_claim) {
        return true;
    }
    if (m_bLeaseLost) {
        return false;
    }
    const auto now = std::chrono::steady_clock::now();
    if (coming.count() > 0 || now - m_leaseRenewed >= m_job.lease / 4) {
        const auto lease = m_job.lease + std::chrono::ceil<std::chrono::seconds>(coming);
        if (!m_pShared->RenewLease(m_nSearch, *m_claim, lease)) {
            m_bLeaseLost = true;
            return false;
        }
        m_leaseRenewed = now;
    }
    return true;
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
        m_claim = shared.ClaimPage(m_nSearch, m_nStartPage, m_nLastPage, m_job.lease);
        if (!m_claim) {
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
        m_nPage = m_claim->page;
        m_bLeaseLost = false;
        m_leaseRenewed = std::chrono::steady_clock::now();
        const std::string address = ResultPageAddress(keyword, m_nPage);
        Attempt a = FetchWithRetries(address);
        if (a.stopped) {
            LeaveSharedPage();
            return;
        }
        if (!a.result.ok) {
            // Kept to be fetched again with the failures; the shared walk goes on past it.
            if (!KeepPage(PageFailure(m_nPage, address, a))) {
                LeaveSharedPage();  // not kept: someone must still walk it
                return;
            }
            shared.MarkPageDone(m_nSearch, m_nPage);
            m_claim.reset();
            NoteOutcome(a.result);
            continue;
        }
        NoteOutcome(a.result);
        if (!ParseListingPage(ListingBlockOf(a.result.body))) {
            if (m_bLeaseLost) {
                m_claim.reset();  // another collector walks it now
                continue;
            }
            // Stopped in the middle: the page goes back to whoever claims it next.
            LeaveSharedPage();
            return;
        }
        HealPage(address);
        auto gate = m_pStop->StoreGate();
        if (!gate) {
            return;
        }
        // Every company of the page is stored, whoever holds the claim now.
        shared.MarkPageDone(m_nSearch, m_nPage);
        m_claim.reset();
        Post(ev::PagesDone{shared.PagesDone(m_nSearch)});
    }
}
