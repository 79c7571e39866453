#pragma once
// A generated directory for runs longer than the fixture site: `pages` result pages of
// `perPage` companies for any search, each company with a contact page of its own, all named
// so that listing order can be checked ("公司<page>-<place>").

#include <cstdlib>
#include <string>
#include <vector>

#include "StandInServer.h"

namespace standin {

inline std::string GeneratedTitle(int page, int place) {
    return "公司" + std::to_string(page) + "-" + std::to_string(place);
}

// The contact page every company answers with.
inline std::string GeneratedContactPage() {
    return Gbk(
        "<html><body><a>查看更多资料</a><ul>"
        "<li><a onclick=\"comy_cont_toclub')\">陈明</a>&nbsp;先生（销售经理）</li>\n"
        "<li>移动电话：13800138000</li>\n<li>电&nbsp;&nbsp;&nbsp;&nbsp;话：86-020-12345678</li>\n"
        "<li>地&nbsp;&nbsp;&nbsp;&nbsp;址：广州市天河区黄埔大道100号</li>\n"
        "<li>邮&nbsp;&nbsp;&nbsp;&nbsp;编：510000</li></ul>\n<script language=\"javascript\">"
        "</script></body></html>\n");
}

inline std::string GeneratedResultPage(int page, int perPage) {
    std::string body = "<div id=\"offer_list\" class=\"list\">\n";
    for (int i = 1; i <= perPage; ++i) {
        body += "<div class=\"info\"><a href=\"http://www.tarvola.com/company/detail/c" +
                std::to_string(page) + "-" + std::to_string(i) +
                ".html\" target=\"_blank\" class=\"l\">" + Gbk(GeneratedTitle(page, i)) +
                "</a></span>" + Gbk("广东 广州市") + "</div>\n";
    }
    return body + "<script language=\"javascript\"></script>\n";
}

// Serves the generated directory for every address no route names.
inline void ServeGeneratedSite(Server& server, int pages, int perPage) {
    const std::string contact = GeneratedContactPage();
    server.Fallback([=](const Request& r) {
        Reply reply;
        const size_t p = r.key.find("_p-");
        if (r.key.find("_n-y.html") != std::string::npos && p == std::string::npos) {
            reply.body =
                Gbk("共找到 " + std::to_string(pages * perPage) +
                    " 条符合 <span class=\"total-page\">共" + std::to_string(pages) + "页</span>");
        } else if (p != std::string::npos) {
            reply.body = GeneratedResultPage(std::atoi(r.key.c_str() + p + 3), perPage);
        } else {
            reply.body = contact;
        }
        return reply;
    });
}

// The titles a whole walk stores, in listing order (UTF-8).
inline std::vector<std::string> GeneratedTitles(int firstPage, int lastPage, int perPage) {
    std::vector<std::string> titles;
    for (int p = firstPage; p <= lastPage; ++p) {
        for (int i = 1; i <= perPage; ++i) {
            titles.push_back(GeneratedTitle(p, i));
        }
    }
    return titles;
}

}  // namespace standin
