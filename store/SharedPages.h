#pragma once
// The work of a shared search, for a store that several collectors use at once: a search
// (industry and region) is registered once with its result pages; each collector claims the
// next page nobody works on, with a lease it renews while it works, marks it done at its end
// and stores each listing entry once (see IRecordWriter::AppendEntry). A page whose lease ran out
// (its collector died) is claimed again. A failure throws StoreError.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "store/SearchWalk.h"

namespace store {

class ISharedPages {
  public:
    virtual ~ISharedPages() = default;
    // Registers the search (GBK industry and region) with pages 1 to `pages`, or finds it,
    // and gives its id. A later registration of the same round with more pages adds them; one
    // that opens a round takes `pages` as they are now.
    virtual std::int64_t RegisterSearch(const std::string& industry, const std::string& region,
                                        int pages) = 0;
    // A claimed page, with the token that tells this claim from a later one of the same page.
    struct Claim {
        int page = 0;
        std::string token;
    };
    // Claims the lowest page of the search in [first, last] that is not done and not leased
    // (or whose lease ran out) for `lease`; nothing when there is none now.
    virtual std::optional<Claim> ClaimPage(std::int64_t search, int first, int last,
                                           std::chrono::seconds lease) = 0;
    // The collector is still at work on the page: its lease starts over, lasting `lease`.
    // False when the claim was lost (its lease ran out and another collector took the page).
    virtual bool RenewLease(std::int64_t search, const Claim& claim,
                            std::chrono::seconds lease) = 0;
    // The collector leaves the page unfinished: anyone may claim it at once (unless the claim
    // was already lost to another collector).
    virtual void ReleasePage(std::int64_t search, const Claim& claim) = 0;
    // The page is walked to its end; the highest page done is kept as 'lastpageindex'.
    virtual void MarkPageDone(std::int64_t search, int page, int round = 0) = 0;
    // Page `page` was read whole and its totals say the search ends there: every later page is
    // done for every collector, so that no walk waits for pages the search no longer has.
    virtual void EndSearchAt(std::int64_t search, int page, int round = 0) = 0;
    // The page still failed after its retries and is kept as a failure: neither done nor
    // claimed again until RetryFailedPages (a later collect of the search).
    virtual void MarkPageFailed(std::int64_t search, int page, int round = 0) = 0;
    virtual void RetryFailedPages(std::int64_t search) = 0;
    // False when the search was removed (the store was cleared) since it was registered.
    virtual bool SearchExists(std::int64_t search) = 0;
    // The search is walked in rounds: a registration that finds every page of its round done
    // or kept opens the next (all its pages to do again); one that finds any page left joins
    // the round. The round a registration found or opened (1, 2, ...).
    // The marks above that name a `round` change nothing once another round has begun: a
    // collector that outlived its round (asleep past its lease) cannot mark the next one's pages.
    virtual int SearchRound(std::int64_t search) = 0;
    // Where the search's round stands, without registering it: finished when every page is
    // done or kept, else at its lowest page left (page 0 while nothing of the round is done);
    // nothing when the search is not registered.
    virtual std::optional<SearchWalk> RoundOf(const std::string& industry,
                                              const std::string& region) = 0;
    // A collector at work on the store registers, renews its registration while it works and
    // leaves; a clear of the store is refused while others are at work.
    virtual std::string Register() = 0;
    // The collector is at work and will be for `ahead` more (a wait it is about to make).
    virtual void Heartbeat(const std::string& token, std::chrono::seconds ahead) = 0;
    virtual void Unregister(const std::string& token) = 0;
    // Collectors seen within `fresh`.
    virtual int WorkingCollectors(std::chrono::seconds fresh) = 0;
    // Pages of the search done by every collector so far, and those in [first, last] neither
    // done nor failed.
    virtual int PagesDone(std::int64_t search) = 0;
    virtual int PagesLeft(std::int64_t search, int first, int last) = 0;
};

}  // namespace store
