#pragma once
// What a crawl worker tells its driver: typed events, one small struct each. Every worker's
// last event is WorkerEnded, whatever happened inside it. The numbers of the window messages
// the program has always used are kept in one mapping (ClassicMessageOf) for logs and tests.

#include <cstdint>
#include <string>
#include <variant>

#include "store/KeptFailure.h"
#include "store/MemberRecord.h"

namespace crawl {

namespace ev {

// The first result page was read: its totals.
struct PreCollected {
    std::int64_t pages = 1;
    std::int64_t matches = 0;
};
// A result page is about to be fetched.
struct PageStarted {
    int page = 0;
};
// One company's record is committed (appended, or a kept row filled in).
struct RecordSaved {
    std::int64_t rowId = 0;
    int count = 0;               // records saved by this worker, 1, 2, 3 ...
    std::string contact;         // the contact page's address
    bool filled = false;         // a row kept for a failed contact page was completed
    bool complete = false;       // the row holds a contact field now: a new lead
    store::MemberRecord record;  // what was stored: the run's list shows it without a read
    int status = 0;              // the contact page's HTTP status (0: none)
};
// A page still failed after its retries and is kept in the store to be fetched again. For a
// contact page the company's row was appended in its place with what is known.
struct FetchFailed {
    store::KeptFailure failure;
};
// A kept failure was fetched again and succeeded; it is no longer kept.
struct FailureHealed {
    std::int64_t failureId = 0;
};
// The worker waits `ms` before trying a fetch again (back-off, or what the site asked): no
// stall, so the watchdog gives it that long.
struct BackingOff {
    std::int64_t ms = 0;
};
// The lanes in use changed: halved after the site answered 429 or 503, or one came back
// after a run of answered pages.
struct LanesChanged {
    int lanes = 1;
};
// A shared search (several collectors, one store): the pages done by all of them so far.
struct PagesDone {
    int done = 0;
};
// The page loop passed its last page (collect), or every kept failure was tried (retry).
struct Finished {
    bool searchEnded = false;  // a page listed nothing where the search's totals end it
};
// The directory could not be reached: the session did not open, the pre-collect page could
// not be fetched, or too many fetches in a row failed or were not answered with the page.
struct NetFailed {
    std::string reason;  // UTF-8
    // The site kept answering with pages that are not the ones asked for (a verification or
    // "too many visits" page): it asks for a human, or for fewer visits.
    bool challenged = false;
    bool proxy = false;  // the proxy asked for credentials (407)
    int status = 0;      // the HTTP status the site answered with, 0 for none
};
// The store failed; the crawl ended. The record in hand was not stored.
struct StoreFailed {
    std::string reason;  // UTF-8
};
// The worker's thread is done. `crashed`: something unexpected escaped the worker.
struct WorkerEnded {
    bool crashed = false;
    std::string reason;  // UTF-8, when crashed
};

}  // namespace ev

using CrawlEventBody =
    std::variant<ev::PreCollected, ev::PageStarted, ev::RecordSaved, ev::FetchFailed,
                 ev::FailureHealed, ev::BackingOff, ev::LanesChanged, ev::PagesDone, ev::Finished,
                 ev::NetFailed, ev::StoreFailed, ev::WorkerEnded>;

struct CrawlEvent {
    int worker = 0;  // serial number of the posting worker
    CrawlEventBody body;

    template <typename T>
    const T* As() const {
        return std::get_if<T>(&body);
    }
};

// The window-message form of an event: the classic numbers and parameters.
// The first number Windows leaves to a program's own messages (its WM_USER, named apart so
// that this header and windows.h can meet in one file).
inline constexpr int kWmUserBase = 1024;
inline constexpr int WM_CRAWL_NET_FAILED = kWmUserBase + 1;  // the directory could not be reached
inline constexpr int WM_CRAWL_PRECOLLECTED = kWmUserBase + 12;  // wParam pages, lParam matches
inline constexpr int WM_CRAWL_FINISHED = kWmUserBase + 21;  // the page loop passed its last page
inline constexpr int WM_CRAWL_PAGE_STARTED =
    kWmUserBase + 22;  // lParam the page about to be fetched
inline constexpr int WM_CRAWL_RECORD_SAVED = kWmUserBase + 23;  // lParam the worker's record count
inline constexpr int WM_CRAWL_STORE_FAILED = kWmUserBase + 24;  // the store failed; the crawl ended
inline constexpr int WM_CRAWL_FETCH_FAILED =
    kWmUserBase + 25;  // lParam the page (0: a contact page)
inline constexpr int WM_CRAWL_FAILURE_HEALED = kWmUserBase + 26;  // lParam the kept failure's id
inline constexpr int WM_CRAWL_BACKING_OFF = kWmUserBase + 28;     // lParam the wait in ms
inline constexpr int WM_CRAWL_WORKER_ENDED = kWmUserBase + 27;    // wParam 1 when it crashed
inline constexpr int WM_CRAWL_LANES_CHANGED = kWmUserBase + 29;   // lParam the lanes in use
inline constexpr int WM_CRAWL_PAGES_DONE = kWmUserBase + 30;      // lParam pages done by all

struct ClassicMessage {
    int message = 0;
    std::int64_t wParam = 0;
    std::int64_t lParam = 0;
};
ClassicMessage ClassicMessageOf(const CrawlEvent& event);

// Receives events on the worker's thread. Post must return at once: a worker never waits for
// its driver.
class IEventSink {
  public:
    virtual ~IEventSink() = default;
    virtual void Post(CrawlEvent event) = 0;
};

}  // namespace crawl
