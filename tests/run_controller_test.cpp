#include <gtest/gtest.h>

#include <condition_variable>
#include <functional>
#include <thread>

#include "FakeCrawlParts.h"
#include "ManualClock.h"
#include "TempDir.h"
#include "crawl/CollectSession.h"
#include "crawl/EventQueue.h"
#include "crawl/RunController.h"
#include "store/RecordStore.h"

using namespace crawl;
using namespace store;

namespace {

// Starts no thread: records the jobs it was asked to start.
struct NoWorkers {
    std::vector<CrawlJob> jobs;
    RunController::Launcher Launcher() {
        return [this](const CrawlJob& job) {
            jobs.push_back(job);
            return std::unique_ptr<CrawlWorker>();
        };
    }
};

using std::chrono::seconds;

}  // namespace

TEST(RunController, PausesAfterEveryNRecordsAndResumes) {
    ManualClock clock;
    NoWorkers launched;
    RunController rc(clock, launched.Launcher());
    rc.BeginRun({3, 10, 50});
    rc.StartWorker(CrawlJob{});
    for (int count = 1; count <= 2; ++count) {
        rc.OnRecordSaved(count);
        EXPECT_EQ(rc.Word()->load(), RunState::Empty) << count;
    }
    rc.OnRecordSaved(3);
    EXPECT_EQ(rc.Word()->load(), RunState::Pause);
    clock.Advance(seconds(9));
    rc.Tick();
    EXPECT_EQ(rc.Word()->load(), RunState::Pause);
    clock.Advance(seconds(1));
    rc.Tick();
    EXPECT_EQ(rc.Word()->load(), RunState::Running);
    rc.OnRecordSaved(6);
    EXPECT_EQ(rc.Word()->load(), RunState::Pause);
}

TEST(RunController, ABackOffIsNoStall) {
    // A worker waiting out what the site asked is given that long besides the time-out.
    ManualClock clock;
    NoWorkers launched;
    RunController rc(clock, launched.Launcher());
    rc.BeginRun({0, 10, 15});
    rc.StartWorker(CrawlJob{});
    rc.OnRecordSaved(1);
    clock.Advance(seconds(5));
    rc.OnBackingOff(std::chrono::seconds(120));
    clock.Advance(seconds(120));
    rc.Tick();
    EXPECT_EQ(rc.Restarts(), 0);
    clock.Advance(seconds(15));
    rc.Tick();
    EXPECT_EQ(rc.Restarts(), 1);
    // Before the first record there is no watchdog for a back-off to move.
    RunController fresh(clock, launched.Launcher());
    fresh.BeginRun({0, 10, 15});
    fresh.StartWorker(CrawlJob{});
    fresh.OnBackingOff(std::chrono::seconds(1));
    clock.Advance(seconds(100));
    fresh.Tick();
    EXPECT_EQ(fresh.Restarts(), 0);
}

TEST(RunController, NoWatchdogDuringAPause) {
    ManualClock clock;
    NoWorkers launched;
    RunController rc(clock, launched.Launcher());
    rc.BeginRun({1, 60, 50});  // the wait is longer than the time-out
    rc.StartWorker(CrawlJob{});
    rc.OnPageStarted(4);
    rc.OnRecordSaved(1);
    clock.Advance(seconds(55));
    rc.Tick();
    EXPECT_EQ(launched.jobs.size(), 1u);  // no second worker inside the pause
    clock.Advance(seconds(5));
    rc.Tick();
    EXPECT_EQ(rc.Word()->load(), RunState::Running);
    clock.Advance(seconds(49));
    rc.Tick();
    EXPECT_EQ(launched.jobs.size(), 1u);
    clock.Advance(seconds(1));
    rc.Tick();  // the watchdog was armed again when the pause ended
    ASSERT_EQ(launched.jobs.size(), 2u);
    EXPECT_EQ(launched.jobs[1].nStartPage, 4);
    EXPECT_EQ(rc.Restarts(), 1);
}

TEST(RunController, ZeroSettingsAndStopAreRespected) {
    ManualClock clock;
    NoWorkers launched;
    RunController rc(clock, launched.Launcher());
    rc.BeginRun({0, 10, 0});  // every-N 0: never pause; time-out 0: no watchdog
    rc.StartWorker(CrawlJob{});
    for (int i = 1; i <= 100; ++i) {
        rc.OnRecordSaved(i);
    }
    clock.Advance(seconds(100000));
    rc.Tick();
    EXPECT_EQ(rc.Word()->load(), RunState::Empty);
    EXPECT_EQ(launched.jobs.size(), 1u);

    // A record reported after Stop never turns "STOP" into "PAUSE" and arms nothing.
    rc.BeginRun({1, 10, 5});
    rc.Stop();
    rc.OnRecordSaved(1);
    EXPECT_EQ(rc.Word()->load(), RunState::Stop);
    clock.Advance(seconds(100));
    rc.Tick();
    EXPECT_EQ(launched.jobs.size(), 1u);
    EXPECT_FALSE(rc.Running());
}

TEST(RunController, WatchdogRestartStoresNoCompanyTwice) {
    // Page 1 holds A and B; fetching B's contact page stalls the first worker until released.
    auto pages = std::make_shared<FakeFetcher::Shared>();
    auto rows = std::make_shared<MemoryStore::Shared>();
    std::mutex gateMutex;
    std::condition_variable gateCv;
    bool released = false;
    bool firstBlocked = false;
    int bFetches = 0;
    auto blockingFetcher = [&]() {
        struct Blocking : FakeFetcher {
            Blocking(std::shared_ptr<Shared> s, std::function<void(const std::string&)> hook)
                : FakeFetcher(std::move(s)), hook_(std::move(hook)) {}
            FetchResult FetchPage(const std::string& a) override {
                hook_(a);
                return FakeFetcher::FetchPage(a);
            }
            std::function<void(const std::string&)> hook_;
        };
        return std::make_unique<Blocking>(pages, [&](const std::string& a) {
            if (a != "http://www.tarvola.com/company/detail/b") {
                return;
            }
            std::unique_lock<std::mutex> lock(gateMutex);
            if (++bFetches == 1) {
                firstBlocked = true;
                gateCv.notify_all();
                gateCv.wait(lock, [&] { return released; });
            }
        });
    };
    auto entry = [](const std::string& c) {
        return "<div class=\"info\"><a class=\"l\">" + c +
               "</a></span><a href=\"http://www.tarvola.com/company/detail/" + c + "\" x>";
    };
    const std::string start = "<div id=\"offer_list\" class=\"list\">";
    const std::string end = "<script language=";
    pages->pages["http://search.tarvola.com/company/k-x_p-1_isCreditFlag-false_n-y.html"] =
        start + entry("a") + entry("b") + end;
    pages->pages["http://search.tarvola.com/company/k-x_p-2_isCreditFlag-false_n-y.html"] =
        start + entry("c") + end;

    CrawlDeps deps;
    deps.makeFetcher = blockingFetcher;
    deps.openStore = [rows](const std::string&, const std::atomic<bool>*) {
        return std::make_unique<MemoryStore>(rows);
    };
    ManualClock clock;
    TempDir dir;
    RecordStore progress(dir.File("data.db"));  // keeps the page in progress
    auto queue = std::make_shared<EventQueue>();
    CollectSession session(clock, queue,
                           [&](const CrawlJob& job) { return CrawlWorker::Start(job, deps); });
    CollectRequest request;
    request.condition = "x";
    request.startPage = 1;
    request.lastPage = 2;
    request.pacing = {30, 10, 5};
    session.StartCollect(request, progress);
    auto release = [&] {
        {
            std::lock_guard<std::mutex> lock(gateMutex);
            released = true;
        }
        gateCv.notify_all();
    };
    // Whatever happens below, no worker is left waiting on this test's gate.
    struct Finally {
        std::function<void()> f;
        ~Finally() { f(); }
    } finally{[&] {
        release();
        session.Shutdown(seconds(30));
    }};

    std::optional<RunEnd> ended;
    auto pump = [&](auto done) {  // hands events to the session until `done` says so
        for (;;) {
            auto n = queue->Take(seconds(10));
            if (!n) {
                return false;
            }
            SessionUpdate u = session.Handle(*n);
            if (u.kind == SessionUpdate::Kind::RunEnded) {
                ended = u.end;
            }
            if (done(u)) {
                return true;
            }
        }
    };
    using K = SessionUpdate::Kind;
    ASSERT_TRUE(pump([](const SessionUpdate& u) { return u.kind == K::RecordSaved; }));
    {
        // A is stored; the first worker now stalls on B.
        std::unique_lock<std::mutex> lock(gateMutex);
        ASSERT_TRUE(gateCv.wait_for(lock, seconds(10), [&] { return firstBlocked; }));
    }
    clock.Advance(seconds(5));
    session.Tick();
    ASSERT_EQ(session.Restarts(), 1);
    // The fresh worker skips A, waits for the B in the stalled worker's hand, and goes on.
    release();
    ASSERT_TRUE(pump([](const SessionUpdate& u) { return u.kind == K::RunEnded; }));
    EXPECT_EQ(ended->how, RunEnd::How::Finished);
    EXPECT_TRUE(session.Shutdown(seconds(10)));
    while (auto n = queue->Take(std::chrono::milliseconds(0))) {
        session.Handle(*n);
    }
    EXPECT_EQ(session.Records(), 3);  // counted across the restart

    std::vector<std::string> titles;
    for (auto& r : rows->rows) {
        titles.push_back(r.title);
    }
    std::sort(titles.begin(), titles.end());
    EXPECT_EQ(titles, (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(bFetches, 1);
    int page2 = 0;
    for (auto& a : pages->fetched) {
        page2 += a.find("_p-2_") != std::string::npos;
    }
    EXPECT_EQ(page2, 1);
}

TEST(RunController, ShutdownAbandonsAFetchThatOutlastsIt) {
    // A's contact page never answers: told to stop, the worker waits for it until the
    // shutdown's time is up, then gives it up, so no worker outlives its run.
    struct Hanging : FakeFetcher {
        using FakeFetcher::FakeFetcher;
        void WatchStop(const std::atomic<bool>* flag) override { flag_ = flag; }
        FetchResult FetchPage(const std::string& a) override {
            if (a.find("/detail/") == std::string::npos) {
                return FakeFetcher::FetchPage(a);
            }
            {
                std::lock_guard<std::mutex> lock(mutex);
                entered = true;
            }
            in.notify_all();
            // Like a transfer that never moves: only the abandon flag ends it.
            while (flag_.load() == nullptr || !flag_.load()->load()) {
                std::this_thread::yield();
            }
            FetchResult r = FetchResult::Failed("given up", Answer::Transient);
            r.abandoned = true;
            return r;
        }
        std::atomic<const std::atomic<bool>*> flag_{nullptr};
        std::mutex mutex;
        std::condition_variable in;
        bool entered = false;
    };
    auto pages = std::make_shared<FakeFetcher::Shared>();
    pages->pages["http://search.tarvola.com/company/k-x_p-1_isCreditFlag-false_n-y.html"] =
        "<div id=\"offer_list\" class=\"list\"><div class=\"info\"><a class=\"l\">a</a></span>"
        "<a href=\"http://www.tarvola.com/company/detail/a\" x><script language=";
    auto rows = std::make_shared<MemoryStore::Shared>();
    std::mutex made;
    std::condition_variable madeOne;
    Hanging* fetcher = nullptr;
    CrawlDeps deps;
    deps.makeFetcher = [&]() {
        auto f = std::make_unique<Hanging>(pages);
        {
            std::lock_guard<std::mutex> lock(made);
            fetcher = f.get();
        }
        madeOne.notify_all();
        return f;
    };
    deps.openStore = [rows](const std::string&, const std::atomic<bool>*) {
        return std::make_unique<MemoryStore>(rows);
    };
    ManualClock clock;
    TempDir dir;
    RecordStore progress(dir.File("data.db"));
    auto queue = std::make_shared<EventQueue>();
    CollectSession session(clock, queue,
                           [&](const CrawlJob& job) { return CrawlWorker::Start(job, deps); });
    CollectRequest request;
    request.condition = "x";
    request.lastPage = 1;
    session.StartCollect(request, progress);
    {
        std::unique_lock<std::mutex> lock(made);
        ASSERT_TRUE(madeOne.wait_for(lock, seconds(10), [&] { return fetcher != nullptr; }));
    }
    {
        std::unique_lock<std::mutex> lock(fetcher->mutex);
        ASSERT_TRUE(fetcher->in.wait_for(lock, seconds(10), [&] { return fetcher->entered; }));
    }
    EXPECT_TRUE(session.Shutdown(std::chrono::milliseconds(100)));
    EXPECT_TRUE(rows->rows.empty());  // given up, not stored as a failure
}
