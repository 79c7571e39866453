#pragma once
// The page fetcher on libcurl for one lane: one easy handle per worker, reused for every fetch
// so the connection to a host stays open between pages. What a fetch sends, how long it may
// take and what it gives are the rules of CurlTransfer. The fetcher tries nothing twice:
// waiting and trying again are the worker's retry rules.

#include <memory>
#include <string>

#include "crawl/CurlTransfer.h"
#include "crawl/PageFetcher.h"

namespace crawl {

class CurlFetcher : public IPageFetcher {
  public:
    using Limits = FetchLimits;
    using BodyReader = crawl::BodyReader;
    static constexpr size_t kMaxPageBytes = crawl::kMaxPageBytes;
    static constexpr size_t kPieceBytes = crawl::kPieceBytes;

    bool OpenSession() override;
    FetchResult FetchPage(const std::string& address) override;
    void SetLimits(const Limits& limits) { limits_ = limits; }
    void WatchStop(const std::atomic<bool>* stop) override { stop_ = stop; }

  private:
    Limits limits_;
    const std::atomic<bool>* stop_ = nullptr;
    std::unique_ptr<CurlTransfer> transfer_;
};

}  // namespace crawl
