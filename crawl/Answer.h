#pragma once
// Every answer a fetch can get falls in one row of one table, and the row decides what the walk
// does with it. Every fetch (pre-collect, result pages, contact pages, retries) reads it here.
//
//   definite   404, 410                          the entry gets its name-only row; nothing kept
//   refusal    429, 503, a verification page     back off (Retry-After), halve the lanes, retry,
//              (any status), 403 + Retry-After   then keep; five in a row end the run
//   transient  408, 500, 502, 504, a transport   retry without halving the lanes, then keep;
//              error, a 200 that is not the page five in a row end the run as an outage
//   proxy      407                               the run ends at once; nothing kept
//   other      any other status (403, 400, ...)  not retried within the run; kept with its
//                                                status; five in a row end the run as refusals
//
// A contact page kept as "other" that answers with the same status when a later run fetches it
// becomes definite, so one company the directory always refuses does not keep every run open.
// A result page is never definite: whatever its failure, it stays kept until it is read whole.

#include <string>
#include <string_view>

namespace crawl {

enum class Answer {
    Page,       // the page asked for, read whole
    Definite,   // the page is not there
    Refusal,    // the site pushes back: a verification page or "too many visits"
    Transient,  // try again: the network, the server or a page that came incomplete
    Proxy,      // the proxy asks for credentials
    Other,      // a status the table does not name
};

// The row of an HTTP status other than 200 (`retryAfter`: the answer carried a Retry-After).
Answer AnswerToStatus(int status, bool retryAfter);

// What a refusal is called wherever a reason is shown, and the run's end after five of them.
inline constexpr std::string_view kRefusalReason = "网站要求验证或访问过于频繁";

// The short reason in plain Chinese (UTF-8) that the failures list, the messages and
// collector-cli show for a status other than 200 in row `answer`: the status's own words
// ("页面不存在（HTTP 404）"), the refusal's, or "网站回答 HTTP N" for a status the table does
// not name. The status itself travels in a field of its own.
std::string ReasonForStatus(int status, Answer answer);

// `head` with the detail of `reason` in parentheses, once: a reason that already begins with
// `head` (a refusal's own reason under the refusal's message) is not repeated.
std::string WithDetail(std::string_view head, const std::string& reason);

// Whether the walk fetches an address with this answer again within the run.
inline bool Retryable(Answer a) {
    return a == Answer::Refusal || a == Answer::Transient;
}

// The words by which a verification or "too many visits" page is told from any other page that
// lacks the listing or contact section (UTF-8; pages are searched in GBK).
inline constexpr std::string_view kVerificationWords[] = {"验证码", "安全验证", "访问过于频繁",
                                                          "请输入验证", "访问受限"};

// Whether `page` (GBK) carries one of kVerificationWords.
bool HasVerificationWords(std::string_view page);

// What the run says when it ends on a 407 from the proxy.
inline constexpr std::string_view kProxyAuthMessage = "代理服务器要求身份验证";

}  // namespace crawl
