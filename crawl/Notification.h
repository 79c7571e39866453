#pragma once
// What a crawl worker tells its driver. The numbers are those of the window messages the
// program has always used; the window and the command line both read them.

#include <cstdint>
#include <string>

inline constexpr int WM_USER = 1024;
inline constexpr int WM_CRAWL_NET_FAILED = WM_USER + 1;     // the HTTP session did not open
inline constexpr int WM_CRAWL_PRECOLLECTED = WM_USER + 12;  // wParam pages, lParam matches
inline constexpr int WM_CRAWL_FINISHED = WM_USER + 21;      // the page loop passed its last page
inline constexpr int WM_CRAWL_PAGE_STARTED = WM_USER + 22;  // lParam the page about to be fetched
inline constexpr int WM_CRAWL_RECORD_SAVED = WM_USER + 23;  // lParam the worker's record count
inline constexpr int WM_CRAWL_STORE_FAILED = WM_USER + 24;  // the store failed; the crawl ended

struct CrawlNotification {
    int message = 0;
    std::int64_t wParam = 0;
    std::int64_t lParam = 0;
    int worker = 0;          // serial number of the posting worker
    std::int64_t rowId = 0;  // WM_CRAWL_RECORD_SAVED: id of the stored row
    std::string error;       // WM_CRAWL_STORE_FAILED: the store's message (UTF-8)
};

// Receives notifications on the worker's thread. Post must return at once: a worker never
// waits for its driver.
class INotificationSink {
  public:
    virtual ~INotificationSink() = default;
    virtual void Post(CrawlNotification n) = 0;
};
