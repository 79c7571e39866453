#include "crawl/CrawlEngine.h"

#include <algorithm>

#include "crawl/ContactParser.h"
#include "crawl/EntryKey.h"
#include "crawl/ListingParser.h"
#include "crawl/PageCheck.h"
#include "crawl/SearchAddress.h"
#include "store/StoreError.h"

namespace crawl {

namespace {

constexpr auto kPoll = std::chrono::milliseconds(100);
// How often a source that had nothing to give is asked again (a shared search whose other
// pages are being walked by other collectors).
constexpr auto kAskAgain = std::chrono::milliseconds(100);

size_t BytesOf(const store::MemberRecord& r) {
    size_t n = sizeof r;
    for (const std::string* f : r.Fields()) {
        n += f->size();
    }
    return n;
}

}  // namespace

CrawlEngine::CrawlEngine(Parts parts)
    : p_(std::move(parts)), lanes_(std::max(1, p_.job.options.lanes)), entriesPerPage_(lanes_) {}

CrawlEngine::~CrawlEngine() {
    p_.lanes.CancelAll();
    inFlight_.clear();
    for (Page& page : window_) {
        if (page.lost) {
            continue;  // handed back when it was dropped
        }
        try {
            p_.source.Leave(page.work);
        } catch (...) {
            // A shared page's lease runs out on its own.
        }
    }
}

bool CrawlEngine::Stopping() const {
    return p_.stop.StopRequested() ||
           (p_.job.pRunControl && p_.job.pRunControl->load() == RunState::Stop);
}

bool CrawlEngine::Paused() const {
    return p_.job.pRunControl && p_.job.pRunControl->load() == RunState::Pause;
}

void CrawlEngine::Announce(Steady::time_point until) {
    // The watchdog gives a worker that waits politely the time it announces.
    if (until <= announcedUntil_ || until == Steady::time_point::max()) {
        return;
    }
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(until - p_.clock.Now());
    if (ms.count() > 0) {
        p_.post(ev::BackingOff{ms.count()});
    }
    announcedUntil_ = until;
}

void CrawlEngine::AddPage(WorkPage work) {
    window_.emplace_back();
    Page& page = window_.back();
    page.work = std::move(work);
    page.listing.listing = true;
    page.listing.address = page.work.address;
    if (page.work.contact) {
        // A kept contact page on its own: no listing to read, its one entry is the unit.
        const store::KeptFailure& f = *page.work.contact;
        page.listing.state = Item::State::Done;
        page.listing.result = FetchResult::Page({});
        page.noted = true;
        Item item;
        item.address = f.address;
        item.entry.name = f.title;
        item.entry.address = f.address;
        item.entry.keptFailure = f.id;
        item.entry.condition = f.condition;
        item.entry.page = f.page;
        std::string industry;
        SplitCondition(f.condition, industry, item.entry.region);
        page.entries.push_back(std::move(item));
    }
}

void CrawlEngine::FillWindow(Steady::time_point now) {
    if (exhausted_ || now < askAgainAt_) {
        return;
    }
    if (lanes_ == 1) {
        if (!window_.empty()) {
            return;  // one lane reads no result page ahead
        }
    } else {
        // Result pages are read ahead while fewer than twice the lanes' entries wait; one
        // still being read counts as the entries the last page read brought.
        int waiting = 0;
        for (const Page& p : window_) {
            if (p.listing.state != Item::State::Done) {
                waiting += entriesPerPage_;
            }
            for (const Item& c : p.entries) {
                waiting += c.state == Item::State::Queued ? 1 : 0;
            }
        }
        if (waiting >= 2 * p_.pacer.LanesInUse() || window_.size() > static_cast<size_t>(lanes_)) {
            return;
        }
    }
    WorkPage work;
    switch (p_.source.Next(work)) {
        case IPageSource::Offer::Page:
            AddPage(std::move(work));
            break;
        case IPageSource::Offer::Wait:
            askAgainAt_ = now + kAskAgain;
            if (window_.empty()) {
                Announce(askAgainAt_);  // waiting for the others is no stall
            }
            break;
        case IPageSource::Offer::End:
            exhausted_ = true;
            break;
    }
}

CrawlEngine::Item* CrawlEngine::Oldest() {
    for (Page& p : window_) {
        if (p.lost) {
            continue;
        }
        if (p.listing.state != Item::State::Done) {
            return &p.listing;
        }
        for (Item& c : p.entries) {
            if (c.state != Item::State::Done && c.state != Item::State::Skipped) {
                return &c;
            }
        }
        return nullptr;
    }
    return nullptr;
}

bool CrawlEngine::ExemptFromBound(const Item& item, const Item* oldest) const {
    // The oldest entry's page listing may always be read: the commit waits for both.
    if (oldest == nullptr || !item.listing) {
        return false;
    }
    for (const Page& p : window_) {
        if (&p.listing == &item) {
            return &p.listing == oldest ||
                   std::any_of(p.entries.begin(), p.entries.end(),
                               [oldest](const Item& c) { return &c == oldest; });
        }
    }
    return false;
}

void CrawlEngine::BoundLanes() {
    if (memoryTight_ && p_.lanes.BytesInFlight() + waitingBytes_ < kMaxHeldBytes / 2) {
        memoryTight_ = false;  // room again for the fetches abandoned before
    }
    const Item* oldest = Oldest();
    std::vector<std::uint64_t> exempt;
    for (const auto& [tag, item] : inFlight_) {
        if (item == oldest || ExemptFromBound(*item, oldest)) {
            exempt.push_back(tag);
        }
    }
    p_.lanes.Bound(kMaxHeldBytes - std::min(waitingBytes_, kMaxHeldBytes), exempt);
}

bool CrawlEngine::Dispatch(Steady::time_point now) {
    nextDue_ = Steady::time_point::max();
    // The entry the next commit waits for may always start, or the bound could hold the run.
    const Item* oldest = Oldest();
    auto consider = [&](Item& item) -> bool {
        if (item.state == Item::State::BackingOff && item.notBefore > now) {
            nextDue_ = std::min(nextDue_, item.notBefore);
            return true;
        }
        if (item.state != Item::State::Queued && item.state != Item::State::BackingOff) {
            return true;
        }
        if (p_.lanes.InFlight() >= p_.pacer.LanesInUse() ||
            (&item != oldest && !ExemptFromBound(item, oldest) &&
             (memoryTight_ || p_.lanes.BytesInFlight() + waitingBytes_ >= kMaxHeldBytes ||
              static_cast<size_t>(p_.lanes.InFlight() + 1) * largestPage_ > kMaxHeldBytes))) {
            // (Only as many fetches as pages of the largest size seen fit in the bound: more
            // would be abandoned half read.)
            return true;
        }
        if (!item.listing && !item.admitted) {
            item.admitted = true;
            switch (p_.sink.Admit(item.entry)) {
                case EntrySink::Admission::Fetch:
                    break;
                case EntrySink::Admission::Skip:
                    item.state = Item::State::Skipped;
                    return true;
                case EntrySink::Admission::Stop:
                    return false;
            }
            now = p_.clock.Now();  // admission may have waited for another worker or the store
        }
        const std::string host = HostOf(item.address);
        const Steady::time_point ready = p_.pacer.ReadyAt(host);
        if (ready > now) {
            nextDue_ = std::min(nextDue_, ready);
            return true;
        }
        const std::uint64_t tag = nextTag_++;
        if (!p_.lanes.Start(tag, item.address)) {
            return true;
        }
        p_.pacer.Started(host, now);
        item.startedAt = now;
        inFlight_[tag] = &item;
        item.state = Item::State::InFlight;
        return true;
    };
    // Result pages first: their entries keep the lanes busy.
    for (Page& p : window_) {
        if (!p.lost && !consider(p.listing)) {
            return false;
        }
    }
    // With every lane busy nothing more can start: the rest is not looked at.
    auto full = [this] { return p_.lanes.InFlight() >= p_.pacer.LanesInUse(); };
    for (Page& p : window_) {
        for (Item& c : p.entries) {
            if (full()) {
                return true;
            }
            if (!p.lost && !consider(c)) {
                return false;
            }
        }
    }
    if (p_.lanes.InFlight() == 0) {
        Announce(nextDue_);  // a --delay or Retry-After wait
    }
    return true;
}

void CrawlEngine::ReadListing(Page& page, Item& listing) {
    std::string industry;
    std::string region;
    SplitCondition(page.work.condition, industry, region);
    const std::vector<ListedEntry> entries =
        crawl::ReadListing(ListingBlockOf(listing.result.body), region);
    listing.result.DropBody();  // the entries are taken out; the page is not needed
    if (entries.empty()) {
        p_.source.EndsAt(page.work.page);  // read, and lists nothing: the search ends here
        searchEnded_ = true;
        // Pages read ahead beyond it belong to no search any more, whatever they answer
        // (an answer may come before this one): nothing of them is stored.
        for (Page& later : window_) {
            if (later.work.page > page.work.page && !later.work.contact && !later.lost &&
                later.work.condition == page.work.condition) {
                DropPage(later);
            }
        }
    }
    entriesPerPage_ = std::max<int>(1, static_cast<int>(entries.size()));
    for (const ListedEntry& e : entries) {
        if (!e.inRegion) {
            continue;
        }
        Item item;
        item.address = e.address;
        item.entry.name = e.name;
        item.entry.address = e.address;
        const auto retried = p_.job.rounds.find(page.work.condition);
        item.entry.round = retried != p_.job.rounds.end() ? retried->second : p_.job.round;
        item.entry.key = EntryKeyOf(page.work.condition, page.work.page, e.name, e.address,
                                    e.occurrence, item.entry.round);
        item.entry.region = region;
        item.entry.condition = page.work.condition;
        item.entry.page = page.work.page;
        item.entry.unkeyedRowsCount = page.work.unkeyedRowsCount;
        page.entries.push_back(std::move(item));
    }
}

void CrawlEngine::Finished(std::uint64_t tag, FetchResult result) {
    auto it = inFlight_.find(tag);
    if (it == inFlight_.end()) {
        return;  // abandoned: its page went to another collector
    }
    Item& item = *it->second;
    inFlight_.erase(it);
    if (result.abandoned) {
        // Given up for memory, not for the site: fetched again once the pages held shrink.
        item.state = Item::State::Queued;
        memoryTight_ = true;
        return;
    }
    largestPage_ = std::max(largestPage_, result.body.size());
    const Steady::time_point now = p_.clock.Now();
    if (item.listing) {
        int page = 0;
        for (const Page& w : window_) {
            if (&w.listing == &item) {
                page = w.work.page;
            }
        }
        result = CheckResultPage(std::move(result), page);
    } else {
        result = CheckContactPage(std::move(result));
    }
    if (result.answer == Answer::Proxy) {
        // Every fetch goes through the proxy: nothing more can be read, and nothing is kept.
        throw RunBroken{std::string(kProxyAuthMessage), false, true};
    }
    if (p_.pacer.Answered(HostOf(item.address), result, item.startedAt, now)) {
        p_.post(ev::LanesChanged{p_.pacer.LanesInUse()});
    }
    ++item.tries;
    if (!result.ok && result.retryable && item.tries <= p_.job.options.retry.maxRetries) {
        const std::chrono::milliseconds wait = p_.job.options.retry.WaitBefore(item.tries, result);
        p_.post(ev::BackingOff{wait.count()});
        announcedUntil_ = std::max(announcedUntil_, now + wait);
        if (lanes_ == 1) {
            // One lane waits where it is, as it always has; the wait keeps a shared claim.
            for (int page : p_.source.KeepAlive(wait)) {
                lost_.push_back(page);
            }
            p_.wait(wait, p_.stop);
            item.state = Item::State::Queued;
            return;
        }
        item.state = Item::State::BackingOff;
        item.notBefore = now + wait;
        return;
    }
    item.state = Item::State::Done;
    if (item.listing) {
        item.result = std::move(result);
        if (item.result.ok) {
            for (Page& page : window_) {
                if (&page.listing == &item) {
                    ReadListing(page, item);
                    break;
                }
            }
        }
        return;
    }
    // A contact page is reduced to its record at once.
    Entry& e = item.entry;
    e.tries = item.tries;
    if (result.ok) {
        e.record = ExtractContactFields(result.body);
        waitingBytes_ += BytesOf(e.record);
        result.DropBody();
    }
    e.result = std::move(result);
}

void CrawlEngine::Note(const FetchResult& result) {
    if (Stopping()) {
        return;
    }
    if (result.ok || result.answer == Answer::Definite) {
        failuresInARow_ = 0;
        refusalsInARow_ = 0;
        return;
    }
    // Refusals and statuses the table does not name say the site turns the run away; the
    // rest is the network or the server.
    const bool challenged = result.answer == Answer::Refusal || result.answer == Answer::Other;
    int& count = challenged ? refusalsInARow_ : failuresInARow_;
    if (++count >= p_.job.options.retry.outageAfter) {
        throw RunBroken{result.reason, challenged};
    }
}

bool CrawlEngine::Commit() {
    while (!window_.empty()) {
        Page& w = window_.front();
        if (w.lost) {
            window_.pop_front();  // another collector walks it now
            continue;
        }
        if (p_.source.AnnouncesPages() && !w.announced) {
            // Under the gate: once the store is cleared, no page of this walk is saved.
            auto gate = p_.stop.StoreGate();
            if (!gate) {
                return false;
            }
            p_.post(ev::PageStarted{w.work.page});
            w.announced = true;
        }
        if (w.listing.state != Item::State::Done) {
            return true;
        }
        if (!w.listing.result.ok) {
            if (Stopping() || !p_.sink.KeepPage(w.work, w.listing.result, w.listing.tries)) {
                return true;  // not kept: the page stays the one to resume at
            }
            p_.source.Kept(w.work);
            const FetchResult outcome = w.listing.result;
            window_.pop_front();
            Note(outcome);
            continue;
        }
        if (!w.noted) {
            w.noted = true;
            Note(w.listing.result);
        }
        while (!w.entries.empty()) {
            Item& c = w.entries.front();
            if (c.state == Item::State::Skipped) {
                w.entries.pop_front();
                continue;
            }
            if (c.state != Item::State::Done) {
                return true;
            }
            const size_t bytes = c.entry.result.ok ? BytesOf(c.entry.record) : 0;
            if (!p_.sink.Store(c.entry)) {
                return false;
            }
            waitingBytes_ -= std::min(waitingBytes_, bytes);
            const FetchResult outcome = std::move(c.entry.result);
            w.entries.pop_front();
            Note(outcome);
        }
        if (!w.work.contact) {
            p_.sink.HealPage(w.work.address);
        }
        p_.source.Done(w.work);
        window_.pop_front();
        askAgainAt_ = {};  // a source that had nothing may have more now
        if (window_.empty() && !Stopping()) {
            // Taken at once, so that it is announced: it is now the first page not stored.
            FillWindow(p_.clock.Now());
        }
    }
    return true;
}

void CrawlEngine::DropLostPages() {
    for (int lost : lost_) {
        for (Page& page : window_) {
            if (page.work.page == lost && !page.lost) {
                DropPage(page);
            }
        }
    }
    lost_.clear();
}

void CrawlEngine::DropPage(Page& page) {
    page.lost = true;
    // Handed back at once: a shared page's claim goes to whoever may walk it now.
    try {
        p_.source.Leave(page.work);
    } catch (const store::StoreError&) {
        // A shared page's lease runs out on its own.
    }
    for (auto it = inFlight_.begin(); it != inFlight_.end();) {
        const bool mine = it->second == &page.listing ||
                          std::any_of(page.entries.begin(), page.entries.end(),
                                      [&](const Item& c) { return &c == it->second; });
        it = mine ? inFlight_.erase(it) : std::next(it);
    }
    // Its entries let go of the run's ledger now: the page may be claimed again.
    for (const Item& c : page.entries) {
        if (c.state == Item::State::Done && c.entry.result.ok) {
            waitingBytes_ -= std::min(waitingBytes_, BytesOf(c.entry.record));
        }
    }
    page.entries.clear();
}

CrawlEngine::End CrawlEngine::Run() {
    for (;;) {
        if (Stopping()) {
            // No new fetch; what is in hand is stored in order up to the first gap.
            p_.lanes.CancelAll();
            for (auto& [tag, item] : inFlight_) {
                item->state = Item::State::Queued;
            }
            inFlight_.clear();
            return Commit() ? End::Stopped : End::Dropped;
        }
        for (int page : p_.source.KeepAlive(std::chrono::milliseconds(0))) {
            lost_.push_back(page);
        }
        DropLostPages();
        if (!Commit()) {
            return End::Dropped;
        }
        const bool paused = Paused();
        if (!paused) {
            FillWindow(p_.clock.Now());
            if (!Dispatch(p_.clock.Now())) {
                continue;  // a stop came while waiting for another worker's entry
            }
            if (!Commit()) {
                return End::Dropped;
            }
        }
        if (window_.empty() && exhausted_) {
            return End::Finished;
        }
        // Wait for an answer, the next fetch that may start, or a stop or pause to look at.
        const Steady::time_point now = p_.clock.Now();
        auto wait = kPoll;
        Steady::time_point due = paused ? Steady::time_point::max() : nextDue_;
        if (!paused && window_.empty()) {
            due = std::min(due, askAgainAt_);
        }
        if (due != Steady::time_point::max()) {
            wait = std::clamp(std::chrono::ceil<std::chrono::milliseconds>(due - now),
                              std::chrono::milliseconds(0), kPoll);
        }
        if (p_.lanes.InFlight() > 0) {
            BoundLanes();
            for (ILaneFetcher::Done& d : p_.lanes.Wait(wait)) {
                Finished(d.tag, std::move(d.result));
            }
        } else if (paused) {
            p_.job.pRunControl->WaitWhilePaused(wait);
        } else if (wait.count() > 0) {
            p_.stop.WaitFor(wait);
        }
    }
}

}  // namespace crawl
