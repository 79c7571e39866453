#include "crawl/Answer.h"

#include <string>
#include <vector>

#include "text/GbkCodec.h"
#include "text/GbkSearch.h"

namespace crawl {

namespace {

struct StatusRow {
    int status;
    Answer answer;
    const char* reason;  // empty: the row's own (a refusal's, the proxy's)
};

constexpr StatusRow kStatusRows[] = {
    {404, Answer::Definite, "页面不存在"},
    {410, Answer::Definite, "页面已被删除"},
    {429, Answer::Refusal, ""},
    {503, Answer::Refusal, ""},
    {408, Answer::Transient, "网站等待请求超时"},
    {500, Answer::Transient, "网站内部错误"},
    {502, Answer::Transient, "网站网关错误"},
    {504, Answer::Transient, "网站网关超时"},
    {407, Answer::Proxy, ""},
};

}  // namespace

Answer AnswerToStatus(int status, bool retryAfter) {
    if (status == 200) {
        return Answer::Page;
    }
    for (const StatusRow& row : kStatusRows) {
        if (row.status == status) {
            return row.answer;
        }
    }
    // A 403 that says when to come back is a refusal, not a verdict on the page.
    if (status == 403 && retryAfter) {
        return Answer::Refusal;
    }
    return Answer::Other;
}

std::string ReasonForStatus(int status, Answer answer) {
    const std::string code = "HTTP " + std::to_string(status);
    if (answer == Answer::Refusal) {
        return std::string(kRefusalReason) + "（" + code + "）";
    }
    if (answer == Answer::Proxy) {
        return std::string(kProxyAuthMessage);
    }
    for (const StatusRow& row : kStatusRows) {
        if (row.status == status && row.reason[0] != '\0') {
            return std::string(row.reason) + "（" + code + "）";
        }
    }
    return "网站回答 " + code;
}

std::string WithDetail(std::string_view head, const std::string& reason) {
    std::string_view detail = reason;
    if (detail.substr(0, head.size()) == head) {
        detail.remove_prefix(head.size());
        static constexpr std::string_view kOpen = "（", kClose = "）";
        if (detail.substr(0, kOpen.size()) == kOpen &&
            detail.size() >= kOpen.size() + kClose.size() &&
            detail.substr(detail.size() - kClose.size()) == kClose) {
            detail = detail.substr(kOpen.size(), detail.size() - kOpen.size() - kClose.size());
        }
    }
    std::string out(head);
    if (!detail.empty()) {
        out += "（" + std::string(detail) + "）";
    }
    return out;
}

bool HasVerificationWords(std::string_view page) {
    static const std::vector<std::string> words = [] {
        std::vector<std::string> gbk;
        for (std::string_view w : kVerificationWords) {
            gbk.push_back(text::Utf8ToGbk(std::string(w)));
        }
        return gbk;
    }();
    for (const std::string& w : words) {
        if (text::ContainsText(page, w)) {
            return true;
        }
    }
    return false;
}

}  // namespace crawl
