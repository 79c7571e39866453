#include <gtest/gtest.h>

#include "StandInServer.h"
#include "crawl/ListingParser.h"

using namespace crawl;

using standin::Gbk;

TEST(ListingParser, CompanyNameIsCleaned) {
    const std::pair<std::string, std::string> cases[] = {
        {Gbk(R"~(<a href="x" class="l">宁波<font color=red>模具</font> 有限公司</a></span>)~"),
         Gbk("宁波模具有限公司")},
        {Gbk(R"~(<span class="l">A B C</a></span>)~"), "ABC"},
        {Gbk(R"~(class="l">no leading space</a></span>)~"), ""},
        {Gbk(R"~( class="l">unterminated)~"), ""},
        {Gbk(R"~( class="l">&nbsp;<b>x</b></a></span>)~"), "&nbsp;<b>x</b>"},
    };
    for (const auto& [entry, name] : cases) {
        EXPECT_EQ(CompanyNameOfEntry(entry), name) << entry;
    }
}

TEST(ListingParser, ContactAddressRules) {
    const std::pair<std::string, std::string> cases[] = {
        // Rule 1 wins over rule 2; its end marker has no equals sign.
        {R"~(<a href="http://www.tarvola.com/company/detail/a.html" x><a href="http://company.tarvola.com/athena/contact/abc.html" target="_blank">)~",
         "http://company.tarvola.com/athena/contact/abc.html"},
        {R"~(<a href="http://company.tarvola.com/athena/contact/abc.html" targetx)~",
         "http://company.tarvola.com/athena/contact/abc.html"},
        // Rule 2: ends at a quote and a space.
        {R"~(<a href="http://www.tarvola.com/company/detail/acme.html" target="_blank">)~",
         "http://www.tarvola.com/company/detail/acme.html"},
        // Another host does not count as the prefix.
        {R"~(<a href="http://www.other.com/company/detail/acme.html" target="_blank">)~",
         "http://detail.tarvola.com/company/detail/contact/"},
        // Rule 3a: every bizreflist becomes contact.
        {R"~(<div class="view-more"><a href="http://x.tarvola.com/athena/bizreflist/bizreflist1.html" onclick="tarvolaclick()">)~",
         "http://x.tarvola.com/athena/contact/contact1.html"},
        // Rule 3b: the link has no /athena/, the tail behind detail/contact/ is taken.
        {R"~(<div class="view-more"><a href="http://x/y" onclick="tarvolaclick()"> <a href="http://d/company/detail/contact/dc.html" target="_blank">)~",
         "http://detail.tarvola.com/company/detail/contact/dc.html"},
        // Nothing recognisable: the bare prefix.
        {"<p>nothing</p>", "http://detail.tarvola.com/company/detail/contact/"},
        {"", "http://detail.tarvola.com/company/detail/contact/"},
        // Rule 1 with no end marker: the bare prefix too.
        {"http://company.tarvola.com/athena/contact/abc",
         "http://company.tarvola.com/athena/contact/"},
    };
    for (const auto& [entry, address] : cases) {
        EXPECT_EQ(ContactAddressOfEntry(entry), address) << entry;
    }
}

TEST(ListingParser, BlockIsCutBetweenItsMarkers) {
    EXPECT_EQ(ListingBlockOf("head<div id=\"offer_list\" class=\"list\">BODY<script language=js>"),
              "BODY");
    EXPECT_EQ(ListingBlockOf("<div id=\"offer_list\" class=\"list\">BODY"), "");
}
