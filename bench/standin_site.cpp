// A generated directory on loopback for measuring whole runs of collector-cli: PAGES result
// pages of 20 companies for any search, each with a contact page. Prints "port N", then serves
// until its standard input closes.

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

#include "StandInServer.h"

int main(int argc, char** argv) {
    const int pages = argc > 1 ? std::atoi(argv[1]) : 500;
    const int perPage = 20;
    standin::Server server;
    const std::string contact = standin::Gbk(
        "<html><body><a>查看更多资料</a><ul>"
        "<li><a onclick=\"comy_cont_toclub')\">陈明</a>&nbsp;先生（销售经理）</li>\n"
        "<li>移动电话：13800138000</li>\n<li>电&nbsp;&nbsp;&nbsp;&nbsp;话：86-020-12345678</li>\n"
        "<li>地&nbsp;&nbsp;&nbsp;&nbsp;址：广州市天河区黄埔大道100号</li>\n"
        "<li>邮&nbsp;&nbsp;&nbsp;&nbsp;编：510000</li></ul>\n<script language=\"javascript\">"
        "</script></body></html>\n");
    server.Fallback([&](const standin::Request& r) {
        standin::Reply reply;
        const size_t p = r.key.find("_p-");
        if (r.key.find("_n-y.html") != std::string::npos && p == std::string::npos) {
            reply.body = standin::Gbk("共找到 " + std::to_string(pages * perPage) +
                                      " 条符合 <span class=\"total-page\">共" +
                                      std::to_string(pages) + "页</span>");
        } else if (p != std::string::npos) {
            const int page = std::atoi(r.key.c_str() + p + 3);
            std::string body = "<div id=\"offer_list\" class=\"list\">\n";
            for (int i = 0; i < perPage; ++i) {
                const std::string id = std::to_string(page * 1000 + i);
                body += "<div class=\"info\"><a href=\"http://www.tarvola.com/company/detail/c" +
                        id + ".html\" target=\"_blank\" class=\"l\">" +
                        standin::Gbk("广州化工有限公司") + id + "</a></span></div>\n";
            }
            reply.body = body + "<script language=\"javascript\"></script>\n";
        } else {
            reply.body = contact;
        }
        return reply;
    });
    std::cout << "port " << server.Port() << std::endl;
    std::string line;
    while (std::getline(std::cin, line)) {
    }
    return 0;
}
