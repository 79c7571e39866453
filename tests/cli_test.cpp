#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "ChildProcess.h"
#include "DirectorySite.h"
#include "GeneratedSite.h"
#include "PgCluster.h"
#include "Portable.h"
#include "StoredRows.h"
#include "TempDir.h"
#include "crawl/RunSettings.h"
#include "platform/FileSystem.h"
#include "store/PgRecordStore.h"
#include "store/RecordStore.h"

using namespace crawl;
using namespace store;

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

TEST_F(CliTest, WithoutStoreTheUsersDataFolderHoldsTheStoreWhereverItIsStarted) {
    // (Started from two folders; the build folder beside the program can be written.)
    const std::string data = dir.File("数据目录");
    ::setenv("XDG_DATA_HOME", data.c_str(), 1);
    for (const std::string& folder : {dir.Path(), dir.File("别处")}) {
        std::filesystem::create_directories(std::filesystem::u8path(folder));
        auto r = RunProgram(COLLECTOR_CLI_PATH, {"clear"}, folder);
        EXPECT_EQ(r.code, 0) << r.err;
    }
    auto help = RunProgram(COLLECTOR_CLI_PATH, {"--help"}, dir.Path());
    ::unsetenv("XDG_DATA_HOME");
    EXPECT_EQ(platform::KindOf(data + "/collector/data.db"), platform::FileKind::Regular);
    EXPECT_NE((help.out + help.err).find(data + "/collector/data.db"), std::string::npos)
        << help.out << help.err;
}

TEST_F(CliTest, UsageMistakesExitWithTwo) {
    std::vector<std::vector<std::string>> cases = {
        {},
        {"nonsense"},
        {"precollect", "--bogus"},
        {"collect", "--industry", "x", "--start", "zero"},
        {"collect", "--industry", "x", "--start", "0"},
        {"collect", "--industry", "x", "--parallel", "0"},
        {"collect", "--industry", "x", "--parallel", "33"},
        {"collect", "--industry", "x", "--delay", "-1"},
        {"export", "out.txt"},
        {"export", "--format", "xls", "out.txt"},
        {"export", "--format", "csv"},
        {"export", "--format", "csv", "--since", "2026-13-01", "out.csv"},
        {"export", "--format", "csv", "--since", "yesterday", "out.csv"},
        {"export", "--format", "csv", "--columns", "some", "out.csv"},
        {"export", "--format", "csv", "--imported", "--new-today", "out.csv"},
        {"export", "--format", "csv", "--imported", "--since-last-run", "out.csv"},
        {"precollect", "--industry", "x", "--proxy", "ftp://127.0.0.1:21"},
        {"export", "--format", "csv", "--proxy", "http://127.0.0.1:1", "out.csv"},
        {"clear", "--industry", "x"},
    };
    // A setting past the window's bounds, one above each number the settings table has.
    for (const SettingSpec& setting : kSettings) {
        if (setting.option != nullptr) {
            cases.push_back({"collect", "--industry", "x", setting.option,
                             std::to_string(setting.bounds.high + 1LL)});
        }
    }
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
    // --proxy goes through the proxy it names, not the environment's (here one that is gone).
    portable::SetEnv("http_proxy", "http://127.0.0.1:9");
    r = Cli({"precollect", "--industry", "化工", "--region", "广东", "--proxy",
             "http://" + server.Origin()});
    server.UseAsProxy();
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "pages: 3\nmatches: 6\n");
}

TEST_F(CliTest, AProxyThatAsksForAPasswordIsNamed) {
    // Every answer comes from the proxy: 407 at the pre-collect, or from the first contact page.
    Reply auth;
    auth.status = 407;
    auth.body = "proxy authentication required";
    const std::string keyword = KeywordFor(Gbk("化工"), Gbk("广东"));
    server.Route(Strip(PreCollectAddress(keyword)), auth);
    auto r = Cli({"precollect", "--industry", "化工", "--region", "广东"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("代理服务器要求身份验证"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("网络连接失败"), std::string::npos) << r.err;

    server.Route("company.tarvola.com/athena/contact/gzhg.html", auth);
    r = Cli({"collect", "--industry", "化工", "--region", "广东", "--last", "3"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("代理服务器要求身份验证"), std::string::npos) << r.err;
    EXPECT_EQ(StoredRows(), 0);                                   // the run ended at once
    EXPECT_EQ(RecordStore(storePath).KeptFailures().size(), 0u);  // nothing kept
}

TEST_F(CliTest, CollectResumeExportClear) {
    auto r = Cli({"collect", "--industry", "化工", "--region", "广东"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.err.find("page 3 / 3, records 5"), std::string::npos) << r.err;
    EXPECT_EQ(StoredRows(), 5);
    EXPECT_EQ(RecordStore(storePath).LoadLastPageIndex(), 3);

    // Without --start a finished search is walked again from page 1 (known companies are
    // passed over); a walk short of its end (--last) resumes where it got to.
    struct Walk {
        std::vector<std::string> options;
        bool fromFirstPage;
        const char* progress;
    };
    const Walk week[] = {
        {{}, true, "page 3 / 3, records 0"},
        {{"--last", "2"}, true, "page 2 / 2, records 0"},
        {{}, false, "page 3 / 3, records 0"},
        {{}, true, "page 3 / 3, records 0"},
    };
    for (const Walk& w : week) {
        std::vector<std::string> args = {"collect", "--industry", "化工", "--region", "广东"};
        args.insert(args.end(), w.options.begin(), w.options.end());
        r = Cli(args);
        ASSERT_EQ(r.code, 0) << r.err;
        EXPECT_EQ(r.err.find("page 1 /") != std::string::npos, w.fromFirstPage) << r.err;
        EXPECT_NE(r.err.find(w.progress), std::string::npos) << r.err;
        EXPECT_EQ(StoredRows(), 5);
    }

    r = Cli({"collect", "--industry", "化工", "--region", "广东", "--start", "4", "--last", "3"});
    EXPECT_EQ(r.code, 2);

    // A search without hits has nothing to collect.
    r = Cli({"collect", "--industry", "无此行业"});
    EXPECT_EQ(r.code, 0);
    EXPECT_NE(r.err.find("没有找到符合条件的记录"), std::string::npos) << r.err;
    EXPECT_EQ(StoredRows(), 5);

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

    // An old lead imported today is not a new one.
    {
        std::ofstream old(FsPath(dir.File("old.csv")), std::ios::binary);
        old << "公司名称,联系人\r\n旧客户公司,赵六\r\n";
    }
    r = Cli({"import", "--encoding", "utf-8", dir.File("old.csv")});
    ASSERT_EQ(r.code, 0) << r.err;

    // Parts of the store: by the search that found a row, by the day it was collected, complete
    // rows only, imported rows; and the two columns of where a row came from.
    struct Part {
        std::vector<std::string> options;
        int rows;
    };
    const Part parts[] = {
        {{"--industry", "化工"}, 5},
        {{"--region", "广东", "--industry", "化工"}, 5},
        {{"--region", "浙江"}, 0},
        {{"--new-today"}, 5},
        {{"--since", "2000-01-01"}, 5},
        {{"--since", "2999-01-01"}, 0},
        {{"--imported"}, 1},
        {{"--imported", "--industry", "化工"}, 0},
        {{"--complete-only"}, 5},  // 佛山机械化工's page gives no contact; 赵六 does
    };
    for (const Part& p : parts) {
        std::vector<std::string> args = {"export", "--format", "csv"};
        args.insert(args.end(), p.options.begin(), p.options.end());
        args.push_back("-");
        r = Cli(args);
        EXPECT_EQ(r.code, 0) << r.err;
        EXPECT_NE(r.err.find("exported: " + std::to_string(p.rows)), std::string::npos)
            << ::testing::PrintToString(p.options) << r.err;
    }
    r = Cli({"export", "--format", "csv", "--encoding", "utf-8", "--columns", "all", "-"});
    ASSERT_EQ(r.code, 0) << r.err;
    const std::string first = r.out.substr(3, r.out.find("\r\n") - 3);
    ASSERT_EQ(std::count(first.begin(), first.end(), ','), 10) << first;
    const size_t search = first.rfind(',');
    const size_t time = first.rfind(',', search - 1);
    EXPECT_EQ(first.substr(search + 1), "化工-广东") << first;
    const std::string stored = first.substr(time + 1, search - time - 1);  // "2026-12-08 07:06:06"
    EXPECT_EQ(stored.size(), 19u) << first;
    EXPECT_EQ(stored.substr(0, 2), "20") << first;

    r = Cli({"collect", "--industry", "化工", "--region", "广东", "--last", "2"});
    ASSERT_EQ(r.code, 0) << r.err;
    r = Cli({"clear"});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(StoredRows(), 0);
    // The searches' walks go with their rows; the old single page stays.
    EXPECT_FALSE(LoadSearchWalk(*OpenStore(storePath), Gbk("化工^广东")).has_value());
    EXPECT_EQ(RecordStore(storePath).LoadLastPageIndex(), 2);
    r = Cli({"export", "--format", "text", dir.File("empty.txt")});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("没有任何可以导出的数据！"), std::string::npos);
}

TEST_F(CliTest, CollectInLanesStoresWhatOneLaneStores) {
    server.SetLatency(0, 20);
    auto r = Cli(
        {"collect", "--industry", "化工", "--region", "广东", "--parallel", "4", "--delay", "5"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.err.find("page 3 / 3, records 5, lanes 4"), std::string::npos) << r.err;
    EXPECT_EQ(StoredRows(), 5);
    RecordStore store(storePath);
    EXPECT_EQ(::StoredRows(store), FixtureSiteRows());  // the same rows in the same order
}

TEST_F(CliTest, FailuresAreNamedKeptAndRetried) {
    const std::string keyword = KeywordFor(Gbk("化工"), Gbk("广东"));
    Reply missing;
    missing.status = 404;
    // A pre-collect the site refuses says so, with its reason; it is no network failure.
    server.Route(Strip(PreCollectAddress(keyword)), missing);
    for (const char* command : {"precollect", "collect"}) {
        auto r = Cli({command, "--industry", "化工", "--region", "广东"});
        EXPECT_EQ(r.code, 1) << command;
        EXPECT_EQ(r.out, "");
        EXPECT_NE(r.err.find("页面不存在（HTTP 404），没有给出搜索结果"), std::string::npos)
            << r.err;
        EXPECT_EQ(r.err.find("网络连接失败"), std::string::npos) << r.err;
    }

    // A result page that fails: the run reaches its end, names the page and exits with 3.
    server.Route(Strip(ResultPageAddress(keyword, 2)), missing);
    auto r = Cli({"collect", "--industry", "化工", "--region", "广东", "--last", "3"});
    EXPECT_EQ(r.code, 3) << r.err;
    EXPECT_NE(r.err.find("未能获取：第 2 页 " + ResultPageAddress(keyword, 2) +
                         "（页面不存在（HTTP 404）"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(StoredRows(), 3);
    EXPECT_EQ(RecordStore(storePath).LoadLastPageIndex(), 3);

    // Healed: --retry-failed needs no condition, appends the page's companies once.
    ServeFixtureSite(server);
    r = Cli({"collect", "--retry-failed"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.err.find("操作成功完成！"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("page 1 / 1, records 2"), std::string::npos) << r.err;  // its one page
    EXPECT_EQ(StoredRows(), 5);
    r = Cli({"collect", "--retry-failed"});
    EXPECT_EQ(r.code, 0);
    EXPECT_NE(r.err.find("没有需要重试的页面。"), std::string::npos) << r.err;
    EXPECT_EQ(StoredRows(), 5);
}

TEST_F(CliTest, ExportNeverWritesOverTheStore) {
    auto r = Cli({"collect", "--industry", "化工", "--region", "广东", "--last", "1"});
    ASSERT_EQ(r.code, 0) << r.err;
    // The store by another spelling, its WAL companions (there or not), and the same file
    // through a hard link.
    std::filesystem::create_hard_link(storePath, dir.File("link.db"));
    for (const std::string& target :
         {storePath, dir.Path() + "/./data.db", dir.Path() + "//data.db", storePath + "-wal",
          storePath + "-shm", dir.File("link.db")}) {
        r = Cli({"export", "--format", "csv", target});
        EXPECT_EQ(r.code, 1) << target;
        EXPECT_NE(r.err.find("不能导出到数据库文件本身"), std::string::npos) << r.err;
        EXPECT_EQ(StoredRows(), 2) << target;
        EXPECT_EQ(RecordStore(storePath).LoadLastPageIndex(), 1);
    }
    // Anything else is written as usual; "-" is standard output, the count then on stderr.
    r = Cli({"export", "--format", "csv", dir.File("data.db.csv")});
    EXPECT_EQ(r.code, 0) << r.err;
    r = Cli({"export", "--format", "csv", "-"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, ReadFileBytes(dir.File("data.db.csv")));
    EXPECT_NE(r.err.find("exported: 2"), std::string::npos);
    r = Cli({"export", "--format", "xlsx", "-"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out.substr(0, 2), "PK");
    // A workbook named without an extension gets ".xlsx"; one named with any keeps its name.
    for (const auto& [given, written] :
         {std::pair<std::string, std::string>{"今天", "今天.xlsx"}, {"本周.book", "本周.book"}}) {
        r = Cli({"export", "--format", "xlsx", dir.File(given)});
        EXPECT_EQ(r.code, 0) << r.err;
        EXPECT_EQ(ReadFileBytes(dir.File(written)).substr(0, 2), "PK") << written;
    }
}

TEST_F(CliTest, InterruptedExportLeavesTheOldFileIntact) {
    {
        // A store big enough that the export is still running when it is stopped.
        RecordStore create(storePath);
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(storePath.c_str(), &db), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(db,
                               "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM n "
                               "WHERE i < 1500000) INSERT INTO T_MEMBER_CHINA (title, person, "
                               "address) SELECT '公司' || i, '联系人', '地址地址地址地址' FROM n",
                               nullptr, nullptr, nullptr),
                  SQLITE_OK);
        sqlite3_close(db);
    }
    const std::string target = dir.File("leads.csv");
    {
        std::ofstream old(target, std::ios::binary);
        old << "the previous export\r\n";
    }
    ChildProcess child(COLLECTOR_CLI_PATH,
                       {"--store", storePath, "export", "--format", "csv", target}, dir.Path());
    auto partFiles = [&] {
        int n = 0;
        for (const auto& e : std::filesystem::directory_iterator(dir.Path())) {
            n += e.path().filename().string().rfind("leads.csv.part", 0) == 0;
        }
        return n;
    };
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (partFiles() == 0 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    ASSERT_EQ(partFiles(), 1);
    child.Signal(SIGINT);
    EXPECT_EQ(child.Wait(), 130) << child.Stderr();
    EXPECT_EQ(ReadFileBytes(target), "the previous export\r\n");
    EXPECT_EQ(partFiles(), 0);
}

TEST_F(CliTest, InstalledProgramKeepsItsStoreInTheUsersDataFolder) {
    // The program in a folder its user cannot write, as after an installation: the store goes
    // to $XDG_DATA_HOME/collector/data.db, created when missing. Run as an ordinary user.
    const std::string bin = dir.File("bin");
    const std::string xdg = dir.File("xdg");
    std::filesystem::create_directories(bin);
    std::filesystem::create_directories(xdg);
    std::filesystem::copy_file(COLLECTOR_CLI_PATH, bin + "/collector-cli");
    std::filesystem::permissions(dir.Path(), std::filesystem::perms(0755));
    std::filesystem::permissions(bin, std::filesystem::perms(0555));
    std::filesystem::permissions(xdg, std::filesystem::perms(0777));
    std::string program = bin + "/collector-cli";
    std::vector<std::string> args = {"clear"};
    if (getuid() == 0) {
        args = {"--reuid=65534", "--regid=65534", "--clear-groups", program, "clear"};
        program = "/usr/bin/setpriv";
        if (!std::filesystem::exists(program)) {
            GTEST_SKIP() << "setpriv is needed to run as an ordinary user";
        }
    }
    setenv("XDG_DATA_HOME", xdg.c_str(), 1);
    auto r = RunProgram(program, args, dir.Path());
    unsetenv("XDG_DATA_HOME");
    std::filesystem::permissions(bin, std::filesystem::perms(0755));
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_TRUE(std::filesystem::exists(xdg + "/collector/data.db"));
    EXPECT_FALSE(std::filesystem::exists(bin + "/data.db"));
}

TEST_F(CliTest, ImportTakesTheOldProgramsDataAndOurOwnExport) {
    auto write = [&](const std::string& name, const std::string& bytes) {
        std::ofstream(dir.File(name), std::ios::binary) << bytes;
        return dir.File(name);
    };
    auto rows = [&] {
        std::vector<std::string> out;
        RecordStore(storePath).ForEachMemberRow([&](const RecordStore::RawRow& r) {
            std::string line;
            for (auto f : r) {
                line += std::string(f) + "|";
            }
            out.push_back(line);
        });
        return out;
    };
    // mdb-export's shape: a header, the id first, every text quoted; a comma, a quote and a
    // line break inside fields.
    const std::string mdb =
        "\"id\",\"title\",\"person\",\"sex\",\"job\",\"mobile\",\"phone\",\"fax\",\"address\","
        "\"zip\"\n"
        "1,\"广州化工有限公司\",\"陈明\",\"先生\",\"销售经理\",\"13800138000\",\"020-1\",\"\","
        "\"天河区, \"\"黄埔\"\"大道\",\"010000\"\n"
        "2,\"宁波模具\",\"\",\"\",\"\",\"\",\"\",\"\",\"北仑区\n明州路\",\"\"\n";
    auto r = Cli({"import", write("old.csv", mdb)});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "imported: 2\n");
    EXPECT_EQ(rows(), (std::vector<std::string>{
                          "广州化工有限公司|陈明|先生|销售经理|13800138000|020-1||天河区, "
                          "\"黄埔\"大道|010000|",
                          "宁波模具|||||||北仑区\n明州路||"}));

    // Our own export (GBK, no header) comes back as it went.
    r = Cli({"export", "--format", "csv", dir.File("ours.csv")});
    ASSERT_EQ(r.code, 0) << r.err;
    r = Cli({"clear"});
    r = Cli({"import", dir.File("ours.csv")});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(rows().size(), 2u);
    EXPECT_EQ(rows()[0].substr(0, 25), "广州化工有限公司|");

    // UTF-8 with a byte-order mark, the window's headers in another order, a column to ignore.
    r = Cli(
        {"import", write("bom.csv", "\xEF\xBB\xBF邮编,公司名称,备注\r\n518000,深圳电子,x\r\n")});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(rows().back(), "深圳电子||||||||518000|");

    // A bad line: named, and nothing of the file imported.
    const std::string bad = Gbk("甲,,,,,,,,\r\n乙,,,,,,,\r\n丙,,,,,,,,\r\n\"丁,,,,,,,,\r\n");
    r = Cli({"import", write("bad.csv", bad)});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("第 2 行：有 8 个字段，应为 9 个"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("第 4 行：引号没有结束"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("没有导入任何记录"), std::string::npos);
    EXPECT_EQ(rows().size(), 3u);
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

TEST_F(CliTest, EachSearchResumesAtItsOwnPage) {
    auto r = Cli({"collect", "--industry", "化工", "--region", "广东", "--last", "2"});
    ASSERT_EQ(r.code, 0) << r.err;
    // Another search, never met, starts at its first page whatever page the other reached.
    r = Cli({"collect", "--industry", "模具", "--no-skip-known"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.err.find("page 1 / 1, records 2"), std::string::npos) << r.err;
    // The first one goes on from its page 2.
    r = Cli({"collect", "--industry", "化工", "--region", "广东"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.err.find("page 1 /"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("page 3 / 3, records 1"), std::string::npos) << r.err;
    // The old single page of the file belongs to no search.
    {
        RecordStore store(storePath);
        store.SaveLastPageIndex(3);
    }
    r = Cli({"collect", "--industry", "化工", "--last", "3"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.err.find("page 1 / 3"), std::string::npos) << r.err;
}

namespace {

// A collect of the generated directory interrupted again and again (Ctrl+C or kill -9), then
// resumed without --start until it is done: every entry is stored exactly once.
struct Interruption {
    int lanes;
    int signal;
    bool postgres;
};

class InterruptedCollectTest : public CliTest, public ::testing::WithParamInterface<Interruption> {
  protected:
    void SetUp() override {
        if (GetParam().postgres) {
            std::string why;
            PgCluster* cluster = PgCluster::Shared(why);
            if (cluster == nullptr) {
                GTEST_SKIP() << "no PostgreSQL for this test: " << why;
            }
            storePath = cluster->NewDatabase();
        }
        CliTest::SetUp();
        ServeGeneratedSite(server, kPages, kPerPage);
        server.SetLatency(3, 6);
    }
    std::vector<std::string> Args() {
        return {"--store",    storePath,    "collect",
                "--industry", "塑料",       "--region",
                "广东",       "--parallel", std::to_string(GetParam().lanes),
                "--every",    "0",          "--timeout",
                "0"};
    }
    static constexpr int kPages = 10;
    static constexpr int kPerPage = 20;
};

}  // namespace

TEST_P(InterruptedCollectTest, EveryEntryIsStoredExactlyOnce) {
    // A shared store hands a killed collector's page to the next one when its lease has run out.
    ::setenv("COLLECTOR_LEASE_SECONDS", "1", 1);
    for (int i = 0; i < 6; ++i) {
        ChildProcess child(COLLECTOR_CLI_PATH, Args(), dir.Path());
        std::this_thread::sleep_for(std::chrono::milliseconds(120 + 90 * i));
        child.Signal(GetParam().signal);
        const int code = child.Wait();
        EXPECT_TRUE(code == 0 || code == 130 || code == 128 + SIGKILL) << child.Stderr();
        if (GetParam().signal == SIGKILL && GetParam().postgres) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1100));
        }
    }
    auto r = RunProgram(COLLECTOR_CLI_PATH, Args(), dir.Path());
    ::unsetenv("COLLECTOR_LEASE_SECONDS");
    EXPECT_EQ(r.code, 0) << r.err;
    std::vector<std::string> titles;
    for (const MemberRecord& row : ::StoredRows(*OpenStore(storePath))) {
        titles.push_back(row.title);
    }
    std::vector<std::string> expected = GeneratedTitles(1, kPages, kPerPage);
    if (GetParam().postgres) {
        // Collectors of a shared search store pages in the order they claim them.
        std::sort(titles.begin(), titles.end());
        std::sort(expected.begin(), expected.end());
    }
    EXPECT_EQ(titles, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Resumes, InterruptedCollectTest,
    ::testing::Values(Interruption{1, SIGINT, false}, Interruption{8, SIGINT, false},
                      Interruption{1, SIGKILL, false}, Interruption{8, SIGKILL, false},
                      Interruption{1, SIGINT, true}, Interruption{8, SIGINT, true},
                      Interruption{1, SIGKILL, true}, Interruption{8, SIGKILL, true}),
    [](const ::testing::TestParamInfo<Interruption>& info) {
        return std::string(info.param.postgres ? "postgres" : "file") + "_lanes" +
               std::to_string(info.param.lanes) +
               (info.param.signal == SIGINT ? "_ctrlc" : "_kill");
    });

namespace {

// collector-cli processes sharing one PostgreSQL store over the generated directory.
class SharedStoreCliTest : public CliTest {
  protected:
    void SetUp() override {
        std::string why;
        cluster = PgCluster::Shared(why);
        if (cluster == nullptr) {
            GTEST_SKIP() << "no PostgreSQL for this test: " << why;
        }
        CliTest::SetUp();
        ServeGeneratedSite(server, kPages, 8);
        uri = cluster->NewDatabase();
    }
    // A proxy with a password of its own (the stand-in takes any).
    std::unique_ptr<ChildProcess> Collector() {
        return std::make_unique<ChildProcess>(
            COLLECTOR_CLI_PATH,
            std::vector<std::string>{"--store", uri, "collect", "--industry", "塑料", "--region",
                                     "广东", "--last", std::to_string(kPages), "--every", "0",
                                     "--timeout", "0", "--proxy",
                                     "http://agent:proxy-secret@" + server.Origin()},
            dir.Path());
    }
    std::vector<std::string> Titles() {
        std::vector<std::string> titles;
        for (const MemberRecord& r : ::StoredRows(*OpenStore(uri))) {
            titles.push_back(r.title);
        }
        std::sort(titles.begin(), titles.end());
        return titles;
    }
    std::vector<std::string> Expected() {
        std::vector<std::string> t = GeneratedTitles(1, kPages, 8);
        std::sort(t.begin(), t.end());
        return t;
    }

    static constexpr int kPages = 10;
    PgCluster* cluster = nullptr;
    std::string uri;
};

}  // namespace

TEST_F(SharedStoreCliTest, FourCollectorsStoreEveryCompanyOnce) {
    // A pre-collect registers the search's pages for the collectors that join it.
    auto pre = RunProgram(COLLECTOR_CLI_PATH,
                          {"--store", uri, "precollect", "--industry", "塑料", "--region", "广东"},
                          dir.Path());
    ASSERT_EQ(pre.code, 0) << pre.err;
    {
        PgRecordStore store(uri);
        const std::int64_t search = store.RegisterSearch(Gbk("塑料"), Gbk("广东"), 1);
        EXPECT_EQ(store.PagesLeft(search, 1, 1000), kPages);
    }
    server.SetLatency(5, 10);
    std::vector<std::unique_ptr<ChildProcess>> collectors;
    for (int i = 0; i < 4; ++i) {
        collectors.push_back(Collector());
    }
    for (auto& c : collectors) {
        EXPECT_EQ(c->Wait(), 0) << c->Stderr();
        EXPECT_EQ(c->Stderr().find(PgCluster::kPassword), std::string::npos);
        // Each shows the pages done by all of them at its end.
        EXPECT_NE(c->Stderr().find("page 10 / 10"), std::string::npos) << c->Stderr();
    }
    EXPECT_EQ(Titles(), Expected());
    EXPECT_EQ(OpenStore(uri)->LoadLastPageIndex(), kPages);

    // A store that cannot be reached is named without its password.
    auto r = Cli({"--store", cluster->Uri("no_such_db"), "clear"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("no_such_db"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find(PgCluster::kPassword), std::string::npos) << r.err;
}

TEST_F(SharedStoreCliTest, AKilledCollectorsPageIsClaimedAgainWhenItsLeaseRunsOut) {
    ::setenv("COLLECTOR_LEASE_SECONDS", "1", 1);
    server.SetLatency(40);
    auto killed = Collector();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (::StoredRows(*OpenStore(uri)).size() < 3 &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    killed->Signal(SIGKILL);
    EXPECT_EQ(killed->Wait(), 128 + SIGKILL);
    server.SetLatency(0);
    auto survivor = Collector();
    EXPECT_EQ(survivor->Wait(), 0) << survivor->Stderr();
    ::unsetenv("COLLECTOR_LEASE_SECONDS");
    EXPECT_EQ(Titles(), Expected());  // the page in hand walked again, nothing twice
}

TEST_F(SharedStoreCliTest, AFrozenServerOrCtrlCNeverHoldsACommandAndNoPasswordShows) {
    ::setenv("COLLECTOR_DB_DEADLINE_SECONDS", "2", 1);
    server.SetLatency(40);
    auto collector = Collector();
    // The password of the URI was read and is no longer in the argument list `ps` shows.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (::StoredRows(*OpenStore(uri)).size() < 3 &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::ifstream cmdline("/proc/" + std::to_string(collector->Pid()) + "/cmdline");
    const std::string args((std::istreambuf_iterator<char>(cmdline)),
                           std::istreambuf_iterator<char>());
    EXPECT_NE(args.find("collect"), std::string::npos);
    EXPECT_EQ(args.find(PgCluster::kPassword), std::string::npos) << args;
    EXPECT_EQ(args.find("proxy-secret"), std::string::npos) << args;
    EXPECT_NE(args.find("http://agent:"), std::string::npos) << args;

    // The server's processes stop: the collect ends as a store failure, not a hang.
    cluster->Freeze(true);
    auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(collector->Wait(), 1) << collector->Stderr();
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(30));
    EXPECT_NE(collector->Stderr().find("数据库无响应"), std::string::npos) << collector->Stderr();
    EXPECT_NE(collector->Stderr().find("警告：数据库地址中写有密码"), std::string::npos);
    EXPECT_EQ(collector->Stderr().find(PgCluster::kPassword), std::string::npos);

    // Ctrl+C ends a command waiting on the frozen server at once.
    for (const char* command : {"clear", "export"}) {
        SCOPED_TRACE(command);
        std::vector<std::string> args{"--store", uri, command};
        if (std::string(command) == "export") {
            args.insert(args.end(), {"--format", "csv", dir.File("out.csv")});
        }
        ChildProcess child(COLLECTOR_CLI_PATH, args, dir.Path());
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        started = std::chrono::steady_clock::now();
        child.Signal(SIGINT);
        EXPECT_EQ(child.Wait(), 130) << child.Stderr();
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(2500));
    }
    cluster->Freeze(false);
    ::unsetenv("COLLECTOR_DB_DEADLINE_SECONDS");

    // A setting read from the environment is read strictly.
    ::setenv("COLLECTOR_LEASE_SECONDS", "2m", 1);
    auto r =
        RunProgram(COLLECTOR_CLI_PATH,
                   {"--store", uri, "collect", "--industry", "塑料", "--last", "1"}, dir.Path());
    ::unsetenv("COLLECTOR_LEASE_SECONDS");
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("COLLECTOR_LEASE_SECONDS"), std::string::npos) << r.err;
}

TEST_F(CliTest, AGbkExportThatWouldLoseCharactersWritesNothing) {
    RecordStore(storePath).ImportRows({{"甲公司"}, {"Straße GmbH"}});
    auto r = Cli({"export", "--format", "csv", "-"});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.out, "");  // looked at before the first byte went out
    EXPECT_NE(r.err.find("第 2 条（Straße GmbH）"), std::string::npos) << r.err;
    r = Cli({"export", "--format", "csv", "--encoding", "utf-8", "-"});
    EXPECT_EQ(r.code, 0);
    EXPECT_NE(r.out.find("Straße GmbH"), std::string::npos);
}

TEST_F(SharedStoreCliTest, ASharedSearchWithAKeptPageNeverEndsAsDoneAndIsNotClearedFromUnderIt) {
    // Page 3 answers 500 for good: every collect of the search says so, now and later.
    standin::Reply broken;
    broken.status = 500;
    server.Route(Strip(ResultPageAddress(KeywordFor(Gbk("塑料"), Gbk("广东")), 3)), broken);
    for (int run = 0; run < 2; ++run) {
        SCOPED_TRACE("run " + std::to_string(run));
        auto c = Collector();
        EXPECT_EQ(c->Wait(), 3) << c->Stderr();
        EXPECT_NE(c->Stderr().find("第 3 页"), std::string::npos) << c->Stderr();
        EXPECT_EQ(c->Stderr().find("操作成功完成"), std::string::npos) << c->Stderr();
    }
    server.Unroute(Strip(ResultPageAddress(KeywordFor(Gbk("塑料"), Gbk("广东")), 3)));

    // A clear while another collector works is refused, unless forced; the collector whose
    // search vanished stops, never calling the walk done.
    auto r = Cli({"--store", uri, "clear"});
    EXPECT_EQ(r.code, 0) << r.err;  // nobody at work
    server.SetLatency(150);         // a walk of some 15 s: the two clears come well within it
    auto working = Collector();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (::StoredRows(*OpenStore(uri)).size() < 2 &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    r = Cli({"--store", uri, "clear"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("有 1 个采集器正在使用这个共享数据库"), std::string::npos) << r.err;
    EXPECT_GE(::StoredRows(*OpenStore(uri)).size(), size_t{2});
    r = Cli({"--store", uri, "clear", "--force"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(working->Wait(), 1) << working->Stderr();
    EXPECT_NE(working->Stderr().find("搜索已被清除"), std::string::npos) << working->Stderr();
    // None of the rows it had in hand is left in the cleared store.
    EXPECT_EQ(::StoredRows(*OpenStore(uri)).size(), 0u);
}

TEST_F(SharedStoreCliTest, ACollectorStaysRegisteredThroughOneSlowAnswer) {
    // Every answer takes 7 s: the registration is renewed while a fetch waits (every 5 s),
    // so a clear is refused all along, not only between fetches.
    server.SetLatency(7000);
    auto working = Collector();
    PgRecordStore store(uri);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (store.WorkingCollectors(std::chrono::seconds(60)) == 0 &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(6500));  // inside the first page
    EXPECT_EQ(store.WorkingCollectors(std::chrono::seconds(6)), 1);
    working->Signal(SIGKILL);
    working->Wait();
}

TEST_F(CliTest, TwoRetriesAtOnceFetchAndStoreEachFailureOnce) {
    ServeGeneratedSite(server, 3, 8);
    const std::string page2 = Strip(ResultPageAddress(KeywordFor(Gbk("塑料"), Gbk("广东")), 2));
    std::vector<std::string> stores{storePath};
    std::string why;
    if (PgCluster* cluster = PgCluster::Shared(why)) {
        stores.push_back(cluster->NewDatabase());
    }
    for (const std::string& store : stores) {
        SCOPED_TRACE(store.substr(0, 10));
        standin::Reply broken;
        broken.status = 500;
        server.Route(page2, broken);
        auto r = RunProgram(COLLECTOR_CLI_PATH,
                            {"--store", store, "collect", "--industry", "塑料", "--region", "广东",
                             "--last", "3", "--timeout", "0"},
                            dir.Path());
        EXPECT_EQ(r.code, 3) << r.err;
        server.Unroute(page2);
        server.SetLatency(150);
        server.ClearRequests();
        ChildProcess a(COLLECTOR_CLI_PATH, {"--store", store, "collect", "--retry-failed"},
                       dir.Path());
        ChildProcess b(COLLECTOR_CLI_PATH, {"--store", store, "collect", "--retry-failed"},
                       dir.Path());
        // The one that finds the failure held by the other cannot call it done while it is
        // kept: 3 then, 0 once the other has healed it.
        for (ChildProcess* c : {&a, &b}) {
            const int code = c->Wait();
            EXPECT_TRUE(code == 0 || code == 3) << c->Stderr();
        }
        server.SetLatency(0);
        int fetched = 0;
        for (const standin::Request& q : server.Requests()) {
            fetched += q.key == page2 ? 1 : 0;
        }
        EXPECT_EQ(fetched, 1);
        std::vector<std::string> titles;
        for (const MemberRecord& row : ::StoredRows(*OpenStore(store))) {
            titles.push_back(row.title);
        }
        std::sort(titles.begin(), titles.end());
        std::vector<std::string> expected = GeneratedTitles(1, 3, 8);
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(titles, expected);
        EXPECT_EQ(OpenStore(store)->CountKeptFailures(), 0);
    }
}

TEST_F(CliTest, ImportNeverGuessesAnEncodingNorDoublesAFile) {
    auto write = [&](const std::string& name, const std::string& bytes) {
        std::ofstream(dir.File(name), std::ios::binary) << bytes;
        return dir.File(name);
    };
    // 女士 in GBK is also valid UTF-8: the choice is the user's.
    const std::string both = write("both.csv", Gbk("女士") + ",,,,,,,,\r\n");
    auto r = Cli({"import", both});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("--encoding gbk"), std::string::npos) << r.err;
    EXPECT_EQ(StoredRows(), 0);
    r = Cli({"import", "--encoding", "gbk", both});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "imported: 1\n");
    // The same file again adds nothing unless every row is asked for.
    r = Cli({"import", "--encoding", "gbk", both});
    EXPECT_EQ(r.out, "imported: 0\n");
    EXPECT_NE(r.err.find("跳过已有的公司 1 家"), std::string::npos) << r.err;
    r = Cli({"import", "--encoding", "gbk", "--no-skip-known", both});
    EXPECT_EQ(r.out, "imported: 1\n");
    EXPECT_EQ(StoredRows(), 2);
    // Thirty bad lines: the first twenty are named, then how many more.
    std::string bad;
    for (int i = 0; i < 30; ++i) {
        bad += "a,b\n";
    }
    r = Cli({"import", write("bad.csv", bad)});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("第 20 行"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("第 21 行"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("还有 10 行有错误"), std::string::npos) << r.err;
    EXPECT_EQ(StoredRows(), 2);
}

TEST_F(SharedStoreCliTest, ASharedSearchThatShrankEndsForEveryLane) {
    // Pages 4 to 10 answer with no entries and totals that end at page 3: the walk ends there
    // (read-ahead pages are handed back, the later pages done for every collector).
    const std::string keyword = KeywordFor(Gbk("塑料"), Gbk("广东"));
    Reply ended;
    ended.body = Gbk("共找到 24 条符合 <span class=\"total-page\">共3页</span>");
    for (int p = 4; p <= kPages; ++p) {
        server.Route(Strip(ResultPageAddress(keyword, p)), ended);
    }
    server.SetLatency(5, 20);
    ChildProcess collector(
        COLLECTOR_CLI_PATH,
        {"--store", uri, "collect", "--industry", "塑料", "--region", "广东", "--last",
         std::to_string(kPages), "--parallel", "4", "--every", "0", "--timeout", "0"},
        dir.Path());
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (::StoredRows(*OpenStore(uri)).size() < 24 &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_EQ(collector.WaitOrKill(std::chrono::seconds(60)), 0) << collector.Stderr();
    std::vector<std::string> expected = GeneratedTitles(1, 3, 8);
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(Titles(), expected);
}

#if !defined(_WIN32) && !defined(__SANITIZE_ADDRESS__)
TEST_F(CliTest, TheWeekOfASalesPersonDayByDay) {
    // The same search every day under faketime (the program's own clock, not a hook of ours):
    // new companies are listed first; a finished walk starts again at page 1; 自上次采集以来
    // and --new-today hold what the day brought; an import is never a new lead.
    const std::string faketime = "/usr/bin/faketime";
    if (::access(faketime.c_str(), X_OK) != 0) {
        GTEST_SKIP() << "faketime is not installed (scripts/install-deps installs it)";
    }
    GrowingSite site;
    site.count = 10;
    site.perPage = 5;
    site.Serve(server);
    ::setenv("DONT_FAKE_MONOTONIC", "1", 1);
    auto on = [&](int day, std::vector<std::string> args) {
        args.insert(args.begin(), {"-f", "@2030-01-0" + std::to_string(day) + " 09:00:00",
                                   COLLECTOR_CLI_PATH, "--store", storePath});
        return RunProgram(faketime, args, dir.Path());
    };
    auto exported = [&](int day, const std::string& part) {
        const RunResult r = on(day, {"export", "--format", "csv", part, "-"});
        EXPECT_EQ(r.code, 0) << r.err;
        const size_t at = r.err.find("exported: ");
        return at == std::string::npos ? -1 : std::atoi(r.err.c_str() + at + 10);
    };
    struct Day {
        int day;
        int added;  // companies listed since the first day, newest first
        bool import;
        int stored;  // rows in the store after the day's collect
        int newToday;
        int sinceLastRun;
    };
    const Day days[] = {
        {1, 0, false, 10, 10, 10},
        {2, 3, false, 13, 3, 3},
        {3, 3, true, 13, 0, 0},  // nothing new; the old tool's leads come back by import
        {4, 5, false, 15, 2, 2},
    };
    for (const Day& d : days) {
        SCOPED_TRACE(d.day);
        *site.added = d.added;
        RunResult r = on(d.day, {"collect", "--industry", "涂料", "--region", "广东"});
        ASSERT_EQ(r.code, 0) << r.err;
        EXPECT_NE(r.err.find("page 1 /"), std::string::npos) << r.err;
        if (d.import) {
            std::ofstream old(FsPath(dir.File("old.csv")), std::ios::binary);
            old << "公司名称,联系人\r\n旧客户公司,赵六\r\n";
            old.close();
            ASSERT_EQ(on(d.day, {"import", "--encoding", "utf-8", dir.File("old.csv")}).code, 0);
        }
        EXPECT_EQ(StoredRows(), d.stored + (d.day >= 3 ? 1 : 0));
        EXPECT_EQ(exported(d.day, "--new-today"), d.newToday);
        EXPECT_EQ(exported(d.day, "--since-last-run"), d.sinceLastRun);
        const RunRecord run = RecordStore(storePath).Runs(1).front();
        EXPECT_EQ(run.started.substr(0, 10), "2030-01-0" + std::to_string(d.day));
        EXPECT_EQ(run.how, kByCommandLine);
        EXPECT_TRUE(run.finished);
        EXPECT_EQ(run.newRows, d.newToday);
    }
    EXPECT_EQ(exported(4, "--imported"), 1);
    EXPECT_EQ(RecordStore(storePath).Runs(10).size(), 4u);
}
#endif
