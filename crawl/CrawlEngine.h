#pragma once
// The one walk. Every collect and retry run is this loop with a different page source: it
// takes pages from the source, fetches each result page and then the contact pages of its
// entries on its lanes, and hands every outcome to the entry sink strictly in listing order
// (page, then place on the page), whatever order the answers come in. A page is done when
// every entry of it is stored or kept; only then does its source hear so.
//
// - One lane is the same loop without read-ahead: a result page, then its contact pages in
//   order, a back-off holding the lane (the waiter, so tests need not sleep).
// - With several lanes, result pages are fetched first and ahead while fewer than twice the
//   lanes' entries wait (a page still being read counts as many as the last one listed), and
//   retries wait without holding a lane.
// - A finished page is reduced at once (a listing to its entries, a contact page to its
//   record). Bytes are counted as they arrive on every lane: a fetch that would take what is
//   in flight and waiting past kMaxHeldBytes is abandoned and queued again (no failure), and
//   none but the oldest entry's (and its page's listing) starts until half is free again.
// - Every answer falls in one row of the table of answers (Answer.h, PageCheck.h): a refusal
//   or a transient failure is retried, a refusal halves the lanes, a 407 ends the run at once,
//   and a result page that lists nothing ends the search only where its totals say so.
// - A pause starts no new fetch; a stop abandons the fetches in flight and commits what is in
//   hand up to the first gap. Pages left unfinished go back to their source.
// - Every wait (back-off, --delay, Retry-After, a shared search waiting for others) is
//   announced, so the watchdog tells waiting from stalling.
// - Too many failures in a row end the run: thrown as RunBroken.

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "crawl/Clock.h"
#include "crawl/CrawlJob.h"
#include "crawl/EntrySink.h"
#include "crawl/LaneFetcher.h"
#include "crawl/LanePacer.h"
#include "crawl/PageSource.h"

namespace crawl {

// Thrown when outageAfter fetches in a row failed: the directory is out of reach, or it keeps
// refusing the run (`challenged`: refusals, statuses the table does not name); or at once when
// the proxy asks for credentials.
struct RunBroken {
    std::string reason;
    bool challenged = false;
    bool proxy = false;  // the proxy asked for credentials (407): the run ended at once
};

class CrawlEngine {
  public:
    using Post = std::function<void(CrawlEventBody)>;
    struct Parts {
        const CrawlJob& job;
        ILaneFetcher& lanes;
        IPageSource& source;
        EntrySink& sink;
        LanePacer& pacer;
        StopToken& stop;
        BackoffWaiter wait;
        Post post;
        const Clock& clock;  // when fetches may start, waits are due and pages were renewed
    };
    enum class End {
        Finished,  // the source has nothing more and every page is done or kept
        Stopped,   // told to stop
        Dropped,   // the worker's records are dropped (the store was cleared)
    };

    explicit CrawlEngine(Parts parts);
    ~CrawlEngine();  // unfinished pages go back to the source
    CrawlEngine(const CrawlEngine&) = delete;
    CrawlEngine& operator=(const CrawlEngine&) = delete;

    // Throws RunBroken and StoreError.
    End Run();
    // A result page of the walk listed nothing where its totals said the search ends: the walk
    // reached the search's end, whatever its last page was.
    bool SearchEnded() const { return searchEnded_; }

    // The most bytes of pages held in flight and waiting to be committed before no new fetch
    // starts.
    static constexpr size_t kMaxHeldBytes = 64u << 20;

  private:
    using Steady = std::chrono::steady_clock;
    struct Item {
        enum class State { Queued, InFlight, BackingOff, Done, Skipped };
        bool listing = false;
        std::string address;
        State state = State::Queued;
        bool admitted = false;
        int tries = 0;
        FetchResult result;  // the listing's outcome (its body dropped once read)
        Entry entry;         // an entry's name, key and outcome
        Steady::time_point notBefore{};
        Steady::time_point startedAt{};
    };
    struct Page {
        WorkPage work;
        Item listing;
        std::deque<Item> entries;
        bool announced = false;
        bool noted = false;
        // Nothing of it is committed: another collector took it over, or it lies beyond the
        // page where the search ended.
        bool lost = false;
    };

    bool Stopping() const;
    // The item the next commit waits for (nothing when that is a page's commit itself).
    Item* Oldest();
    bool Paused() const;
    void FillWindow(Steady::time_point now);
    void AddPage(WorkPage work);
    // Starts what may start now; false when a stop came while waiting for another worker.
    bool Dispatch(Steady::time_point now);
    void Finished(std::uint64_t tag, FetchResult result);
    void ReadListing(Page& page, Item& listing);
    // Commits the outcomes in hand in listing order; false when the worker's records are
    // dropped from now on.
    bool Commit();
    // Counts an outcome toward a broken run, except while stopping: what is in hand is stored.
    void Note(const FetchResult& result);
    void Announce(Steady::time_point until);
    // Whether `item` is the listing of the page the oldest entry belongs to.
    bool ExemptFromBound(const Item& item, const Item* oldest) const;
    // Tells the lanes how many bytes their pages may still hold, and which may exceed it.
    void BoundLanes();
    // Marks the pages another collector took over (lost_) and forgets their fetches.
    void DropLostPages();
    // Marks one page lost and forgets its fetches and the records it holds.
    void DropPage(Page& page);

    Parts p_;
    int lanes_;           // lanes the run was given
    int entriesPerPage_;  // what the last result page read listed (at first: the lanes)
    std::deque<Page> window_;
    std::map<std::uint64_t, Item*> inFlight_;
    std::uint64_t nextTag_ = 1;
    Steady::time_point nextDue_ = Steady::time_point::max();
    Steady::time_point askAgainAt_{};  // the source said Wait: when to ask it again
    Steady::time_point announcedUntil_{};
    bool exhausted_ = false;
    bool searchEnded_ = false;
    std::vector<int> lost_;
    size_t waitingBytes_ = 0;  // records read and not yet committed
    // A fetch was abandoned for memory: only the oldest starts until the pages held halve.
    bool memoryTight_ = false;
    size_t largestPage_ = 0;  // the largest answer read so far
    int failuresInARow_ = 0;
    int refusalsInARow_ = 0;
};

}  // namespace crawl
