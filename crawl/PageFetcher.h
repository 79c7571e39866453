#pragma once

#include <string>

#include "crawl/FetchResult.h"

// Fetches pages for one worker. A fetch gives the page or says why it failed; it never waits
// to try again (the worker's retry rules do).
class IPageFetcher {
  public:
    virtual ~IPageFetcher() = default;
    virtual bool OpenSession() = 0;
    virtual FetchResult FetchPage(const std::string& address) = 0;
};
