#pragma once
// Fetches for the lanes of one worker: up to a number of pages in flight at once on one
// thread. A fetch is started with a tag and its result comes back, tagged, from Wait() in the
// order the fetches finish. Like the single-lane fetcher it never tries anything twice.

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "crawl/FetchResult.h"
#include "crawl/PageFetcher.h"

namespace crawl {

class ILaneFetcher {
  public:
    struct Done {
        std::uint64_t tag = 0;
        FetchResult result;
    };
    virtual ~ILaneFetcher() = default;
    // Opens `lanes` lanes; false when the HTTP session cannot be had.
    virtual bool OpenSession(int lanes) = 0;
    // Starts a fetch on a free lane; false when every lane is busy.
    virtual bool Start(std::uint64_t tag, const std::string& address) = 0;
    // Waits at most `timeout` for fetches to finish and gives those that did.
    virtual std::vector<Done> Wait(std::chrono::milliseconds timeout) = 0;
    virtual int InFlight() const = 0;
    // The bytes of the pages in flight received so far.
    virtual size_t BytesInFlight() const { return 0; }
    // Abandons every fetch in flight; none of them is given by Wait().
    virtual void CancelAll() = 0;
    // From now on the pages in flight may hold at most `limit` bytes in all; a fetch that
    // would take them past it is given back `abandoned`, except those tagged `exempt`.
    virtual void Bound(size_t limit, const std::vector<std::uint64_t>& exempt) {
        (void)limit;
        (void)exempt;
    }
};

// Lanes over a single-lane fetcher: one fetch at a time, done when Wait() is called. For the
// scripted fetchers of tests and for any fetcher without a multi interface.
class SerialLanes : public ILaneFetcher {
  public:
    explicit SerialLanes(std::unique_ptr<IPageFetcher> fetcher)
        : owned_(std::move(fetcher)), fetcher_(owned_.get()) {}
    // Over a fetcher that someone else owns.
    explicit SerialLanes(IPageFetcher& fetcher) : fetcher_(&fetcher) {}
    bool OpenSession(int) override { return fetcher_->OpenSession(); }
    bool Start(std::uint64_t tag, const std::string& address) override {
        if (!pending_.empty()) {
            return false;
        }
        pending_.push_back({tag, address});
        return true;
    }
    std::vector<Done> Wait(std::chrono::milliseconds) override {
        std::vector<Done> done;
        for (const auto& [tag, address] : pending_) {
            done.push_back({tag, fetcher_->FetchPage(address)});
        }
        pending_.clear();
        return done;
    }
    int InFlight() const override { return static_cast<int>(pending_.size()); }
    void CancelAll() override { pending_.clear(); }

  private:
    std::unique_ptr<IPageFetcher> owned_;
    IPageFetcher* fetcher_;
    std::vector<std::pair<std::uint64_t, std::string>> pending_;
};

}  // namespace crawl
