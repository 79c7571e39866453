#pragma once

#include <string>

// Fetches pages for one worker. FetchPage returns the page text, or the empty text when the
// fetch failed for any reason.
class IPageFetcher {
  public:
    virtual ~IPageFetcher() = default;
    virtual bool OpenSession() = 0;
    virtual std::string FetchPage(const std::string& address) = 0;
};
