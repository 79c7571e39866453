// What an answer is, by the table of answers and the rules of a whole page: one row per case.

#include <gtest/gtest.h>

#include <string>

#include "GeneratedSite.h"
#include "StandInServer.h"
#include "crawl/PageCheck.h"

using namespace crawl;

using standin::Gbk;

namespace {

FetchResult Answered(int status, const std::string& body) {
    if (status == 200) {
        return FetchResult::Page(body);
    }
    FetchResult r = FetchResult::Failed("HTTP " + std::to_string(status),
                                        AnswerToStatus(status, false), status);
    r.body = body;
    return r;
}

std::string Listing(int entries, const std::string& totals = "") {
    std::string page = totals + "<div id=\"offer_list\" class=\"list\">\n";
    for (int i = 0; i < entries; ++i) {
        page += "<div class=\"info\"><a class=\"l\">A" + std::to_string(i) + "</a></span></div>\n";
    }
    return page + "<script language=\"javascript\"></script>";
}

std::string Totals(int matches, int pages) {
    return Gbk("共找到 " + std::to_string(matches) + " 条符合 <span class=\"total-page\">共" +
               std::to_string(pages) + "页</span>");
}

const std::string kVerify = Gbk("<title>安全验证</title>访问过于频繁，请输入验证码");

}  // namespace

TEST(PageCheckTest, ResultPagesAreWholeOrNotThePage) {
    struct Case {
        const char* what;
        int page;  // 0: the pre-collect page
        int status;
        std::string body;
        Answer answer;
    };
    const std::string whole = Listing(2, Totals(40, 5));
    const Case cases[] = {
        {"a listing with entries", 2, 200, whole, Answer::Page},
        {"a listing without totals (older pages)", 3, 200, Listing(20), Answer::Page},
        {"cut inside the listing", 2, 200, whole.substr(0, whole.find("<script") - 3),
         Answer::Transient},
        {"cut before the listing", 2, 200, Totals(40, 5), Answer::Transient},
        {"no entries while the totals reach it", 3, 200, Listing(0, Totals(40, 5)),
         Answer::Transient},
        {"no entries, the totals end before it", 6, 200, Listing(0, Totals(40, 5)), Answer::Page},
        {"no block, the totals end before it", 4, 200, Totals(30, 3), Answer::Page},
        {"no entries and no matches", 1, 200, Gbk("共找到 0 条符合") + Listing(0), Answer::Page},
        // Cut within the totals: no count was read, least of all "0 matches".
        {"cut after 共找到", 2, 200, Gbk("<title>塑料 广东 公司</title>共找到"), Answer::Transient},
        {"cut before 条符合", 2, 200, Gbk("<title>塑料 广东 公司</title>共找到 0"),
         Answer::Transient},
        {"more than 1,000 entries", 1, 200, Listing(1001, Totals(1001, 1)), Answer::Transient},
        {"exactly 1,000 entries", 1, 200, Listing(1000, Totals(1000, 1)), Answer::Page},
        {"an empty body", 1, 200, "", Answer::Transient},
        {"a verification page", 1, 200, kVerify, Answer::Refusal},
        {"a verification page with 403", 1, 403, kVerify, Answer::Refusal},
        {"a plain 403", 1, 403, "forbidden", Answer::Other},
        {"404 on a result page", 1, 404, "missing", Answer::Definite},
        {"407 whatever it says", 1, 407, kVerify, Answer::Proxy},
        {"503", 1, 503, "busy", Answer::Refusal},
        {"502", 1, 502, "bad gateway", Answer::Transient},
        {"the pre-collect's totals", 0, 200, Totals(40, 5), Answer::Page},
        {"the pre-collect without totals", 0, 200, "<html></html>", Answer::Transient},
        {"the pre-collect cut after 共找到", 0, 200, Gbk("<title>塑料 广东 公司</title>共找到"),
         Answer::Transient},
    };
    for (const Case& c : cases) {
        const FetchResult r = CheckResultPage(Answered(c.status, c.body), c.page);
        EXPECT_EQ(r.answer, c.answer) << c.what;
        EXPECT_EQ(r.ok, c.answer == Answer::Page) << c.what;
        EXPECT_EQ(r.retryable, Retryable(c.answer)) << c.what;
        if (!r.ok) {
            EXPECT_TRUE(r.body.empty()) << c.what << ": a failure holds no page";
        }
    }
    // Its reason names the page it got instead.
    EXPECT_EQ(CheckResultPage(Answered(200, Gbk("<title>维护中</title>")), 1).reason,
              "不是搜索结果页（维护中）");
}

TEST(PageCheckTest, ContactPagesNeedTheirWholeSection) {
    const std::string page = standin::GeneratedContactPage();
    const size_t end = page.find("<script language=");
    struct Case {
        const char* what;
        int status;
        std::string body;
        Answer answer;
    };
    const Case cases[] = {
        {"the whole page", 200, page, Answer::Page},
        {"cut inside the contact section", 200, page.substr(0, end - 5), Answer::Transient},
        {"cut before the section", 200, page.substr(0, 20), Answer::Transient},
        {"a verification page", 200, kVerify, Answer::Refusal},
        {"a verification page with 403", 403, kVerify, Answer::Refusal},
        {"404", 404, "missing", Answer::Definite},
        {"410", 410, "gone", Answer::Definite},
        {"a plain 401", 401, "no", Answer::Other},
        {"408", 408, "late", Answer::Transient},
    };
    for (const Case& c : cases) {
        const FetchResult r = CheckContactPage(Answered(c.status, c.body));
        EXPECT_EQ(r.answer, c.answer) << c.what;
        EXPECT_EQ(r.Definite(), c.answer == Answer::Definite) << c.what;
    }
    // A 403 that says when to come back is a refusal, not a verdict.
    EXPECT_EQ(AnswerToStatus(403, true), Answer::Refusal);
    EXPECT_EQ(AnswerToStatus(403, false), Answer::Other);
}
