#include "crawl/CurlFetcher.h"

#include <curl/curl.h>

namespace crawl {

bool CurlFetcher::OpenSession() {
    auto transfer = std::make_unique<CurlTransfer>();
    if (!transfer->Open()) {
        return false;
    }
    transfer_ = std::move(transfer);
    return true;
}

FetchResult CurlFetcher::FetchPage(const std::string& address) {
    if (!transfer_) {
        return FetchResult::Failure("无法建立网络会话", false);
    }
    transfer_->Begin(address, limits_);
    transfer_->WatchStop(stop_);
    return transfer_->Finish(curl_easy_perform(transfer_->Handle()));
}

}  // namespace crawl
