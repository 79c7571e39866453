// A whole crawl of 2,000 companies (100 result pages of 20) against the stand-in directory on
// loopback, next to a bare libcurl loop fetching the same pages, and the same crawl with one
// contact page in ten answering 503 once (back-off shortened to 10 ms and 40 ms).

#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <mutex>
#include <set>
#include <string>

#include "StandInServer.h"
#include "crawl/CrawlWorker.h"
#include "crawl/CurlFetcher.h"
#include "crawl/EventQueue.h"
#include "crawl/SearchAddress.h"
#include "store/RecordStore.h"

using namespace crawl;
using namespace store;

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

// Contact pages whose id ends in 0 answer 503 the first time they are asked for, while this
// is on; the set of those already failed is emptied before each crawl.
std::atomic<bool> g_flaky{false};
std::mutex g_failedMutex;
std::set<std::string> g_failed;

standin::Server& Site() {
    static standin::Server* server = [] {
        auto* s = new standin::Server();
        s->UseAsProxy();
        const std::string contact = ContactPage();
        s->Fallback([contact](const standin::Request& r) {
            standin::Reply reply;
            size_t p = r.key.find("_p-");
            if (p != std::string::npos) {
                reply.body = ResultPage(std::atoi(r.key.c_str() + p + 3));
                return reply;
            }
            if (g_flaky && r.key.size() > 6 && r.key.compare(r.key.size() - 6, 6, "0.html") == 0) {
                std::lock_guard<std::mutex> lock(g_failedMutex);
                if (g_failed.insert(r.key).second) {
                    reply.status = 503;
                    return reply;
                }
            }
            reply.body = contact;
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

void Crawl(benchmark::State& state, bool flaky) {
    Site();
    g_flaky = flaky;
    char tmpl[] = "/tmp/collector-crawl-XXXXXX";
    const std::string dir = mkdtemp(tmpl);
    for (auto _ : state) {
        state.PauseTiming();
        std::filesystem::remove(dir + "/data.db");
        std::filesystem::remove(dir + "/data.db-wal");
        {
            std::lock_guard<std::mutex> lock(g_failedMutex);
            g_failed.clear();
        }
        auto queue = std::make_shared<EventQueue>();
        CrawlJob job;
        job.pNotify = queue;
        job.pRunControl = std::make_shared<RunControlWord>(RunState::Empty);
        job.ledger = std::make_shared<RunLedger>();
        job.nMode = CRAWL_MODE_COLLECT;
        job.nStartPage = 1;
        job.nLastPage = kPages;
        job.strCondition = "bench";
        job.strStorePath = dir + "/data.db";
        job.options.retry.delays = {std::chrono::milliseconds(10), std::chrono::milliseconds(40)};
        state.ResumeTiming();
        auto worker = CrawlWorker::Start(job, DefaultCrawlDeps());
        worker->Join(std::chrono::minutes(10));
        state.PauseTiming();
        int saved = 0;
        int failed = 0;
        while (auto n = queue->Take(std::chrono::milliseconds(0))) {
            saved += n->As<ev::RecordSaved>() != nullptr;
            failed += n->As<ev::FetchFailed>() != nullptr;
        }
        RecordStore store(dir + "/data.db");
        std::set<std::string> titles;
        store.ForEachMemberRow(
            [&](const RecordStore::RawRow& row) { titles.insert(std::string(row[0])); });
        if (saved != kPages * kPerPage || failed != 0 ||
            titles.size() != static_cast<size_t>(kPages * kPerPage)) {
            state.SkipWithError("not every company was stored exactly once");
        }
        state.ResumeTiming();
    }
    std::filesystem::remove_all(dir);
    g_flaky = false;
    state.SetItemsProcessed(state.iterations() * kPages * kPerPage);
}

void BM_Crawl2000(benchmark::State& state) {
    Crawl(state, false);
}
BENCHMARK(BM_Crawl2000)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

void BM_Crawl2000With503Once(benchmark::State& state) {
    Crawl(state, true);
}
BENCHMARK(BM_Crawl2000With503Once)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

}  // namespace
