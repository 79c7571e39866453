// A whole crawl of 2,000 companies (100 result pages of 20) against the stand-in directory on
// loopback, next to a bare libcurl loop fetching the same pages.

#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "StandInServer.h"
#include "crawl/CrawlWorker.h"
#include "crawl/CurlFetcher.h"
#include "crawl/EventQueue.h"
#include "crawl/SearchAddress.h"

namespace {

constexpr int kPages = 100;
constexpr int kPerPage = 20;

std::string ContactPage() {
    return standin::Gbk(
        "<html><body><a>查看更多资料</a><ul>"
        "<li><a onclick=\"comy_cont_toclub')\">陈明</a>&nbsp;先生（销售经理）</li>\n"
        "<li>移动电话：13800138000</li>\n<li>电&nbsp;&nbsp;&nbsp;&nbsp;话：86-020-12345678</li>\n"
        "<li>传&nbsp;&nbsp;&nbsp;&nbsp;真：86-020-12345679</li>\n"
        "<li>地&nbsp;&nbsp;&nbsp;&nbsp;址：广州市天河区黄埔大道100号</li>\n"
        "<li>邮&nbsp;&nbsp;&nbsp;&nbsp;编：510000</li></ul>\n" +
        std::string(20000, ' ') + "\n<script language=\"javascript\"></script></body></html>\n");
}

std::string ResultPage(int page) {
    std::string body =
        "<html><body>" + std::string(10000, ' ') + "\n<div id=\"offer_list\" class=\"list\">\n";
    for (int i = 0; i < kPerPage; ++i) {
        const std::string id = std::to_string(page * 1000 + i);
        body += "<div class=\"info\"><h2><a href=\"http://www.tarvola.com/company/detail/c" + id +
                ".html\" target=\"_blank\" class=\"l\">" + standin::Gbk("广州化工有限公司") + id +
                "</a></span></h2><p>" + standin::Gbk("广东 广州市") + "</p></div>\n";
    }
    return body + "</div><script language=\"javascript\"></script></body></html>\n";
}

standin::Server& Site() {
    static standin::Server* server = [] {
        auto* s = new standin::Server();
        s->UseAsProxy();
        const std::string contact = ContactPage();
        s->Fallback([contact](const standin::Request& r) {
            standin::Reply reply;
            size_t p = r.key.find("_p-");
            reply.body =
                p != std::string::npos ? ResultPage(std::atoi(r.key.c_str() + p + 3)) : contact;
            return reply;
        });
        return s;
    }();
    return *server;
}

std::vector<std::string> AllAddresses() {
    std::vector<std::string> all;
    const std::string keyword = UrlEncode("bench");
    for (int p = 1; p <= kPages; ++p) {
        all.push_back(ResultPageAddress(keyword, p));
        for (int i = 0; i < kPerPage; ++i) {
            all.push_back("http://www.tarvola.com/company/detail/c" + std::to_string(p * 1000 + i) +
                          ".html");
        }
    }
    return all;
}

size_t Discard(char*, size_t size, size_t n, void*) {
    return size * n;
}

void BM_BareCurlLoop(benchmark::State& state) {
    Site();
    CurlGlobalInit();
    const auto addresses = AllAddresses();
    CURL* curl = curl_easy_init();
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Discard);
    for (auto _ : state) {
        for (const auto& a : addresses) {
            curl_easy_setopt(curl, CURLOPT_URL, a.c_str());
            curl_easy_perform(curl);
        }
    }
    curl_easy_cleanup(curl);
    state.SetItemsProcessed(state.iterations() * kPages * kPerPage);
}
BENCHMARK(BM_BareCurlLoop)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

void BM_Crawl2000(benchmark::State& state) {
    Site();
    char tmpl[] = "/tmp/collector-crawl-XXXXXX";
    const std::string dir = mkdtemp(tmpl);
    for (auto _ : state) {
        state.PauseTiming();
        std::filesystem::remove(dir + "/data.db");
        std::filesystem::remove(dir + "/data.db-wal");
        auto queue = std::make_shared<EventQueue>();
        CrawlJob job;
        job.pNotify = queue;
        job.pRunControl = std::make_shared<RunControlWord>(RunState::Empty);
        job.nMode = CRAWL_MODE_COLLECT;
        job.nStartPage = 1;
        job.nLastPage = kPages;
        job.strCondition = "bench";
        job.strStorePath = dir + "/data.db";
        state.ResumeTiming();
        auto worker = CrawlWorker::Start(job, DefaultCrawlDeps());
        worker->Join(std::chrono::minutes(10));
        state.PauseTiming();
        int saved = 0;
        while (auto n = queue->Take(std::chrono::milliseconds(0))) {
            saved += n->As<ev::RecordSaved>() != nullptr;
        }
        if (saved != kPages * kPerPage) {
            state.SkipWithError("not every company was stored");
        }
        state.ResumeTiming();
    }
    std::filesystem::remove_all(dir);
    state.SetItemsProcessed(state.iterations() * kPages * kPerPage);
}
BENCHMARK(BM_Crawl2000)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

}  // namespace
