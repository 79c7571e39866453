#include <gtest/gtest.h>

#include "StandInServer.h"
#include "crawl/ContactParser.h"
#include "text/GbkCodec.h"

using namespace crawl;
using namespace store;

using standin::Gbk;

namespace {

MemberRecord Parse(const std::string& utf8Page) {
    MemberRecord r = ExtractContactFields(Gbk(utf8Page));
    for (std::string* f : r.Fields()) {
        *f = text::GbkToUtf8(*f);
    }
    return r;
}

MemberRecord Expect(std::string person, std::string sex, std::string job, std::string mobile,
                    std::string phone, std::string fax, std::string address, std::string zip) {
    return MemberRecord{"", person, sex, job, mobile, phone, fax, address, zip};
}

const char* kMore =
    "查看更多资料<li><a onclick=\"comy_cont_toclub')\">张伟</a>&nbsp;先生（经理）</li>\r\n"
    "<li>移动电话：13800138000 </li><li>电&nbsp;&nbsp;&nbsp;&nbsp;话：  020-1234</li>"
    "<li>传&nbsp;&nbsp;&nbsp;&nbsp;真：\t020-5678</li><li>地&nbsp;&nbsp;&nbsp;&nbsp;址： "
    "广州市\r\n</li>"
    "<li>邮&nbsp;&nbsp;&nbsp;&nbsp;编：510000</li><script language=\"javascript\">";

const char* kBordered =
    "<div style=\"border-bottom:#b1c8eb 2px solid\"><span class=\"c\">李娜（采购主管）</span><br>"
    "电话： 0574-8888<br>传真：\r\n0574-9999 <br>地址： 宁波市北仑区 \r\n</div><script type=\"x\">";

const char* kWays =
    "您可以通过以下方式联系该公司<a href=\"u\" class=\"uol\" "
    "target=\"_blank\">王强</a><sup>先生</sup>"
    "<span class=\"role\">总经理</span>"
    "<abbr>移动电话：</abbr> <span class=\"value\">13900000000</span>"
    "<abbr>电&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;话：</abbr><span "
    "class=\"value\">021-5555\r\n</span>"
    "<abbr>传&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;真：</abbr><span "
    "class=\"value\">021-6666</span>"
    "<abbr>地&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;址：</abbr><span class=\"value\" "
    "title=\"\">上海市</span>"
    "<abbr>邮&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;编：</abbr><span "
    "class=\"value\">200000</span>"
    "--E内容-->";

}  // namespace

TEST(ContactParser, ThreeLayouts) {
    const std::pair<std::string, MemberRecord> cases[] = {
        {kMore, Expect("张伟", "先生", "经理", "13800138000 ", "020-1234", "020-5678", "广州市\r\n",
                       "510000")},
        {kBordered,
         Expect("李娜", "", "采购主管", "", "0574-8888", "0574-9999 ", "宁波市北仑区", "")},
        {kWays, Expect("王强", "先生", "总经理", " 13900000000", "021-5555\r\n", "021-6666",
                       "上海市", "200000")},
        // Nothing recognisable, also an empty page: eight empty fields.
        {"<html>nothing</html>", MemberRecord{}},
        {"", MemberRecord{}},
    };
    for (const auto& [page, expected] : cases) {
        EXPECT_EQ(Parse(page), expected) << page;
    }
}

TEST(ContactParser, LayoutsAreRecognisedInOrder) {
    EXPECT_EQ(RecognizeLayout(Gbk(std::string(kBordered) + kMore)), ContactLayout::ContactMore);
    EXPECT_EQ(RecognizeLayout(Gbk(std::string(kWays) + kBordered)), ContactLayout::Bordered);
    EXPECT_EQ(RecognizeLayout(Gbk(kWays)), ContactLayout::ContactWays);
}

TEST(ContactParser, ContactMoreChainsItsMarkers) {
    // No person: the sex is searched behind the first "</a>&nbsp;" of the section.
    MemberRecord r = Parse("查看更多资料<a>x</a>&nbsp;女士（会计）<script language=\"javascr");
    EXPECT_EQ(r.person, "");
    EXPECT_EQ(r.sex, "女士");
    EXPECT_EQ(r.job, "会计");
    // ASCII parentheses delimit nothing.
    r = Parse("查看更多资料comy_cont_toclub')\">赵</a>&nbsp;先生(经理)<script language=\"javascr");
    EXPECT_EQ(r.person, "赵");
    EXPECT_EQ(r.sex, "");
    EXPECT_EQ(r.job, "");
    // A section without its end marker empties every field of the layout.
    r = Parse("查看更多资料comy_cont_toclub')\">赵</a>&nbsp;先生（经理）");
    EXPECT_EQ(r, MemberRecord{});
}

TEST(ContactParser, MarkerAcrossACharacterBoundaryIsNoMarker) {
    // "电话：" in the bordered layout must not be found inside other characters' bytes: the
    // GBK bytes of 电 (B5 E7) preceded by a lone lead byte pair up differently.
    std::string page = Gbk("<div style=\"border-bottom:#b1c8eb 2px\">");
    page += "\xB0";  // a lead byte: the next byte (B5) becomes its trail
    page += Gbk("电话：123<br>") + Gbk("</div><script type=");
    MemberRecord r = ExtractContactFields(page);
    EXPECT_EQ(r.phone, "");
}
