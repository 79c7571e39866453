#include <gtest/gtest.h>

#include "StandInServer.h"
#include "crawl/CSpiderThread.h"
#include "crawl/SearchAddress.h"

using namespace crawl;
using namespace store;

using standin::Gbk;

TEST(UrlEncode, WorkedExamples) {
    const std::pair<std::string, std::string> cases[] = {
        {Gbk("北京"), "%B1%B1%BE%A9"},
        {Gbk("服装"), "%B7%FE%D7%B0"},
        {"a b+c", "a+b%2bc"},
        {"100%", "100%25"},
        {"{x}", "%7Bx%7D"},
        {Gbk("區"), "%85%5e"},
        {"\t|~\x7F", "%09%7C%7E%7F"},
        {"\"<>\\^[]`$,@:;/!#?=&", "%22%3c%3e%5c%5e%5b%5d%60%24%2c%40%3a%3b%2f%21%23%3f%3d%26"},
        {"", ""},
    };
    for (const auto& [in, out] : cases) {
        EXPECT_EQ(UrlEncode(in), out) << in;
    }
}

struct ConditionCase {
    std::string condition, industry, region, keyword;
};

TEST(BuildKeyword, SplitsAndJoinsTheCondition) {
    const ConditionCase cases[] = {
        {Gbk("服装^北京"), Gbk("服装"), Gbk("北京"), "%B1%B1%BE%A9+%B7%FE%D7%B0"},
        {Gbk("服装^"), Gbk("服装"), "", "%B7%FE%D7%B0"},
        {Gbk("^北京"), "", Gbk("北京"), "%B1%B1%BE%A9"},
        {"a^b^c", "a", "b", "b+a"},  // a "^" typed in the industry cuts it there
        {"a b^", "a b", "", "a+b"},
        {Gbk("區^x"), Gbk("區"), "x", "x+%85%5e"},  // its trail byte is no separator
    };
    for (const auto& c : cases) {
        CrawlJob job;
        job.strCondition = c.condition;
        CSpiderThread spider(job, nullptr, nullptr, nullptr, 0);
        EXPECT_EQ(spider.BuildKeyword(), c.keyword) << c.condition;
        std::string industry = "old", region = "old";
        SplitCondition(c.condition, industry, region);
        EXPECT_EQ(industry, c.industry);
        EXPECT_EQ(region, c.region);
    }
}

TEST(BuildKeyword, OtherSectionsGiveNothing) {
    CrawlJob job;
    job.nKind = 2;
    job.strCondition = "a^b";
    CSpiderThread spider(job, nullptr, nullptr, nullptr, 0);
    EXPECT_EQ(spider.BuildKeyword(), "");
}

TEST(SearchAddress, BothForms) {
    const std::string keyword = "%B1%B1%BE%A9+%B7%FE%D7%B0";
    EXPECT_EQ(PreCollectAddress(keyword),
              "http://search.tarvola.com/company/k-%B1%B1%BE%A9+%B7%FE%D7%B0_n-y.html");
    EXPECT_EQ(ResultPageAddress(keyword, 3),
              "http://search.tarvola.com/company/k-%B1%B1%BE%A9+%B7%FE%D7%B0_p-3"
              "_isCreditFlag-false_n-y.html");
}
