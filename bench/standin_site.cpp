// A generated directory on loopback for measuring whole runs of collector-cli: PAGES result
// pages of 20 companies for any search, each with a contact page, every answer LATENCY_MS
// late (a distant site; 0 by default). With a third argument "heavy" every contact page weighs
// 6 MiB and the first one answers 503 with Retry-After 100 once, so a collect has much to hold
// while one entry waits. With "huge" every contact page weighs 15 MiB; with "hugelist" result
// page 1 is 15 MiB of about 870,000 empty entries. Prints "port N", then serves until its
// standard input closes.

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

#include "GeneratedSite.h"

namespace {

// Every company's contact page answers with `reply`.
void RouteContactPages(standin::Server& server, int pages, const standin::Reply& reply) {
    for (int p = 1; p <= pages; ++p) {
        for (int i = 1; i <= 20; ++i) {
            server.Route("www.tarvola.com/company/detail/c" + std::to_string(p) + "-" +
                             std::to_string(i) + ".html",
                         reply);
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    const int pages = argc > 1 ? std::atoi(argv[1]) : 500;
    const int latencyMs = argc > 2 ? std::atoi(argv[2]) : 0;
    standin::Server server;
    standin::ServeGeneratedSite(server, pages, 20);
    server.SetLatency(latencyMs);
    const std::string mode = argc > 3 ? argv[3] : "";
    if (mode == "huge") {
        standin::Reply huge;
        huge.body = standin::GeneratedContactPage();
        huge.repeat = (15u << 20) / huge.body.size();
        RouteContactPages(server, pages, huge);
    }
    if (mode == "hugelist") {
        standin::Reply list;
        list.body = "<div id=\"offer_list\" class=\"list\">\n";
        while (list.body.size() < (15u << 20)) {
            list.body += "<div class=\"info\">";
        }
        list.body += "<script language=\"javascript\"></script>\n";
        server.Fallback([pages, list](const standin::Request& r) {
            standin::Reply reply;
            if (r.key.find("_p-1_") != std::string::npos) {
                return list;
            }
            const size_t p = r.key.find("_p-");
            reply.body = p != std::string::npos
                             ? standin::GeneratedResultPage(std::atoi(r.key.c_str() + p + 3), 20)
                             : standin::GeneratedContactPage();
            return reply;
        });
    }
    if (mode == "heavy") {
        standin::Reply heavy;
        heavy.body = standin::GeneratedContactPage();
        heavy.repeat = (6u << 20) / heavy.body.size();
        RouteContactPages(server, pages, heavy);
        standin::Reply busy;
        busy.status = 503;
        busy.headers = {{"Retry-After", "100"}};
        server.RouteFirst("www.tarvola.com/company/detail/c1-1.html", {busy});
    }
    std::cout << "port " << server.Port() << std::endl;
    std::string line;
    while (std::getline(std::cin, line)) {
    }
    return 0;
}
