#pragma once
// A generated directory for runs longer than the fixture site: `pages` result pages of
// `perPage` companies for any search, each company with a contact page of its own, all named
// so that listing order can be checked ("公司<page>-<place>").

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <memory>
#include <string>
#include <utility>
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

// A directory that grows between weeks: the companies added since the first week ("新公司<k>",
// the newest first) are listed before the first week's ("公司<k>"), `perPage` to a page.
struct GrowingSite {
    int count = 0;  // the first week's companies
    int perPage = 8;
    std::shared_ptr<std::atomic<int>> added = std::make_shared<std::atomic<int>>(0);
    // The next requests that the directory answers with 503, as a site out of breath does.
    std::shared_ptr<std::atomic<int>> failing = std::make_shared<std::atomic<int>>(0);

    int Pages() const { return (count + *added + perPage - 1) / perPage; }
    // The company listed at place `i` (0-based) of the whole listing: its title and contact.
    std::pair<std::string, std::string> Company(int i) const {
        const int newest = *added;
        if (i < newest) {
            return {"新公司" + std::to_string(newest - i), "n" + std::to_string(newest - i)};
        }
        return {"公司" + std::to_string(i - newest + 1), "c" + std::to_string(i - newest + 1)};
    }
    void Serve(Server& server) const {
        const GrowingSite site = *this;
        const std::string contact = GeneratedContactPage();
        server.Fallback([site, contact](const Request& r) {
            Reply reply;
            if (site.failing->fetch_sub(1) > 0) {
                reply.status = 503;
                reply.body = "busy";
                return reply;
            }
            const int total = site.count + *site.added;
            const size_t p = r.key.find("_p-");
            if (r.key.find("_n-y.html") != std::string::npos && p == std::string::npos) {
                reply.body = Gbk("共找到 " + std::to_string(total) +
                                 " 条符合 <span class=\"total-page\">共" +
                                 std::to_string(site.Pages()) + "页</span>");
            } else if (p != std::string::npos) {
                const int page = std::atoi(r.key.c_str() + p + 3);
                std::string body = "<div id=\"offer_list\" class=\"list\">\n";
                for (int i = (page - 1) * site.perPage; i < std::min(total, page * site.perPage);
                     ++i) {
                    const auto [title, id] = site.Company(i);
                    body += "<div class=\"info\"><a href=\"http://www.tarvola.com/company/detail/" +
                            id + ".html\" target=\"_blank\" class=\"l\">" + Gbk(title) +
                            "</a></span>" + Gbk("广东 广州市") + "</div>\n";
                }
                reply.body = body +
                             Gbk("共找到 " + std::to_string(total) +
                                 " 条符合 <span class=\"total-page\">共" +
                                 std::to_string(site.Pages()) + "页</span>") +
                             "<script language=\"javascript\"></script>\n";
            } else {
                reply.body = contact;
            }
            return reply;
        });
    }
};

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
