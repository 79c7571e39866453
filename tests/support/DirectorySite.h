#pragma once
// The fixture directory served by a stand-in server: the search for industry 化工 and region
// 广东 over three result pages, with contact pages in all three layouts.

#include <string>
#include <vector>

#include "StandInServer.h"
#include "crawl/SearchAddress.h"
#include "store/MemberRecord.h"
#include "text/GbkCodec.h"

namespace standin {

inline std::string Strip(const std::string& address) {
    return address.substr(7);
}  // "http://"

// Every page answers after `delayMs`, so a test can watch the crawl at a slower pace.
inline void ServeFixtureSite(Server& server, int delayMs = 0) {
    const std::string keyword = crawl::KeywordFor(Gbk("化工"), Gbk("广东"));
    auto page = [delayMs](const std::string& fixture) {
        Reply r;
        r.body = GbkFixture(fixture);
        r.delayMs = delayMs;
        return r;
    };
    server.Route(Strip(crawl::PreCollectAddress(keyword)), page("precollect.html"));
    for (int p = 1; p <= 3; ++p) {
        server.Route(Strip(crawl::ResultPageAddress(keyword, p)),
                     page("list-p" + std::to_string(p) + ".html"));
    }
    server.Route("company.tarvola.com/athena/contact/gzhg.html", page("contact-more.html"));
    server.Route("www.tarvola.com/company/detail/nbmj.html", page("bordered.html"));
    server.Route("company.tarvola.com/athena/contact/szdz.html", page("contact-ways.html"));
    server.Route("www.tarvola.com/company/detail/dgsl.html", page("bordered.html"));
    // A search for 模具 alone finds the two companies of page 1 on a single page.
    const std::string single = crawl::KeywordFor(Gbk("模具"), "");
    Reply totals;
    totals.body = Gbk("共找到 2 条符合条件的企业 <span class=\"total-page\">共1页</span>");
    server.Route(Strip(crawl::PreCollectAddress(single)), totals);
    server.Route(Strip(crawl::ResultPageAddress(single, 1)), page("list-p1.html"));
    // Any other search is answered, as the directory does, with a page that finds nothing;
    // every other address is missing.
    server.Fallback([](const Request& request) {
        Reply r;
        if (request.key.rfind("search.tarvola.com/", 0) == 0) {
            r.body = Gbk("共找到 0 条符合条件的企业");
        } else {
            r.status = 404;
        }
        return r;
    });
}

// The rows a full walk of the fixture site stores, in order (UTF-8).
inline std::vector<store::MemberRecord> FixtureSiteRows() {
    store::MemberRecord more{"广州化工有限公司",
                             "陈明",
                             "先生",
                             "销售经理",
                             "13800138000",
                             "86-020-12345678",
                             "86-020-12345679",
                             "广州市天河区黄埔大道100号",
                             "510000"};
    store::MemberRecord bordered{
        "宁波模具化工有限公司",  "李娜", "", "采购主管", "", "0574-86880000", "0574-86880001",
        "宁波市北仑区明州路8号", ""};
    store::MemberRecord ways{
        "深圳电子化工厂", "王强",          "先生",          "总经理",
        "13900000000",    "0755-26660000", "0755-26660001", "深圳市南山区科技园, 北区",
        "518000"};
    store::MemberRecord nameOnly{"佛山机械化工"};
    store::MemberRecord bordered2 = bordered;
    bordered2.title = "东莞塑料化工";
    return {more, bordered, ways, nameOnly, bordered2};
}

inline std::string FixtureCondition() {
    return Gbk("化工^广东");
}

}  // namespace standin
