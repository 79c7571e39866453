#include <gtest/gtest.h>

#include <string>

#include "StandInServer.h"
#include "text/GbkCodec.h"
#include "text/GbkSearch.h"
#include "text/Normalise.h"
#include "text/Number.h"
#include "text/Printable.h"

using standin::Gbk;
using text::ExtractBetween;

struct BetweenCase {
    std::string text, start, end, expected;
};

TEST(ExtractBetween, FollowsTheMarkers) {
    const BetweenCase cases[] = {
        {"a[x]b[y]", "[", "]", "x"},
        {"a[x]b[y]", "[", "", "x]b[y]"},
        {"a[x]b[y]", "(", "]", ""},
        {"a[x]b[y]", "[", ")", ""},
        {"abab", "ab", "b", "a"},
        {"<b>x<b>y</b>", "<b>", "</b>", "x<b>y"},
        {"abc", "", "b", "a"},
        {"abc", "", "", "abc"},
        {"", "", "", ""},
        {"ab", "b", "", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ExtractBetween(c.text, c.start, c.end), c.expected)
            << c.text << " / " << c.start << " / " << c.end;
    }
}

TEST(FindText, NeverMatchesOnATrailByte) {
    // 0xB1 0x63 is one character whose trail byte is 'c'; "class=" must not match inside it.
    const std::string page =
        "\xB1"
        "class=\"a\">x class=\"a\">y";
    EXPECT_EQ(ExtractBetween(page, "class=\"a\">", ""), "y");
    // Lead-range runs before the candidate: even length is a boundary, odd is not.
    EXPECT_EQ(text::FindText("\xB1\xB1"
                             "c",
                             "c"),
              2u);
    EXPECT_EQ(text::FindText("\xB1\xB1\xB1"
                             "cc",
                             "c"),
              4u);
    EXPECT_EQ(text::FindText("\xB1"
                             "c",
                             "c"),
              text::npos);
    // 區 is 85 5E: its trail byte is "^" and is no separator.
    EXPECT_EQ(text::FindText(Gbk("區^x"), "^"), 2u);
    // The search position counts as a character boundary.
    EXPECT_EQ(text::FindText("\xB1"
                             "cc",
                             "c", 1),
              1u);
    EXPECT_EQ(text::FindText("abc", "", 2), 2u);
    EXPECT_EQ(text::FindText("abc", "x", 9), text::npos);
}

TEST(FindText, ChineseMarkersInGbk) {
    const std::string page = Gbk("共找到 1234 条符合条件的记录");
    EXPECT_EQ(ExtractBetween(page, Gbk("共找到"), Gbk("条符合")), " 1234 ");
}

TEST(ReplaceAll, RemovesAndReplacesEveryOccurrence) {
    EXPECT_EQ(text::RemoveAll("a<font color=red>b</font>c", "<font color=red>"), "ab</font>c");
    EXPECT_EQ(text::ReplaceAll("/athena/bizreflist/bizreflist.html", "bizreflist", "contact"),
              "/athena/contact/contact.html");
    EXPECT_EQ(text::ReplaceAll("aaa", "aa", "b"), "ba");
    EXPECT_EQ(text::ReplaceAll("abc", "", "x"), "abc");
    // A space hidden as a trail byte (0x81 0x20 is no character, but 0x81 is a lead byte) stays.
    EXPECT_EQ(text::RemoveAll("\x81 a b", " "), "\x81 ab");
}

TEST(Trim, UsesTheSixBlanks) {
    EXPECT_EQ(text::TrimLeft(" \t\r\n\v\fx \r\n"), "x \r\n");
    EXPECT_EQ(text::TrimRight(" x\t\r\n\v\f "), " x");
    EXPECT_EQ(text::Trim("  "), "");
}

TEST(Number, ReadsLikeAtoi) {
    const std::pair<std::string, long long> cases[] = {
        {"12abc", 12},
        {"", 0},
        {"-3", -3},
        {"  +7", 7},
        {"abc", 0},
        {"\t42 ", 42},
        {"99999999999999999999999", INT64_MAX},
    };
    for (const auto& [in, out] : cases) {
        EXPECT_EQ(text::LeadingLong(in), out) << in;
    }
    EXPECT_EQ(text::LeadingInt("99999999999"), INT32_MAX);
    EXPECT_EQ(text::LeadingInt("-99999999999"), INT32_MIN);
}

TEST(GbkCodec, RoundTripsChinese) {
    const std::string utf8 = "北京 服装 區 €";
    std::string gbk = text::Utf8ToGbk(utf8);
    EXPECT_EQ(gbk.substr(0, 4), "\xB1\xB1\xBE\xA9");
    EXPECT_EQ(text::GbkToUtf8(gbk), utf8);
}

TEST(GbkCodec, BadInputKeepsTheRest) {
    // An invalid pair becomes U+FFFD; an ASCII byte behind a broken lead byte survives.
    EXPECT_EQ(text::GbkToUtf8("a\xFF\xFF"
                              "b"),
              "a\xEF\xBF\xBD\xEF\xBF\xBD"
              "b");
    EXPECT_EQ(text::GbkToUtf8("a\x81"
                              "<b>"),
              "a\xEF\xBF\xBD<b>");
    EXPECT_EQ(text::GbkToUtf8("x\xB1"), "x\xEF\xBF\xBD");  // cut off at the end
    // A character without a GBK form, and malformed UTF-8, become "?".
    EXPECT_EQ(text::Utf8ToGbk("a\xF0\x9F\x98\x80"
                              "b"),
              "a?b");
    EXPECT_EQ(text::Utf8ToGbk("a\xC3"
                              "b"),
              "a?b");
    EXPECT_EQ(text::Utf8ToGbk("\xE4\xB8"), "?");
    // GBK's user-defined and unassigned codes name no character (Windows would give private
    // use ones), and a private use character has no GBK form.
    for (const char* gbk : {"\xAA\xA1", "\xA1\x40", "\xFE\x50", "\xFF"}) {
        EXPECT_FALSE(text::GbkToUtf8Exact(gbk).has_value()) << gbk;
        EXPECT_EQ(text::GbkToUtf8(std::string(gbk) + "b").substr(0, 3), "\xEF\xBF\xBD") << gbk;
    }
    EXPECT_EQ(text::Utf8ToGbk("a\xEE\x80\x80"), "a?");
    EXPECT_FALSE(text::Utf8ToGbkExact("\xEE\x80\x80").has_value());
}

TEST(Normalise, NamesCompareAcrossWidthsBracketsAndBlanks) {
    const std::pair<const char*, const char*> cases[] = {
        {"广州化工（集团）有限公司", "广州化工(集团)有限公司"},
        {"广州化工 (集团)\u3000有限公司", "广州化工(集团)有限公司"},
        {"ＡＢＣ化工１２３", "ABC化工123"},
        {" \t", ""},
        {"", ""},
        {"\xE5\xB9", "\xE5\xB9"},  // a broken sequence is kept as it is
    };
    for (const auto& [in, out] : cases) {
        EXPECT_EQ(text::NormaliseName(in), out) << in;
    }
}

TEST(Printable, ControlCharactersOfTheDirectoryNeverReachATerminal) {
    struct Case {
        std::string in, escaped, dropped;
    };
    const Case cases[] = {
        {"\x1b[2J清屏", "\\x1b[2J清屏", "[2J清屏"},
        {"\x1b]0;title\x07公司", "\\x1b]0;title\\x07公司", "]0;title公司"},
        {"a\tb\nc\rd", "a\tb\nc\\x0dd", "a\tb\ncd"},
        {std::string("x\0y", 3), "x\\x00y", "xy"},
        {"\x7f", "\\x7f", ""},
        {"\xc2\x9b"
         "1m",
         "\\x9b1m", "1m"},                                       // U+009B, a terminal's CSI
        {"\xc2\xa0müller", "\xc2\xa0müller", "\xc2\xa0müller"},  // U+00A0 is text
        {"\x9b\xfe\x81", "\x9b\xfe\x81", "\x9b\xfe\x81"},        // not UTF-8: left as it is
        {"深圳电子化工厂", "深圳电子化工厂", "深圳电子化工厂"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(text::Printable(c.in), c.escaped) << c.in;
        EXPECT_EQ(text::Printable(c.in, text::Controls::Drop), c.dropped) << c.in;
    }
}
