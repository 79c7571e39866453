#pragma once
// What one fetch of a page gave: the body, or a failure with its reason and its row in the
// table of answers (Answer.h), which says whether trying the same address again can help. A
// failure is never the same as an empty page.

#include <chrono>
#include <optional>
#include <string>

#include "crawl/Answer.h"

namespace crawl {

struct FetchResult {
    bool ok = false;
    int status = 0;          // the HTTP status, 0 when no answer came
    std::string body;        // the page text (a failure's too, until the page checks read it)
    std::string reason;      // why it failed, in plain Chinese (UTF-8)
    bool retryable = false;  // Retryable(answer): fetched again within the run
    Answer answer = Answer::Transient;
    std::optional<std::chrono::seconds> retryAfter;  // what the server asked, when it did
    // Answered, but not with the page asked for (a verification page, a listing cut short).
    bool notThePage = false;
    // Given up to keep the memory the lanes hold within their bound: no failure, to be fetched
    // again.
    bool abandoned = false;

    static FetchResult Page(std::string body) {
        FetchResult r;
        r.ok = true;
        r.status = 200;
        r.answer = Answer::Page;
        r.body = std::move(body);
        return r;
    }
    // A failure in the row `answer`.
    static FetchResult Failed(std::string reason, Answer answer, int status = 0) {
        FetchResult r;
        r.reason = std::move(reason);
        r.answer = answer;
        r.retryable = Retryable(answer);
        r.status = status;
        return r;
    }
    // A failure by its status (its row in the table), or without one a transport error that
    // can or cannot be retried.
    static FetchResult Failure(std::string reason, bool retryable, int status = 0) {
        const Answer a = status != 0 ? AnswerToStatus(status, false)
                         : retryable ? Answer::Transient
                                     : Answer::Other;
        return Failed(std::move(reason), a, status);
    }
    // The page is not there: the entry gets its row with the name alone.
    bool Definite() const { return !ok && answer == Answer::Definite; }
    // Lets the page text go, memory and all (assigning an empty string keeps the room).
    void DropBody() { std::string().swap(body); }
};

}  // namespace crawl
