#pragma once
// What one fetch of a page gave: the body, or a failure with its reason and whether trying the
// same address again can help. A failure is never the same as an empty page.

#include <chrono>
#include <optional>
#include <string>

struct FetchResult {
    bool ok = false;
    int status = 0;          // the HTTP status, 0 when no answer came
    std::string body;        // the page text when ok
    std::string reason;      // why it failed (UTF-8): libcurl's message or "HTTP 503"
    bool retryable = false;  // a connection error, a time-out, 5xx or 429
    std::optional<std::chrono::seconds> retryAfter;  // what the server asked, when it did
    // Answered, but not with the page asked for (a verification or "too many visits" page):
    // the site is pushing back, as with a 429.
    bool notThePage = false;

    static FetchResult Page(std::string body) {
        FetchResult r;
        r.ok = true;
        r.status = 200;
        r.body = std::move(body);
        return r;
    }
    static FetchResult Failure(std::string reason, bool retryable, int status = 0) {
        FetchResult r;
        r.reason = std::move(reason);
        r.retryable = retryable;
        r.status = status;
        return r;
    }
    // A definite answer that the page is not there (404, 410 and the other 4xx but 429).
    bool Definite() const { return !ok && !retryable && status >= 400 && status < 500; }
};

// Whether a status is worth asking again: 5xx and 429 are; other statuses are definite answers.
inline bool RetryableStatus(int status) {
    return status == 429 || (status >= 500 && status < 600);
}
