#pragma once
// Where a walk gets its work. A page source hands out result pages (or, for a retry, single
// kept contact pages) one at a time; the walk tells it how each ended. A page is done only when
// every entry of it is stored or kept, and only the walk's commit point says so, whatever the
// source: one record of progress for every kind of run.
//
// - RangePages: the pages of a range, in order (a collect on a file store).
// - SharedClaimPages: pages claimed from a search several collectors share through the store,
//   each with a lease the walk keeps alive.
// - KeptFailurePages: the failures kept in the store, fetched again (collect --retry-failed).

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "crawl/Clock.h"
#include "crawl/CrawlEvent.h"
#include "store/KeptFailure.h"
#include "store/RecordWriter.h"
#include "store/SharedPages.h"

namespace crawl {

// One unit of work.
struct WorkPage {
    int page = 0;
    std::string address;    // the result page to read
    std::string condition;  // GBK "industry^region" of its search
    // A kept contact page fetched again on its own: the unit is this one entry, no listing.
    std::optional<store::KeptFailure> contact;
    int earlierTries = 0;        // fetches of the result page in earlier runs (a kept failure)
    std::int64_t failureId = 0;  // the kept failure this unit fetches again, when it is one
    // Entries of the page may have rows stored before rows knew their entry: such a row
    // counts as the entry's (the first page a run resumes at, a retried page).
    bool unkeyedRowsCount = false;
};

class IPageSource {
  public:
    enum class Offer {
        Page,  // `page` holds the next unit
        Wait,  // nothing now, more may come (others work on the rest): ask again soon
        End,   // nothing more
    };
    virtual ~IPageSource() = default;
    virtual Offer Next(WorkPage& page) = 0;
    // Every entry of the page is stored or kept.
    virtual void Done(const WorkPage& page) = 0;
    // The result page still failed after its retries and is kept in the store.
    virtual void Kept(const WorkPage& page) = 0;
    // The run ends with the page unfinished: it is to be walked again.
    virtual void Leave(const WorkPage& page) = 0;
    // The page was read and lists nothing: the search ends there.
    virtual void EndsAt(int page) { (void)page; }
    // Called on every turn of the walk and before it waits `coming`: keeps its claims alive.
    // Gives the pages that are no longer this walk's (another collector took them over).
    virtual std::vector<int> KeepAlive(std::chrono::milliseconds coming) {
        (void)coming;
        return {};
    }
    // Whether the walk announces the first page not completely stored (PageStarted), which
    // the run saves as where it resumes.
    virtual bool AnnouncesPages() const { return false; }
};

class RangePages : public IPageSource {
  public:
    // Pages `first` to `last` of the search `condition` (its keyword `keyword`).
    RangePages(std::string keyword, std::string condition, int first, int last);
    Offer Next(WorkPage& page) override;
    void Done(const WorkPage&) override {}
    void Kept(const WorkPage&) override {}
    void Leave(const WorkPage&) override {}
    void EndsAt(int page) override;
    bool AnnouncesPages() const override { return true; }

  private:
    std::string keyword_;
    std::string condition_;
    long long next_;
    int first_;
    int last_;
};

class SharedClaimPages : public IPageSource {
  public:
    using Post = std::function<void(CrawlEventBody)>;
    // Claims pages `first` to `last` of the registered search `search`; `post` tells the
    // walk's driver the pages done by all (PagesDone).
    SharedClaimPages(store::ISharedPages& shared, std::int64_t search, std::string keyword,
                     std::string condition, int first, int last, std::chrono::seconds lease,
                     Post post, const Clock& clock = RealTime());
    ~SharedClaimPages() override;
    SharedClaimPages(const SharedClaimPages&) = delete;
    SharedClaimPages& operator=(const SharedClaimPages&) = delete;
    Offer Next(WorkPage& page) override;
    void Done(const WorkPage& page) override;
    void Kept(const WorkPage& page) override;
    void Leave(const WorkPage& page) override;
    void EndsAt(int page) override;
    std::vector<int> KeepAlive(std::chrono::milliseconds coming) override;
    // The round of the search the walk joined (or opened) when it registered.
    int Round() const { return round_; }

  private:
    struct Held {
        store::ISharedPages::Claim claim;
        Clock::TimePoint renewed;
    };
    // Throws StoreError when the search is gone.
    void CheckSearch();
    // How often the collector's registration is renewed.
    static constexpr auto kBeat = std::chrono::seconds(5);

    store::ISharedPages& shared_;
    std::int64_t search_;
    int round_ = 1;  // the round of the search this walk belongs to
    std::string keyword_;
    std::string condition_;
    int first_;
    int last_;
    std::chrono::seconds lease_;
    Post post_;
    std::map<int, Held> held_;
    std::string token_;  // this collector's registration
    Clock::TimePoint beat_;
    const Clock& clock_;
};

class KeptFailurePages : public IPageSource {
  public:
    using WriterAccess = std::function<store::IRecordWriter&()>;
    // Each failure is claimed in the store for the run `run` before it is handed out: two
    // retries at once (two processes on one file or one database) never fetch the same one,
    // and a worker the watchdog started takes over what its run's stalled worker claimed.
    KeptFailurePages(std::vector<store::KeptFailure> failures, WriterAccess store, std::string run);
    Offer Next(WorkPage& page) override;
    void Done(const WorkPage& page) override { claims_.erase(page.failureId); }
    void Kept(const WorkPage& page) override { claims_.erase(page.failureId); }
    void Leave(const WorkPage& page) override;

    // How long a claim holds (a retry that dies lets its failures go then).
    static constexpr std::chrono::seconds kClaim{600};

  private:
    std::vector<store::KeptFailure> failures_;
    WriterAccess store_;
    std::string run_;
    size_t next_ = 0;
    std::map<std::int64_t, std::string> claims_;  // failure id -> token
};

}  // namespace crawl
