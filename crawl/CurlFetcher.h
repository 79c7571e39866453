#pragma once
// The page fetcher on libcurl: one easy handle per worker, reused for every fetch so the
// connection to a host stays open between pages.
//
// Every page is a plain GET with exactly the headers "Accept: */*" and the fixed User-Agent,
// fetched from the network (nothing is cached), following at most 10 redirects over http and
// https, through the proxy that http_proxy / no_proxy name. Connecting may take 5 s and is tried
// once more after 1 s; a transfer that moves nothing for 5 s fails. A status other than 200, any
// failure and a page over 16 MiB give the empty text.
//
// The body is delivered as the line reader of the original program delivered it: CR bytes are
// left out, every LF becomes CR LF, and a NUL byte ends its piece (pieces end after an LF or
// after 4094 bytes), so the rest of such a piece is left out.

#include <cstddef>
#include <string>

#include "crawl/PageFetcher.h"

typedef void CURL;
struct curl_slist;

// Call once at program start, before any thread fetches.
void CurlGlobalInit();

class CurlFetcher : public IPageFetcher {
  public:
    CurlFetcher() = default;
    ~CurlFetcher() override;
    CurlFetcher(const CurlFetcher&) = delete;
    CurlFetcher& operator=(const CurlFetcher&) = delete;

    bool OpenSession() override;
    std::string FetchPage(const std::string& address) override;

    static constexpr size_t kMaxPageBytes = 16u << 20;
    static constexpr size_t kPieceBytes = 4094;
    static constexpr long kConnectTimeoutMs = 5000;
    static constexpr long kIdleTimeoutSeconds = 5;
    static constexpr long kConnectRetryDelayMs = 1000;
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
    CURL* curl_ = nullptr;
    curl_slist* headers_ = nullptr;
};
