// The collect walk with several fetches in flight. One thread drives every lane: result pages
// and contact pages are fetched as lanes come free, in listing order, and their outcomes are
// committed strictly in listing order (page, then place on the page), so the store sees the
// same rows in the same order as a walk with one lane, whatever order the answers come in.
//
// - The window of work is the pages from the first one not completely stored onward: at most
//   one result page is fetched at a time (before any contact page), and only while fewer than
//   twice the lanes' companies wait, so the window stays small (at most lanes + 1 pages).
// - PageStarted announces the first page not completely stored, which is what the run saves as
//   its page in progress and where a watchdog restart begins.
// - A pause starts no new fetch; fetches in flight finish and are committed. A stop abandons
//   the fetches in flight and commits what is in hand up to the first gap.
// - Retries wait without holding a lane; the pacer spaces requests per host and halves the
//   lanes when the site says it is overloaded.

#include <chrono>
#include <deque>
#include <map>
#include <set>

#include "crawl/CSpiderThread.h"
#include "crawl/ListingParser.h"
#include "crawl/SearchAddress.h"

namespace {

using Steady = std::chrono::steady_clock;
constexpr auto kPollMs = std::chrono::milliseconds(100);

}  // namespace

class LaneWalk {
  public:
    LaneWalk(CSpiderThread& spider, ILaneFetcher& lanes, std::string keyword)
        : s_(spider), lanes_(lanes), keyword_(std::move(keyword)), nextPage_(spider.m_nStartPage) {}
    ~LaneWalk() { lanes_.CancelAll(); }
    LaneWalk(const LaneWalk&) = delete;
    LaneWalk& operator=(const LaneWalk&) = delete;

    void Run();

  private:
    struct Item {
        enum class State { Queued, InFlight, BackingOff, Done, Skipped };
        bool listing = false;
        int page = 0;
        std::string address;
        std::string name;
        std::string key;
        State state = State::Queued;
        bool admitted = false;
        CSpiderThread::Attempt attempt;
        Steady::time_point notBefore{};
        Steady::time_point startedAt{};
        LedgerHold hold;
    };
    struct Page {
        Item listing;
        std::deque<Item> companies;
        bool announced = false;
        bool noted = false;
    };

    bool Stopping() const;
    void AddPage();
    void FillWindow();
    // Counts an outcome toward an outage, except while stopping: what is in hand is stored.
    void Note(const FetchResult& result);
    // Starts what may start now; false when a stop came while waiting for another worker.
    bool Dispatch(Steady::time_point now);
    void Finished(std::uint64_t tag, FetchResult result);
    // Commits the outcomes in hand in listing order; false when the worker's records are
    // dropped from now on.
    bool Commit();
    Page& PageOf(int page) {
        return window_[static_cast<size_t>(page - window_.front().listing.page)];
    }

    CSpiderThread& s_;
    ILaneFetcher& lanes_;
    std::string keyword_;
    long long nextPage_;
    std::deque<Page> window_;
    std::map<std::uint64_t, Item*> inFlight_;
    std::set<std::string> taken_;  // companies of this walk, when the run keeps a ledger
    std::uint64_t nextTag_ = 1;
    Steady::time_point nextDue_ = Steady::time_point::max();
};

bool LaneWalk::Stopping() const {
    if (s_.StopRequested()) {
        return true;
    }
    return s_.m_job.pRunControl && s_.m_job.pRunControl->load() == RunState::Stop;
}

void LaneWalk::AddPage() {
    Page page;
    page.listing.listing = true;
    page.listing.page = static_cast<int>(nextPage_);
    page.listing.address = ResultPageAddress(keyword_, page.listing.page);
    window_.push_back(std::move(page));
    ++nextPage_;
}

void LaneWalk::Note(const FetchResult& result) {
    if (!Stopping()) {
        s_.NoteOutcome(result);
    }
}

void LaneWalk::FillWindow() {
    int waiting = 0;
    for (const Page& p : window_) {
        if (p.listing.state != Item::State::Done) {
            return;  // one result page at a time
        }
        for (const Item& c : p.companies) {
            waiting += c.state == Item::State::Queued ? 1 : 0;
        }
    }
    if (nextPage_ > s_.m_nLastPage || waiting >= 2 * s_.m_pacer.LanesInUse() ||
        window_.size() > static_cast<size_t>(s_.m_job.nLanes)) {
        return;
    }
    AddPage();
}

bool LaneWalk::Dispatch(Steady::time_point now) {
    nextDue_ = Steady::time_point::max();
    auto consider = [&](Item& item) -> bool {
        if (item.state == Item::State::BackingOff && item.notBefore > now) {
            nextDue_ = std::min(nextDue_, item.notBefore);
            return true;
        }
        if (item.state != Item::State::Queued && item.state != Item::State::BackingOff) {
            return true;
        }
        if (lanes_.InFlight() >= s_.m_pacer.LanesInUse()) {
            return true;
        }
        if (!item.listing && !item.admitted) {
            item.admitted = true;
            if (s_.m_job.pLedger && !taken_.insert(item.key).second) {
                item.state = Item::State::Skipped;  // listed twice: stored once
                return true;
            }
            switch (s_.Admit(item.name, item.address, item.key, item.hold)) {
                case CSpiderThread::Admission::Fetch:
                    break;
                case CSpiderThread::Admission::Skip:
                    item.state = Item::State::Skipped;
                    return true;
                case CSpiderThread::Admission::Stop:
                    return false;
            }
        }
        // Admission may have waited for another worker or the store: time has moved.
        now = Steady::now();
        const std::string host = HostOf(item.address);
        const Steady::time_point ready = s_.m_pacer.ReadyAt(host);
        if (ready > now) {
            nextDue_ = std::min(nextDue_, ready);
            return true;
        }
        const std::uint64_t tag = nextTag_++;
        if (!lanes_.Start(tag, item.address)) {
            return true;
        }
        s_.m_pacer.Started(host, now);
        item.startedAt = now;
        inFlight_[tag] = &item;
        item.state = Item::State::InFlight;
        return true;
    };
    // Result pages first: their companies keep the lanes busy.
    for (Page& p : window_) {
        if (!consider(p.listing)) {
            return false;
        }
    }
    for (Page& p : window_) {
        for (Item& c : p.companies) {
            if (!consider(c)) {
                return false;
            }
        }
    }
    return true;
}

void LaneWalk::Finished(std::uint64_t tag, FetchResult result) {
    auto it = inFlight_.find(tag);
    if (it == inFlight_.end()) {
        return;
    }
    Item& item = *it->second;
    inFlight_.erase(it);
    const Steady::time_point now = Steady::now();
    if (s_.m_pacer.Answered(HostOf(item.address), result, item.startedAt, now)) {
        s_.Post(ev::LanesChanged{s_.m_pacer.LanesInUse()});
    }
    ++item.attempt.tries;
    if (!result.ok && result.retryable && item.attempt.tries <= s_.m_job.retry.maxRetries) {
        const std::chrono::milliseconds wait =
            s_.m_job.retry.WaitBefore(item.attempt.tries, result);
        item.state = Item::State::BackingOff;
        item.notBefore = now + wait;
        item.attempt.result = std::move(result);
        s_.Post(ev::BackingOff{wait.count()});
        return;
    }
    item.attempt.result = std::move(result);
    item.state = Item::State::Done;
    if (!item.listing || !item.attempt.result.ok) {
        return;
    }
    Page& page = PageOf(item.page);
    s_.ForEachCompany(
        ListingBlockOf(item.attempt.result.body), [] { return true; },
        [&](std::string name, std::string address) {
            Item c;
            c.page = item.page;
            c.key = CSpiderThread::CompanyKey(name, address);
            c.name = std::move(name);
            c.address = std::move(address);
            page.companies.push_back(std::move(c));
            return true;
        });
    item.attempt.result.body.clear();  // the companies are taken out; the page is not needed
}

bool LaneWalk::Commit() {
    while (!window_.empty()) {
        Page& w = window_.front();
        const int pageNo = w.listing.page;
        if (!w.announced) {
            // Under the gate: once the store is cleared, no page of this walk is saved.
            auto gate = s_.m_pStop->StoreGate();
            if (!gate) {
                return false;
            }
            s_.m_nPage = pageNo;
            s_.Post(ev::PageStarted{pageNo});
            w.announced = true;
        }
        if (w.listing.state != Item::State::Done) {
            return true;
        }
        const FetchResult& listed = w.listing.attempt.result;
        if (!listed.ok) {
            if (Stopping()) {
                return true;  // the page stays the one to resume at
            }
            s_.KeepPage(s_.PageFailure(pageNo, w.listing.address, w.listing.attempt));
            const FetchResult outcome = listed;
            window_.pop_front();
            Note(outcome);
            continue;
        }
        if (!w.noted) {
            w.noted = true;
            Note(listed);
        }
        while (!w.companies.empty()) {
            Item& c = w.companies.front();
            if (c.state == Item::State::Skipped) {
                w.companies.pop_front();
                continue;
            }
            if (c.state != Item::State::Done) {
                return true;
            }
            s_.m_nPage = pageNo;
            // Known by name and region, it may have been stored since it was dispatched, by
            // an earlier entry of this walk.
            if (s_.AlreadyStored(c.name, c.address, c.key)) {
                c.hold.MarkDone();
            } else if (!s_.StoreContact(c.name, c.address, c.key, c.attempt, c.hold)) {
                return false;
            }
            w.companies.pop_front();
        }
        s_.HealPage(w.listing.address);
        window_.pop_front();
        if (window_.empty() && nextPage_ <= s_.m_nLastPage) {
            AddPage();  // announced at once: it is now the first page not completely stored
        }
    }
    return true;
}

void LaneWalk::Run() {
    for (;;) {
        if (Stopping()) {
            // No new fetch; what is in hand is stored in order up to the first gap.
            lanes_.CancelAll();
            inFlight_.clear();
            Commit();
            return;
        }
        const bool paused = s_.m_job.pRunControl && s_.m_job.pRunControl->load() == RunState::Pause;
        if (!paused) {
            FillWindow();
            if (!Dispatch(Steady::now())) {
                continue;  // a stop came while waiting for another worker's company
            }
        }
        if (!Commit()) {
            return;
        }
        if (window_.empty() && nextPage_ > s_.m_nLastPage) {
            if (!Stopping()) {
                s_.Post(ev::Finished{});
            }
            return;
        }
        // Wait for an answer, the next fetch that may start, or a stop or pause to look at.
        auto wait = kPollMs;
        if (!paused && nextDue_ != Steady::time_point::max()) {
            wait =
                std::clamp(std::chrono::ceil<std::chrono::milliseconds>(nextDue_ - Steady::now()),
                           std::chrono::milliseconds(0), kPollMs);
        }
        if (lanes_.InFlight() > 0) {
            for (ILaneFetcher::Done& d : lanes_.Wait(wait)) {
                Finished(d.tag, std::move(d.result));
            }
        } else if (wait.count() > 0) {
            s_.m_pStop->WaitFor(wait);
        }
    }
}

void CSpiderThread::CollectInLanes(const std::string& keyword) {
    std::unique_ptr<ILaneFetcher> lanes = m_makeLanes();
    if (!lanes || !lanes->OpenSession(m_job.nLanes)) {
        Post(ev::NetFailed{"HTTP session could not be opened"});
        return;
    }
    LaneWalk(*this, *lanes, keyword).Run();
}
