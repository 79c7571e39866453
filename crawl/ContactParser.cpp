#include "crawl/ContactParser.h"

#include <string>

#include "text/GbkCodec.h"
#include "text/GbkSearch.h"

namespace crawl {

using text::ExtractBetween;

namespace {

// The markers as the pages carry them, in GBK.
struct Markers {
    static std::string G(const char* utf8) { return text::Utf8ToGbk(utf8); }
    static std::string Spaced(const char* first, int nbsp, const char* second) {
        std::string s = G(first);
        for (int i = 0; i < nbsp; ++i) {
            s += "&nbsp;";
        }
        return s + G(second);
    }

    const std::string moreMark = G("查看更多资料");
    const std::string borderMark = "border-bottom:#b1c8eb 2px";
    const std::string waysMark = G("您可以通过以下方式联系该公司");
    const std::string waysEnd = "--E" + G("内容") + "-->";
    const std::string moreEnd = "<script language=\"javascr";
    const std::string borderEnd = "<script type=";
    const std::string open = G("（");
    const std::string close = G("）");

    const std::string moreMobile = G("移动电话：");
    const std::string morePhone = Spaced("电", 4, "话：");
    const std::string moreFax = Spaced("传", 4, "真：");
    const std::string moreAddress = Spaced("地", 4, "址：");
    const std::string moreZip = Spaced("邮", 4, "编：");

    const std::string borderPhone = G("电话：");
    const std::string borderFax = G("传真：");
    const std::string borderAddress = G("地址：");

    const std::string waysMobile = G("移动电话：</abbr>");
    const std::string waysPhone = Spaced("电", 8, "话：</abbr>");
    const std::string waysFax = Spaced("传", 8, "真：</abbr>");
    const std::string waysAddress = Spaced("地", 8, "址：</abbr>");
    const std::string waysZip = Spaced("邮", 8, "编：</abbr>");
};

const Markers& M() {
    static const Markers markers;
    return markers;
}

void ReadContactMore(std::string_view page, store::MemberRecord& r) {
    const Markers& m = M();
    std::string sec = ExtractBetween(page, m.moreMark, m.moreEnd);
    r.person = ExtractBetween(sec, "comy_cont_toclub')\">", "</a>");
    r.sex = ExtractBetween(sec, r.person + "</a>&nbsp;", m.open);
    r.job = ExtractBetween(sec, r.sex + m.open, m.close);
    r.mobile = ExtractBetween(sec, m.moreMobile, "</li>");
    r.phone = ExtractBetween(sec, m.morePhone, "</li>");
    r.fax = ExtractBetween(sec, m.moreFax, "</li>");
    r.address = ExtractBetween(sec, m.moreAddress, "</li>");
    r.zip = ExtractBetween(sec, m.moreZip, "</li>");
}

void ReadBordered(std::string_view page, store::MemberRecord& r) {
    const Markers& m = M();
    std::string sec = ExtractBetween(page, m.borderMark, m.borderEnd);
    r.person = ExtractBetween(sec, "<span class=\"c\">", m.open);
    r.job = ExtractBetween(sec, r.person + m.open, m.close + "</span>");
    r.phone = ExtractBetween(sec, m.borderPhone, "<br>");
    r.fax = ExtractBetween(sec, m.borderFax, "<br>");
    r.address = text::TrimRight(ExtractBetween(sec, m.borderAddress, "</div>"));
}

void ReadContactWays(std::string_view page, store::MemberRecord& r) {
    const Markers& m = M();
    const std::string_view value = "<span class=\"value\">";
    std::string sec = ExtractBetween(page, m.waysMark, m.waysEnd);
    r.person = ExtractBetween(sec, "class=\"uol\" target=\"_blank\">", "</a>");
    r.sex = ExtractBetween(sec, "</a><sup>", "</sup>");
    r.job = ExtractBetween(sec, "<span class=\"role\">", "</span>");
    r.mobile = text::RemoveAll(ExtractBetween(sec, m.waysMobile, "</span>"), value);
    r.phone = text::RemoveAll(ExtractBetween(sec, m.waysPhone, "</span>"), value);
    r.fax = text::RemoveAll(ExtractBetween(sec, m.waysFax, "</span>"), value);
    r.address = text::RemoveAll(ExtractBetween(sec, m.waysAddress, "</span>"),
                                "<span class=\"value\" title=\"\">");
    r.zip = text::RemoveAll(ExtractBetween(sec, m.waysZip, "</span>"), value);
}

}  // namespace

ContactLayout RecognizeLayout(std::string_view page) {
    if (text::ContainsText(page, M().moreMark)) {
        return ContactLayout::ContactMore;
    }
    if (text::ContainsText(page, M().borderMark)) {
        return ContactLayout::Bordered;
    }
    if (text::ContainsText(page, M().waysMark)) {
        return ContactLayout::ContactWays;
    }
    return ContactLayout::None;
}

bool ContactSectionWhole(std::string_view page) {
    const Markers& m = M();
    auto whole = [page](const std::string& start, const std::string& end) {
        const size_t s = text::FindText(page, start);
        return s != text::npos && text::FindText(page, end, s + start.size()) != text::npos;
    };
    switch (RecognizeLayout(page)) {
        case ContactLayout::ContactMore:
            return whole(m.moreMark, m.moreEnd);
        case ContactLayout::Bordered:
            return whole(m.borderMark, m.borderEnd);
        case ContactLayout::ContactWays:
            return whole(m.waysMark, m.waysEnd);
        case ContactLayout::None:
            break;
    }
    return false;
}

store::MemberRecord ExtractContactFields(std::string_view page) {
    store::MemberRecord r;
    switch (RecognizeLayout(page)) {
        case ContactLayout::ContactMore:
            ReadContactMore(page, r);
            break;
        case ContactLayout::Bordered:
            ReadBordered(page, r);
            break;
        case ContactLayout::ContactWays:
        case ContactLayout::None:  // nothing to find; read as the last layout, as always
            ReadContactWays(page, r);
            break;
    }
    r.fax = text::TrimLeft(r.fax);
    r.phone = text::TrimLeft(r.phone);
    r.address = text::TrimLeft(r.address);
    r.zip = text::TrimLeft(r.zip);
    return r;
}

}  // namespace crawl
