#pragma once
// One libcurl easy handle set up to fetch directory pages, and what a single transfer on it
// collects (the body through the line reader, the Retry-After header, libcurl's error text).
// The page fetcher runs one of these at a time; the lanes run several on a multi handle. Both
// turn a finished transfer into a FetchResult here, so the two give the same results.
//
// Every page is a plain GET with exactly the headers "Accept: */*" and the fixed User-Agent,
// fetched from the network (nothing is cached), following at most 10 redirects over http and
// https, through the proxy that http_proxy / no_proxy name. Connecting may take 5 s. A transfer
// fails when it moves nothing for the idle time, less than the low-speed bytes in the low-speed
// time, or lasts longer than the total time, so a server that trickles cannot hold a crawl.
// Status 200 gives the page; any other status, any failure and a page over 16 MiB ("页面过大")
// give a failure in its row of the table of answers (Answer.h). A failure with a status keeps
// its body, so that the page checks can tell a verification page.
//
// The body is delivered as the line reader of the original program delivered it: CR bytes are
// left out, every LF becomes CR LF, and a NUL byte ends its piece (pieces end after an LF or
// after 4094 bytes), so the rest of such a piece is left out.

#include <atomic>
#include <chrono>
#include <cstddef>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

#include "crawl/FetchResult.h"

typedef void CURL;
struct curl_slist;

namespace crawl {

// How slow a transfer may be before it is abandoned; tests shorten them.
struct FetchLimits {
    long idleSeconds = 5;       // nothing moved at all
    long lowSpeedBytes = 1024;  // less than this many bytes ...
    long lowSpeedSeconds = 10;  // ... in this many seconds
    long totalSeconds = 60;     // the whole transfer
};

// The proxy every later transfer goes through (http://, https://, socks4:// or socks5:// URL),
// in place of http_proxy's; empty: the environment's again, or without one the system's
// (Internet Options on Windows). For the whole process.
void SetProxy(const std::string& url);
std::string ProxyInUse();
// Whether `url` is a proxy address SetProxy takes.
bool IsProxyAddress(const std::string& url);

inline constexpr size_t kMaxPageBytes = 16u << 20;
inline constexpr size_t kPieceBytes = 4094;
inline constexpr long kMaxRetryAfterSeconds = 120;

// The wait a Retry-After value asks for: delta seconds or an HTTP date (against `now`), at most
// kMaxRetryAfterSeconds; nothing when the value is neither.
std::optional<std::chrono::seconds> ParseRetryAfter(std::string_view value, std::time_t now);

// Call once at program start, before any thread fetches.
void CurlGlobalInit();

// The line-reader rules above, fed the body in any number of chunks.
class BodyReader {
  public:
    // False when the page grew past kMaxPageBytes.
    bool Feed(const char* data, size_t size);
    std::string& Text() { return text_; }
    size_t Size() const { return text_.size(); }
    // Makes room for `size` bytes at once, so the text need not grow by doubling.
    void Reserve(size_t size) { text_.reserve(size); }

  private:
    std::string text_;
    size_t pieceLen_ = 0;
    bool nulSeen_ = false;
};

// The bytes of pages that the transfers of one worker's lanes hold, counted as they arrive,
// and the most they may hold. A transfer that would take the count past the limit is abandoned
// (to be fetched again later), unless it may exceed it.
struct ByteBudget {
    size_t held = 0;
    size_t limit = static_cast<size_t>(-1);
};

class CurlTransfer {
  public:
    CurlTransfer() = default;
    ~CurlTransfer();
    CurlTransfer(const CurlTransfer&) = delete;
    CurlTransfer& operator=(const CurlTransfer&) = delete;

    // Creates the handle with the options every fetch shares; false when libcurl cannot.
    bool Open();
    CURL* Handle() const { return curl_; }
    // The bytes of the body received so far (a page's room takes memory only as it fills).
    size_t BytesHeld() const { return sink_.reader.Size(); }
    // Points the handle at `address` with fresh per-transfer state.
    void Begin(const std::string& address, const FetchLimits& limits);
    // What the transfer begun last gave, `code` being libcurl's CURLcode for it. A transfer
    // abandoned for the budget gives a result marked `abandoned`.
    FetchResult Finish(int code);
    // Drops what the transfer received (it was cancelled).
    void Drop();
    // Counts the body against `budget` (none: no bound); `mayExceed` exempts this transfer.
    void SetBudget(ByteBudget* budget, bool mayExceed) {
        sink_.budget = budget;
        sink_.mayExceed = mayExceed;
    }

    static constexpr long kConnectTimeoutMs = 5000;
    static constexpr const char* kUserAgent =
        "User-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)";

    // Per-transfer state the callbacks write into.
    struct Watch {
        std::chrono::steady_clock::time_point last;
        long long moved = 0;
        long idleSeconds = 5;
        const std::atomic<bool>* stop = nullptr;  // set: the transfer gives up
        bool stopped = false;
    };
    // The transfer begun last gives up once `stop` is set (a worker told to stop does not wait
    // for a slow page); it is given back `abandoned`.
    void WatchStop(const std::atomic<bool>* stop) { watch_.stop = stop; }

    // Where the body goes as it arrives.
    struct Sink {
        CURL* curl = nullptr;
        BodyReader reader;
        ByteBudget* budget = nullptr;
        bool mayExceed = false;
        bool overBudget = false;
        bool sized = false;  // the announced length was looked at
    };

  private:
    BodyReader TakeBody();

    CURL* curl_ = nullptr;
    curl_slist* headers_ = nullptr;
    char errorBuffer_[256] = {};  // CURL_ERROR_SIZE
    Sink sink_;
    Watch watch_;
    std::string retryAfter_;
    long idleSeconds_ = 5;
};

}  // namespace crawl
