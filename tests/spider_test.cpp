#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "EventNote.h"
#include "FakeCrawlParts.h"
#include "ManualClock.h"
#include "StandInServer.h"
#include "crawl/CSpiderThread.h"
#include "crawl/EventQueue.h"
#include "crawl/SearchAddress.h"

using namespace crawl;
using namespace store;

using standin::Gbk;

namespace {

const std::string kBlockStart = "<div id=\"offer_list\" class=\"list\">";
const std::string kBlockEnd = "<script language=\"javascript\">";

std::string Entry(const std::string& name, const std::string& region, const std::string& contact) {
    return "<div class=\"info\"><span class=\"title\"><a class=\"l\">" + name + "</a></span><p>" +
           region + "</p><a href=\"http://www.tarvola.com/company/detail/" + contact +
           "\" target=\"_blank\">";
}

std::string ContactAddress(const std::string& contact) {
    return "http://www.tarvola.com/company/detail/" + contact;
}

struct Collected {
    std::vector<EventNote> notes;
    std::vector<std::pair<int, std::int64_t>> Messages() const {
        std::vector<std::pair<int, std::int64_t>> out;
        for (auto& n : notes) {
            out.emplace_back(n.message, n.lParam);
        }
        return out;
    }
};

class SpiderTest : public ::testing::Test {
  protected:
    std::unique_ptr<CSpiderThread> Make(int mode, int start, int last,
                                        const std::string& condition = Gbk("化工^"),
                                        std::chrono::milliseconds delay = {},
                                        int kind = CRAWL_KIND_MEMBER,
                                        const Clock& clock = RealTime()) {
        CrawlJob job;
        job.nKind = kind;
        job.options.delay = delay;
        job.pNotify = queue;
        job.pRunControl = word;
        job.nMode = mode;
        job.nStartPage = start;
        job.nLastPage = last;
        job.strCondition = condition;
        auto storeShared = store;
        return std::make_unique<CSpiderThread>(
            job, std::make_unique<FakeFetcher>(pages),
            [storeShared](const std::string&, const std::atomic<bool>*) {
                return std::make_unique<MemoryStore>(storeShared);
            },
            stop, 7, [](std::chrono::milliseconds, StopToken& s) { return s.StopRequested(); },
            LaneFetcherFactory{}, clock);
    }
    void Page(const std::string& address, const std::string& body) { pages->pages[address] = body; }
    std::string ResultPage(int p) { return ResultPageAddress(UrlEncode(Gbk("化工")), p); }
    Collected Drain() {
        Collected c;
        while (auto n = queue->Take(std::chrono::milliseconds(0))) {
            c.notes.emplace_back(*n);
        }
        return c;
    }

    std::shared_ptr<EventQueue> queue = std::make_shared<EventQueue>();
    std::shared_ptr<RunControlWord> word = std::make_shared<RunControlWord>(RunState::Empty);
    std::shared_ptr<StopToken> stop = std::make_shared<StopToken>();
    std::shared_ptr<FakeFetcher::Shared> pages = std::make_shared<FakeFetcher::Shared>();
    std::shared_ptr<MemoryStore::Shared> store = std::make_shared<MemoryStore::Shared>();
};

}  // namespace

TEST_F(SpiderTest, PreCollectReadsTheTotals) {
    struct Case {
        std::string page;
        std::int64_t pages, matches;
    };
    const Case cases[] = {
        {Gbk("共找到 1234 条符合<span class=\"total-page\">共62页</span>"), 62, 1234},
        {Gbk("共找到\r\n 7\t条符合 total-page\">共0页<"), 1, 7},
        {Gbk("共找到 x 条符合"), 1, 0},
        // Not the totals at all (a verification page): tried three times, then a failure,
        // never "0 matches".
        {Gbk("<title>安全验证</title>访问过于频繁"), 0, 0},
    };
    for (const auto& c : cases) {
        Page(PreCollectAddress(UrlEncode(Gbk("化工"))), c.page);
        EXPECT_EQ(Make(CRAWL_MODE_PRECOLLECT, 1, 1)->RunJob(), 1);
        auto got = Drain();
        ASSERT_FALSE(got.notes.empty());
        const EventNote& last = got.notes.back();
        if (c.pages == 0) {
            EXPECT_EQ(last.message, WM_CRAWL_NET_FAILED);
            EXPECT_EQ(last.error, "网站要求验证或访问过于频繁（安全验证）");
            EXPECT_EQ(got.notes.size(), 3u);  // two back-offs before it
            continue;
        }
        ASSERT_EQ(got.notes.size(), 1u);
        EXPECT_EQ(last.message, WM_CRAWL_PRECOLLECTED);
        EXPECT_EQ(last.wParam, c.pages);
        EXPECT_EQ(last.lParam, c.matches);
    }
}

TEST_F(SpiderTest, SessionFailureAndOtherKindsAndModes) {
    pages->sessionOpens = false;
    EXPECT_EQ(Make(CRAWL_MODE_COLLECT, 1, 3)->RunJob(), 0);
    auto got = Drain();
    ASSERT_EQ(got.notes.size(), 1u);
    EXPECT_EQ(got.notes[0].message, WM_CRAWL_NET_FAILED);
    EXPECT_EQ(got.notes[0].lParam, -2);

    pages->sessionOpens = true;
    EXPECT_EQ(Make(9, 1, 3)->RunJob(), 1);                          // no such mode
    Make(CRAWL_MODE_COLLECT, 1, 3, Gbk("化工^"), {}, 2)->RunJob();  // no such section
    EXPECT_TRUE(Drain().notes.empty());
    EXPECT_TRUE(pages->fetched.empty());
}

TEST_F(SpiderTest, WalksThePagesInOrder) {
    Page(ResultPage(1), kBlockStart + Entry("A", "", "a") + Entry("B", "", "b") + kBlockEnd);
    // Page 2 cannot be fetched: it is kept as a failure, then the walk goes on.
    Page(ResultPage(3), kBlockStart + Entry("C", "", "c") + kBlockEnd);
    Make(CRAWL_MODE_COLLECT, 1, 3)->RunJob();
    using P = std::pair<int, std::int64_t>;
    EXPECT_EQ(Drain().Messages(), (std::vector<P>{{WM_CRAWL_PAGE_STARTED, 1},
                                                  {WM_CRAWL_RECORD_SAVED, 1},
                                                  {WM_CRAWL_RECORD_SAVED, 2},
                                                  {WM_CRAWL_PAGE_STARTED, 2},
                                                  {WM_CRAWL_FETCH_FAILED, 2},
                                                  {WM_CRAWL_PAGE_STARTED, 3},
                                                  {WM_CRAWL_RECORD_SAVED, 3},
                                                  // the end names what the search still keeps
                                                  {WM_CRAWL_FETCH_FAILED, 2},
                                                  {WM_CRAWL_FINISHED, 0}}));
    ASSERT_EQ(store->rows.size(), 3u);
    EXPECT_EQ(store->rows[0].title, "A");  // a contact page that is missing leaves the name
    EXPECT_EQ(store->rows[2].title, "C");
    EXPECT_EQ(pages->fetched,
              (std::vector<std::string>{ResultPage(1), ContactAddress("a"), ContactAddress("b"),
                                        ResultPage(2), ResultPage(3), ContactAddress("c")}));
}

TEST_F(SpiderTest, StartBeyondLastFinishesAtOnce) {
    Make(CRAWL_MODE_COLLECT, 4, 3)->RunJob();
    using P = std::pair<int, std::int64_t>;
    EXPECT_EQ(Drain().Messages(), (std::vector<P>{{WM_CRAWL_FINISHED, 0}}));
    EXPECT_TRUE(pages->fetched.empty());

    Page(ResultPage(3), Gbk("共找到 0 条符合") + kBlockStart + kBlockEnd);  // lists nothing
    Make(CRAWL_MODE_COLLECT, 3, 3)->RunJob();
    EXPECT_EQ(Drain().Messages(),
              (std::vector<P>{{WM_CRAWL_PAGE_STARTED, 3}, {WM_CRAWL_FINISHED, 0}}));
    EXPECT_EQ(pages->fetched.size(), 1u);
}

TEST_F(SpiderTest, RegionFilterIsBoundaryAware) {
    // 浙江 in GBK is D5 E3 BD AD. Behind the lead byte B0 the same bytes pair up as B0 D5,
    // E3 BD, AD ..: the region occurs only across character boundaries there.
    const std::string zj = Gbk("浙江");
    Page(ResultPageAddress(KeywordFor(Gbk("化工"), zj), 1),
         kBlockStart + Entry("In", zj, "in") + Entry("Across", "\xB0" + zj + "x", "x") +
             Entry("Out", Gbk("广东"), "out") + kBlockEnd);
    Make(CRAWL_MODE_COLLECT, 1, 1, Gbk("化工^浙江"))->RunJob();
    ASSERT_EQ(store->rows.size(), 1u);
    EXPECT_EQ(store->rows[0].title, "In");
}

TEST_F(SpiderTest, StopBeforeAnEntryEndsTheWalkSilently) {
    Page(ResultPage(1), kBlockStart + Entry("A", "", "a") + kBlockEnd);
    word->store(RunState::Stop);
    Make(CRAWL_MODE_COLLECT, 1, 2)->RunJob();
    EXPECT_TRUE(Drain().notes.empty());
    EXPECT_TRUE(store->rows.empty());
    EXPECT_TRUE(pages->fetched.empty());
}

TEST_F(SpiderTest, PauseHoldsTheEntryUntilRunningOrStop) {
    Page(ResultPage(1), kBlockStart + Entry("A", "", "a") + Entry("B", "", "b") + kBlockEnd);
    for (RunState after : {RunState::Running, RunState::Stop}) {
        SCOPED_TRACE(after == RunState::Running ? "running" : "stop");
        Drain();
        store->rows.clear();
        pages->fetched.clear();
        word->store(RunState::Pause);
        auto spider = Make(CRAWL_MODE_COLLECT, 1, 1);
        std::thread worker([&] { spider->RunJob(); });
        ASSERT_TRUE(word->WaitUntilHeld(1, std::chrono::seconds(10)));
        EXPECT_TRUE(pages->fetched.empty());
        word->store(after);
        worker.join();
        const auto notes = Drain().notes;
        if (after == RunState::Running) {
            EXPECT_EQ(store->rows.size(), 2u);
            continue;
        }
        // A stop written during a pause ends the walk without FINISHED.
        EXPECT_TRUE(store->rows.empty());
        for (auto& n : notes) {
            EXPECT_NE(n.message, WM_CRAWL_FINISHED);
            EXPECT_NE(n.message, WM_CRAWL_RECORD_SAVED);
        }
    }
}

TEST_F(SpiderTest, StoreFailureEndsTheCrawlAndIsReported) {
    Page(ResultPage(1), kBlockStart + Entry("A", "", "a") + Entry("B", "", "b") + kBlockEnd);
    store->failAfter = 1;
    EXPECT_EQ(Make(CRAWL_MODE_COLLECT, 1, 2)->RunJob(), 1);
    auto got = Drain();
    ASSERT_EQ(got.notes.size(), 3u);
    EXPECT_EQ(got.notes[1].message, WM_CRAWL_RECORD_SAVED);
    EXPECT_EQ(got.notes[2].message, WM_CRAWL_STORE_FAILED);
    EXPECT_EQ(got.notes[2].error, "disk I/O error");
    EXPECT_EQ(store->rows.size(), 1u);
    EXPECT_EQ(pages->fetched.size(), 3u);  // page 2 is never fetched
}

TEST_F(SpiderTest, RecordSavedCarriesCountAndRowId) {
    Page(ResultPage(1), kBlockStart + Entry("A", "", "a") + Entry("B", "", "b") + kBlockEnd);
    Make(CRAWL_MODE_COLLECT, 1, 1)->RunJob();
    auto got = Drain();
    ASSERT_EQ(got.notes.size(), 4u);
    EXPECT_EQ(got.notes[2].lParam, 2);
    EXPECT_EQ(got.notes[2].rowId, 2);
    EXPECT_EQ(got.notes[2].worker, 7);
}

TEST_F(SpiderTest, AWorkerWhoseRecordsWereDiscardedStoresNothing) {
    // The store was cleared after this worker was stopped: it stores and announces nothing.
    Page(ResultPage(1), kBlockStart + Entry("A", "", "a") + kBlockEnd);
    auto spider = Make(CRAWL_MODE_COLLECT, 1, 1);
    stop->Discard();
    spider->RunJob();
    EXPECT_TRUE(store->rows.empty());
    EXPECT_TRUE(Drain().notes.empty());
}

TEST_F(SpiderTest, AWaitForTheNextRequestIsAnnounced) {
    // With a delay between requests the worker waits before each fetch: it says so, so that
    // the watchdog does not take a polite wait for a stall. Time moves only when told here.
    Page(ResultPage(1), kBlockStart + Entry("A", "", "a") + Entry("B", "", "b") + kBlockEnd);
    ManualClock clock;
    auto spider = Make(CRAWL_MODE_COLLECT, 1, 1, Gbk("化工^"), std::chrono::milliseconds(150),
                       CRAWL_KIND_MEMBER, clock);
    std::thread worker([&] { spider->RunJob(); });
    // A's page is on another host than the result page: the first wait is before B's page.
    std::optional<CrawlEvent> event;
    while ((event = queue->Take(std::chrono::seconds(10))) && !event->As<ev::BackingOff>()) {
    }
    ASSERT_TRUE(event.has_value()) << "no wait was announced";
    EXPECT_EQ(event->As<ev::BackingOff>()->ms, 150);
    EXPECT_EQ(store->rows.size(), 1u);  // A is stored; B waits for the clock
    clock.Advance(std::chrono::milliseconds(150));
    worker.join();
    EXPECT_EQ(store->rows.size(), 2u);
    for (const auto& [message, ms] : Drain().Messages()) {
        EXPECT_NE(message, WM_CRAWL_BACKING_OFF);  // one wait, not one per look at the clock
    }
}
