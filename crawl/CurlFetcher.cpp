#include "crawl/CurlFetcher.h"

#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>

void CurlGlobalInit() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

bool CurlFetcher::BodyReader::Feed(const char* data, size_t size) {
    const char* p = data;
    const char* end = data + size;
    while (p < end) {
        const char* lf =
            static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
        const char* stop = lf != nullptr ? lf : end;
        const size_t len = static_cast<size_t>(stop - p);
        if (!nulSeen_ && std::memchr(p, '\0', len) == nullptr) {
            // The common case, a line without NUL: copy it without its CRs. Piece boundaries
            // inside it change nothing but the count.
            size_t kept = 0;
            for (const char* q = p; q < stop;) {
                const char* cr =
                    static_cast<const char*>(std::memchr(q, '\r', static_cast<size_t>(stop - q)));
                const char* segEnd = cr != nullptr ? cr : stop;
                text_.append(q, static_cast<size_t>(segEnd - q));
                kept += static_cast<size_t>(segEnd - q);
                q = cr != nullptr ? cr + 1 : stop;
            }
            if (lf != nullptr) {
                text_.append("\r\n");
                pieceLen_ = 0;
                p = lf + 1;
            } else {
                pieceLen_ = (pieceLen_ + kept) % kPieceBytes;
                p = end;
            }
            continue;
        }
        // A NUL ends its piece: go byte by byte up to the end of this line.
        const char* lineEnd = lf != nullptr ? lf + 1 : end;
        for (; p < lineEnd; ++p) {
            const char c = *p;
            if (c == '\r') {
                continue;
            }
            ++pieceLen_;
            if (!nulSeen_) {
                if (c == '\0') {
                    nulSeen_ = true;
                } else if (c == '\n') {
                    text_.append("\r\n");
                } else {
                    text_.push_back(c);
                }
            }
            if (c == '\n' || pieceLen_ == kPieceBytes) {
                pieceLen_ = 0;
                nulSeen_ = false;
            }
        }
    }
    return text_.size() <= kMaxPageBytes;
}

namespace {

size_t WriteBody(char* data, size_t size, size_t count, void* user) {
    auto* reader = static_cast<CurlFetcher::BodyReader*>(user);
    size_t n = size * count;
    return reader->Feed(data, n) ? n : 0;  // 0 aborts the transfer
}

// Fails a transfer that has moved no byte for the idle time-out, also while it waits for the
// answer; libcurl calls this at least once a second.
struct IdleWatch {
    std::chrono::steady_clock::time_point last = std::chrono::steady_clock::now();
    curl_off_t moved = 0;
};

int CheckIdle(void* user, curl_off_t, curl_off_t dlnow, curl_off_t, curl_off_t ulnow) {
    auto* watch = static_cast<IdleWatch*>(user);
    const auto now = std::chrono::steady_clock::now();
    if (dlnow + ulnow != watch->moved) {
        watch->moved = dlnow + ulnow;
        watch->last = now;
        return 0;
    }
    return now - watch->last >= std::chrono::seconds(CurlFetcher::kIdleTimeoutSeconds) ? 1 : 0;
}

}  // namespace

CurlFetcher::~CurlFetcher() {
    if (curl_ != nullptr) {
        curl_easy_cleanup(curl_);
    }
    curl_slist_free_all(headers_);
}

bool CurlFetcher::OpenSession() {
    CurlGlobalInit();
    curl_ = curl_easy_init();
    if (curl_ == nullptr) {
        return false;
    }
    headers_ = curl_slist_append(headers_, "Accept: */*");
    headers_ = curl_slist_append(headers_, kUserAgent);
    if (headers_ == nullptr) {
        curl_easy_cleanup(curl_);
        curl_ = nullptr;
        return false;
    }
    curl_easy_setopt(curl_, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl_, CURLOPT_HTTPHEADER, headers_);
    curl_easy_setopt(curl_, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_1);
    curl_easy_setopt(curl_, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl_, CURLOPT_MAXREDIRS, 10L);
    curl_easy_setopt(curl_, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl_, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl_, CURLOPT_CONNECTTIMEOUT_MS, kConnectTimeoutMs);
    curl_easy_setopt(curl_, CURLOPT_XFERINFOFUNCTION, CheckIdle);
    curl_easy_setopt(curl_, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl_, CURLOPT_WRITEFUNCTION, WriteBody);
    return true;
}

std::string CurlFetcher::FetchPage(const std::string& address) {
    if (curl_ == nullptr) {
        return {};
    }
    curl_easy_setopt(curl_, CURLOPT_URL, address.c_str());
    for (int attempt = 0;; ++attempt) {
        BodyReader reader;
        IdleWatch idle;
        curl_easy_setopt(curl_, CURLOPT_WRITEDATA, &reader);
        curl_easy_setopt(curl_, CURLOPT_XFERINFODATA, &idle);
        CURLcode rc = curl_easy_perform(curl_);
        curl_easy_setopt(curl_, CURLOPT_WRITEDATA, nullptr);
        curl_easy_setopt(curl_, CURLOPT_XFERINFODATA, nullptr);
        if (rc == CURLE_OK) {
            long status = 0;
            curl_easy_getinfo(curl_, CURLINFO_RESPONSE_CODE, &status);
            return status == 200 ? std::move(reader.Text()) : std::string();
        }
        // One more try, a second later, when no connection could be made at all. A request
        // that went out (also over a reused connection) had its connection.
        long requestBytes = 0;
        curl_easy_getinfo(curl_, CURLINFO_REQUEST_SIZE, &requestBytes);
        const bool connectFailed =
            rc == CURLE_COULDNT_CONNECT ||
            ((rc == CURLE_OPERATION_TIMEDOUT || rc == CURLE_ABORTED_BY_CALLBACK) &&
             requestBytes == 0);
        if (!connectFailed || attempt > 0) {
            return {};
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(kConnectRetryDelayMs));
    }
}
