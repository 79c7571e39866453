#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>

#include <filesystem>

#include <thread>

#include "ChildProcess.h"
#include "DirectorySite.h"
#include "TempDir.h"
#include "store/RecordStore.h"

using namespace standin;

namespace {

class CliTest : public ::testing::Test {
  protected:
    void SetUp() override {
        server.UseAsProxy();
        ServeFixtureSite(server);
    }
    RunResult Cli(std::vector<std::string> args) {
        args.insert(args.begin(), {"--store", storePath});
        return RunProgram(COLLECTOR_CLI_PATH, args, dir.Path());
    }
    int StoredRows() {
        RecordStore store(storePath);
        int n = 0;
        store.ForEachMemberRow([&](const RecordStore::RawRow&) { ++n; });
        return n;
    }

    Server server;
    TempDir dir;
    std::string storePath = dir.File("data.db");
};

}  // namespace

TEST_F(CliTest, UsageMistakesExitWithTwo) {
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"nonsense"},
        {"precollect", "--bogus"},
        {"collect", "--industry", "x", "--start", "zero"},
        {"collect", "--industry", "x", "--start", "0"},
        {"export", "out.txt"},
        {"export", "--format", "xls", "out.txt"},
        {"export", "--format", "csv"},
        {"clear", "--industry", "x"},
    };
    for (const auto& args : cases) {
        auto r = RunProgram(COLLECTOR_CLI_PATH, args, dir.Path());
        EXPECT_EQ(r.code, 2) << ::testing::PrintToString(args);
        EXPECT_NE(r.err.find("用法"), std::string::npos) << r.err;
    }
    for (const char* command : {"precollect", "collect", "export", "clear"}) {
        auto r = RunProgram(COLLECTOR_CLI_PATH, {command, "--help"}, dir.Path());
        EXPECT_EQ(r.code, 0);
        EXPECT_NE(r.out.find(command), std::string::npos);
    }
    for (const char* command : {"precollect", "collect"}) {
        auto r = Cli({command});
        EXPECT_EQ(r.code, 2);
        EXPECT_NE(r.err.find("请至少指定一项采集条件！"), std::string::npos);
    }
}

TEST_F(CliTest, PreCollectPrintsTheTotals) {
    auto r = Cli({"precollect", "--industry", "化工", "--region", "广东"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "pages: 3\nmatches: 6\n");
    // A search the directory does not know: one page, no matches.
    r = Cli({"precollect", "--industry", "无此行业"});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, "pages: 1\nmatches: 0\n");
}

TEST_F(CliTest, CollectResumeExportClear) {
    auto r = Cli({"collect", "--industry", "化工", "--region", "广东"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.err.find("page 3 / 3, records 5"), std::string::npos) << r.err;
    EXPECT_EQ(StoredRows(), 5);
    EXPECT_EQ(RecordStore(storePath).LoadLastPageIndex(), 3);

    // Without --start the crawl resumes at the stored page.
    r = Cli({"collect", "--industry", "化工", "--region", "广东"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(StoredRows(), 6);

    r = Cli({"collect", "--industry", "化工", "--region", "广东", "--start", "4", "--last", "3"});
    EXPECT_EQ(r.code, 2);

    // A search without hits has nothing to collect.
    r = Cli({"collect", "--industry", "无此行业"});
    EXPECT_EQ(r.code, 0);
    EXPECT_NE(r.err.find("没有找到符合条件的记录"), std::string::npos) << r.err;
    EXPECT_EQ(StoredRows(), 6);

    r = Cli({"export", "--format", "text", dir.File("out.txt")});
    EXPECT_EQ(r.code, 0) << r.err;
    std::string bytes = ReadFileBytes(dir.File("out.txt"));
    EXPECT_EQ(bytes.substr(0, 8), Gbk("广州化工"));
    EXPECT_EQ(bytes.substr(bytes.size() - 2), "\r\n");
    r = Cli({"export", "--format", "csv", "--encoding", "utf-8", dir.File("out.csv")});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(ReadFileBytes(dir.File("out.csv")).substr(0, 3), "\xEF\xBB\xBF");
    r = Cli({"export", "--format", "csv", dir.File("no/such/dir.csv")});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("无法创建导出文件"), std::string::npos);

    r = Cli({"clear"});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(StoredRows(), 0);
    EXPECT_EQ(RecordStore(storePath).LoadLastPageIndex(), 3);
    r = Cli({"export", "--format", "text", dir.File("empty.txt")});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("没有任何可以导出的数据！"), std::string::npos);
}

TEST_F(CliTest, FailuresAreNamedKeptAndRetried) {
    const std::string keyword = KeywordFor(Gbk("化工"), Gbk("广东"));
    Reply missing;
    missing.status = 404;
    // A pre-collect that cannot read its page is a network failure with its reason.
    server.Route(Strip(PreCollectAddress(keyword)), missing);
    for (const char* command : {"precollect", "collect"}) {
        auto r = Cli({command, "--industry", "化工", "--region", "广东"});
        EXPECT_EQ(r.code, 1) << command;
        EXPECT_EQ(r.out, "");
        EXPECT_NE(r.err.find("网络连接失败！（HTTP 404）"), std::string::npos) << r.err;
    }

    // A result page that fails: the run reaches its end, names the page and exits with 3.
    server.Route(Strip(ResultPageAddress(keyword, 2)), missing);
    auto r = Cli({"collect", "--industry", "化工", "--region", "广东", "--last", "3"});
    EXPECT_EQ(r.code, 3) << r.err;
    EXPECT_NE(r.err.find("未能获取：第 2 页 " + ResultPageAddress(keyword, 2) + "（HTTP 404"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(StoredRows(), 3);
    EXPECT_EQ(RecordStore(storePath).LoadLastPageIndex(), 3);

    // Healed: --retry-failed needs no condition, appends the page's companies once.
    ServeFixtureSite(server);
    r = Cli({"collect", "--retry-failed"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.err.find("操作成功完成！"), std::string::npos) << r.err;
    EXPECT_EQ(StoredRows(), 5);
    r = Cli({"collect", "--retry-failed"});
    EXPECT_EQ(r.code, 0);
    EXPECT_NE(r.err.find("没有需要重试的页面。"), std::string::npos) << r.err;
    EXPECT_EQ(StoredRows(), 5);
}

TEST_F(CliTest, StoreThatCannotBeOpenedExitsWithOne) {
    auto r = RunProgram(COLLECTOR_CLI_PATH,
                        {"--store", dir.File("missing/data.db"), "collect", "--industry", "化工"},
                        dir.Path());
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("无法打开数据库"), std::string::npos) << r.err;
}

TEST_F(CliTest, InterruptFinishesTheRecordInHand) {
    // The second company's contact page answers slowly; SIGINT arrives while it is in hand.
    Reply slow;
    slow.body = GbkFixture("bordered.html");
    slow.delayMs = 1500;
    server.Route("www.tarvola.com/company/detail/nbmj.html", slow);
    ChildProcess child(
        COLLECTOR_CLI_PATH,
        {"--store", storePath, "collect", "--industry", "化工", "--region", "广东", "--last", "3"},
        dir.Path());
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (server.RequestCount() < 3 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_EQ(server.RequestCount(), 3u);
    child.Signal(SIGINT);
    EXPECT_EQ(child.Wait(), 130);
    EXPECT_EQ(StoredRows(), 2);
    EXPECT_NE(child.Stderr().find("操作停止！"), std::string::npos);
}

namespace {

int LastReportedRecords(const std::string& stderrText) {
    int last = 0;
    size_t pos = 0;
    while ((pos = stderrText.find("records ", pos)) != std::string::npos) {
        pos += 8;
        last = std::atoi(stderrText.c_str() + pos);
    }
    return last;
}

std::string IntegrityCheck(const std::string& path) {
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    sqlite3_stmt* st = nullptr;
    std::string result = "no answer";
    if (sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &st, nullptr) == SQLITE_OK &&
        sqlite3_step(st) == SQLITE_ROW) {
        result = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
    }
    sqlite3_finalize(st);
    sqlite3_close(db);
    return result;
}

}  // namespace

TEST_F(CliTest, KilledAtAnyMomentLosesNoReportedRecord) {
    ServeFixtureSite(server, 100);  // a run lasts most of a second
    for (int i = 0; i < 10; ++i) {
        SCOPED_TRACE("kill " + std::to_string(i));
        const int before = std::filesystem::exists(storePath) ? StoredRows() : 0;
        ChildProcess child(COLLECTOR_CLI_PATH,
                           {"--store", storePath, "collect", "--industry", "化工", "--region",
                            "广东", "--start", "1", "--last", "3"},
                           dir.Path());
        std::this_thread::sleep_for(std::chrono::milliseconds(30 + 65 * i));
        child.Signal(SIGKILL);
        EXPECT_EQ(child.Wait(), 128 + SIGKILL);
        EXPECT_EQ(IntegrityCheck(storePath), "ok");
        const int reported = LastReportedRecords(child.Stderr());
        EXPECT_GE(StoredRows() - before, reported) << child.Stderr();
    }
    // Resuming from the stored page completes the walk.
    auto r = Cli({"collect", "--industry", "化工", "--region", "广东", "--last", "3"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.err.find("page 3 / 3"), std::string::npos) << r.err;
    EXPECT_EQ(IntegrityCheck(storePath), "ok");
}
