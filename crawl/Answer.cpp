#include "crawl/Answer.h"

#include <vector>

#include "text/GbkCodec.h"
#include "text/GbkSearch.h"

namespace {

struct StatusRow {
    int status;
    Answer answer;
};

constexpr StatusRow kStatusRows[] = {
    {404, Answer::Definite},  {410, Answer::Definite},  {429, Answer::Refusal},
    {503, Answer::Refusal},   {408, Answer::Transient}, {500, Answer::Transient},
    {502, Answer::Transient}, {504, Answer::Transient}, {407, Answer::Proxy},
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
