#pragma once
// The page fetcher on libcurl: one easy handle per worker, reused for every fetch so the
// connection to a host stays open between pages.
//
// Every page is a plain GET with exactly the headers "Accept: */*" and the fixed User-Agent,
// fetched from the network (nothing is cached), following at most 10 redirects over http and
// https, through the proxy that http_proxy / no_proxy name. Connecting may take 5 s. A transfer
// fails when it moves nothing for 5 s, less than 1 KiB in 10 s, or lasts 60 s in all, so a
// server that trickles cannot hold a crawl. Status 200 gives the page; any other status, any
// failure and a page over 16 MiB give a failure with its reason (see FetchResult). The fetcher
// tries nothing twice: waiting and trying again are the worker's retry rules.
//
// The body is delivered as the line reader of the original program delivered it: CR bytes are
// left out, every LF becomes CR LF, and a NUL byte ends its piece (pieces end after an LF or
// after 4094 bytes), so the rest of such a piece is left out.

#include <chrono>
#include <cstddef>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

#include "crawl/PageFetcher.h"

typedef void CURL;
struct curl_slist;

// The wait a Retry-After value asks for: delta seconds or an HTTP date (against `now`), at most
// kMaxRetryAfterSeconds; nothing when the value is neither.
std::optional<std::chrono::seconds> ParseRetryAfter(std::string_view value, std::time_t now);

// Call once at program start, before any thread fetches.
void CurlGlobalInit();

class CurlFetcher : public IPageFetcher {
  public:
    CurlFetcher() = default;
    ~CurlFetcher() override;
    CurlFetcher(const CurlFetcher&) = delete;
    CurlFetcher& operator=(const CurlFetcher&) = delete;

    bool OpenSession() override;
    FetchResult FetchPage(const std::string& address) override;

    // How slow a transfer may be before it is abandoned; tests shorten them.
    struct Limits {
        long idleSeconds = 5;       // nothing moved at all
        long lowSpeedBytes = 1024;  // less than this many bytes ...
        long lowSpeedSeconds = 10;  // ... in this many seconds
        long totalSeconds = 60;     // the whole transfer
    };
    void SetLimits(const Limits& limits) { limits_ = limits; }

    static constexpr size_t kMaxPageBytes = 16u << 20;
    static constexpr size_t kPieceBytes = 4094;
    static constexpr long kConnectTimeoutMs = 5000;
    static constexpr long kMaxRetryAfterSeconds = 120;
    static constexpr const char* kUserAgent =
        "User-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)";

    // The line-reader rules above, fed the body in any number of chunks.
    class BodyReader {
      public:
        // False when the page grew past kMaxPageBytes.
        bool Feed(const char* data, size_t size);
        std::string& Text() { return text_; }

      private:
        std::string text_;
        size_t pieceLen_ = 0;
        bool nulSeen_ = false;
    };

  private:
    Limits limits_;
    CURL* curl_ = nullptr;
    curl_slist* headers_ = nullptr;
    char errorBuffer_[256] = {};  // CURL_ERROR_SIZE
};
