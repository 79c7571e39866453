#include "crawl/CurlTransfer.h"

#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string_view>
#include <utility>

#include "platform/SystemProxy.h"

namespace crawl {

void CurlGlobalInit() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

bool BodyReader::Feed(const char* data, size_t size) {
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
    auto* sink = static_cast<CurlTransfer::Sink*>(user);
    const size_t n = size * count;
    if (!sink->sized) {
        sink->sized = true;
        // Room for the announced length (each line end may gain a CR) at once: the text is
        // not copied as it grows, and the room takes memory only as it fills.
        curl_off_t length = -1;
        curl_easy_getinfo(sink->curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
        if (length > 0 && static_cast<size_t>(length) > kMaxPageBytes) {
            return 0;  // announced over the bound: "页面过大" without reading it
        }
        if (length > 0) {
            sink->reader.Reserve(static_cast<size_t>(length) + static_cast<size_t>(length) / 8 +
                                 64);
        }
    }
    if (sink->budget != nullptr && !sink->mayExceed &&
        sink->budget->held + n > sink->budget->limit) {
        sink->overBudget = true;
        return 0;  // abandoned: fetched again when memory allows
    }
    const size_t before = sink->reader.Size();
    const bool fed = sink->reader.Feed(data, n);
    if (sink->budget != nullptr) {
        sink->budget->held += sink->reader.Size() - before;
    }
    return fed ? n : 0;  // 0 aborts the transfer
}

// Fails a transfer that has moved no byte for the idle time-out, also while it waits for the
// answer; libcurl calls this at least once a second.
int CheckIdle(void* user, curl_off_t, curl_off_t dlnow, curl_off_t, curl_off_t ulnow) {
    auto* watch = static_cast<CurlTransfer::Watch*>(user);
    if (watch->stop != nullptr && watch->stop->load()) {
        watch->stopped = true;
        return 1;
    }
    const auto now = std::chrono::steady_clock::now();
    if (dlnow + ulnow != watch->moved) {
        watch->moved = dlnow + ulnow;
        watch->last = now;
        return 0;
    }
    return now - watch->last >= std::chrono::seconds(watch->idleSeconds) ? 1 : 0;
}

// Collects the Retry-After header of the last answer (redirects reset it).
size_t ReadHeader(char* data, size_t size, size_t count, void* user) {
    auto* retryAfter = static_cast<std::string*>(user);
    const size_t n = size * count;
    std::string_view line(data, n);
    if (line.rfind("HTTP/", 0) == 0) {
        retryAfter->clear();
    }
    constexpr std::string_view kName = "retry-after:";
    if (line.size() > kName.size() &&
        std::equal(kName.begin(), kName.end(), line.begin(), [](char a, char b) {
            return a == std::tolower(static_cast<unsigned char>(b));
        })) {
        std::string_view value = line.substr(kName.size());
        while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) {
            value.remove_prefix(1);
        }
        while (!value.empty() && (value.back() == '\r' || value.back() == '\n' ||
                                  value.back() == ' ' || value.back() == '\t')) {
            value.remove_suffix(1);
        }
        retryAfter->assign(value);
    }
    return n;
}

// The transport errors of the table of answers, a row each: the network or the server
// failing on the way is transient; anything else (a malformed address, an unsupported
// protocol) will fail again the same way.
struct CurlRow {
    CURLcode code;
    Answer answer;
    const char* reason;
};
constexpr CurlRow kCurlRows[] = {
    {CURLE_COULDNT_RESOLVE_PROXY, Answer::Transient, "找不到服务器"},
    {CURLE_COULDNT_RESOLVE_HOST, Answer::Transient, "找不到服务器"},
    {CURLE_COULDNT_CONNECT, Answer::Transient, "无法连接到服务器"},
    {CURLE_OPERATION_TIMEDOUT, Answer::Transient, "连接超时"},
    {CURLE_ABORTED_BY_CALLBACK, Answer::Transient, "连接超时"},  // the idle watch
    {CURLE_PARTIAL_FILE, Answer::Transient, "服务器断开了连接"},
    {CURLE_GOT_NOTHING, Answer::Transient, "服务器断开了连接"},
    {CURLE_SEND_ERROR, Answer::Transient, "服务器断开了连接"},
    {CURLE_RECV_ERROR, Answer::Transient, "服务器断开了连接"},
    {CURLE_SSL_CONNECT_ERROR, Answer::Transient, "网络错误"},
    {CURLE_HTTP2, Answer::Transient, "网络错误"},
    {CURLE_HTTP2_STREAM, Answer::Transient, "网络错误"},
    {CURLE_WEIRD_SERVER_REPLY, Answer::Transient, "网络错误"},
    // Over kMaxPageBytes: not the page, maybe next time.
    {CURLE_WRITE_ERROR, Answer::Transient, "页面过大"},
};

const CurlRow* RowOf(CURLcode rc) {
    for (const CurlRow& row : kCurlRows) {
        if (row.code == rc) {
            return &row;
        }
    }
    return nullptr;
}

}  // namespace

std::optional<std::chrono::seconds> ParseRetryAfter(std::string_view value, std::time_t now) {
    if (value.empty()) {
        return std::nullopt;
    }
    std::chrono::seconds wait{0};
    if (std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        // Saturate instead of overflowing on an absurd number; the cap applies below.
        long long s = 0;
        for (char c : value) {
            s = std::min<long long>(s * 10 + (c - '0'), 1000000);
        }
        wait = std::chrono::seconds(s);
    } else {
        const std::string copy(value);
        const std::time_t when = curl_getdate(copy.c_str(), nullptr);
        if (when == -1) {
            return std::nullopt;
        }
        wait = std::chrono::seconds(when > now ? when - now : 0);
    }
    return std::min(wait, std::chrono::seconds(kMaxRetryAfterSeconds));
}

CurlTransfer::~CurlTransfer() {
    if (curl_ != nullptr) {
        curl_easy_cleanup(curl_);
    }
    curl_slist_free_all(headers_);
}

bool CurlTransfer::Open() {
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
    curl_easy_setopt(curl_, CURLOPT_HEADERFUNCTION, ReadHeader);
    curl_easy_setopt(curl_, CURLOPT_ERRORBUFFER, errorBuffer_);
    sink_.curl = curl_;
    curl_easy_setopt(curl_, CURLOPT_WRITEDATA, &sink_);
    curl_easy_setopt(curl_, CURLOPT_XFERINFODATA, &watch_);
    curl_easy_setopt(curl_, CURLOPT_HEADERDATA, &retryAfter_);
    curl_easy_setopt(curl_, CURLOPT_PRIVATE, this);
    return true;
}

namespace {

std::mutex proxyMutex;
std::string proxyOverride;  // guarded by proxyMutex
bool proxyChosen = false;   // guarded by proxyMutex

// The proxy when the user set none: the environment's (libcurl reads it: empty here), else
// the system's.
std::string DefaultProxy() {
    for (const char* name :
         {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0') {
            return {};
        }
    }
    return platform::SystemProxy();
}

}  // namespace

void SetProxy(const std::string& url) {
    std::lock_guard<std::mutex> lock(proxyMutex);
    proxyOverride = url.empty() ? DefaultProxy() : url;
    proxyChosen = true;
}

std::string ProxyInUse() {
    std::lock_guard<std::mutex> lock(proxyMutex);
    if (!proxyChosen) {
        proxyOverride = DefaultProxy();
        proxyChosen = true;
    }
    return proxyOverride;
}

bool IsProxyAddress(const std::string& url) {
    for (const char* scheme :
         {"http://", "https://", "socks4://", "socks4a://", "socks5://", "socks5h://"}) {
        const size_t n = std::char_traits<char>::length(scheme);
        if (url.size() > n && url.compare(0, n, scheme) == 0 &&
            url.find_first_of(" \t\r\n") == std::string::npos) {
            return true;
        }
    }
    return false;
}

void CurlTransfer::Begin(const std::string& address, const FetchLimits& limits) {
    curl_easy_setopt(curl_, CURLOPT_URL, address.c_str());
    // A proxy the user set takes the place of http_proxy's (set per transfer: it may change
    // between runs); none leaves libcurl's own reading of the environment, and without one
    // there the system's proxy is used.
    const std::string proxy = ProxyInUse();
    curl_easy_setopt(curl_, CURLOPT_PROXY, proxy.empty() ? nullptr : proxy.c_str());
    curl_easy_setopt(curl_, CURLOPT_LOW_SPEED_LIMIT, limits.lowSpeedBytes);
    curl_easy_setopt(curl_, CURLOPT_LOW_SPEED_TIME, limits.lowSpeedSeconds);
    curl_easy_setopt(curl_, CURLOPT_TIMEOUT, limits.totalSeconds);
    Drop();
    sink_.overBudget = false;
    sink_.sized = false;
    watch_ = Watch{std::chrono::steady_clock::now(), 0, limits.idleSeconds};
    idleSeconds_ = limits.idleSeconds;
    retryAfter_.clear();
    errorBuffer_[0] = '\0';
}

BodyReader CurlTransfer::TakeBody() {
    if (sink_.budget != nullptr) {
        sink_.budget->held -= std::min(sink_.budget->held, sink_.reader.Size());
    }
    return std::exchange(sink_.reader, BodyReader());
}

void CurlTransfer::Drop() {
    TakeBody();
}

FetchResult CurlTransfer::Finish(int code) {
    const auto rc = static_cast<CURLcode>(code);
    // The body goes with the result, or is dropped: a lane holds no page between fetches.
    BodyReader reader = TakeBody();
    if (watch_.stopped) {
        FetchResult stopped = FetchResult::Failed("已停止", Answer::Transient);
        stopped.abandoned = true;
        return stopped;
    }
    if (sink_.overBudget) {
        FetchResult abandoned = FetchResult::Failed("内存不足，稍后再取", Answer::Transient);
        abandoned.abandoned = true;
        return abandoned;
    }
    if (rc != CURLE_OK) {
        // Plain Chinese first; libcurl's own words follow where they say more.
        const CurlRow* row = RowOf(rc);
        std::string reason = row != nullptr ? row->reason : "网络错误";
        if (rc == CURLE_ABORTED_BY_CALLBACK) {
            reason += "（" + std::to_string(idleSeconds_) + " 秒没有收到数据）";
        } else if (rc != CURLE_WRITE_ERROR) {
            reason += "（" +
                      std::string(errorBuffer_[0] != '\0' ? errorBuffer_ : curl_easy_strerror(rc)) +
                      "）";
        }
        FetchResult failure =
            FetchResult::Failed(std::move(reason), row != nullptr ? row->answer : Answer::Other);
        failure.notThePage = rc == CURLE_WRITE_ERROR;
        return failure;
    }
    long status = 0;
    curl_easy_getinfo(curl_, CURLINFO_RESPONSE_CODE, &status);
    if (status == 200) {
        return FetchResult::Page(std::move(reader.Text()));
    }
    const std::optional<std::chrono::seconds> retryAfter =
        ParseRetryAfter(retryAfter_, std::time(nullptr));
    const Answer answer = AnswerToStatus(static_cast<int>(status), retryAfter.has_value());
    FetchResult failure = FetchResult::Failed(ReasonForStatus(static_cast<int>(status), answer),
                                              answer, static_cast<int>(status));
    failure.retryAfter = retryAfter;
    // The page checks look for a verification page in it, then drop it.
    failure.body = std::move(reader.Text());
    return failure;
}

}  // namespace crawl
