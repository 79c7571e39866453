#pragma once
// One page fetched at a time for a worker that walks one lane (ILaneFetcher has many).

#include <atomic>
#include <string>

#include "crawl/FetchResult.h"

namespace crawl {

// Fetches pages for one worker. A fetch gives the page or says why it failed; it never waits
// to try again (the worker's retry rules do).
class IPageFetcher {
  public:
    virtual ~IPageFetcher() = default;
    virtual bool OpenSession() = 0;
    virtual FetchResult FetchPage(const std::string& address) = 0;
    // A fetch in progress gives up (`abandoned`, no failure) once `stop` is set.
    virtual void WatchStop(const std::atomic<bool>* stop) { (void)stop; }
};

}  // namespace crawl
