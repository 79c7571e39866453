// The two stores side by side: the same operations on a SQLite file and on a PostgreSQL
// database of a throwaway cluster give the same answers and the same exported bytes; a run
// collects into PostgreSQL as into a file; a password never shows.

#include <gtest/gtest.h>

#include <chrono>
#include <memory>

#include "DirectorySite.h"
#include "PgCluster.h"
#include "StoredRows.h"
#include "TempDir.h"
#include "crawl/CollectSession.h"
#include "crawl/EventQueue.h"
#include "store/ExportRecords.h"
#include "store/PgRecordStore.h"
#include "store/RecordStore.h"

using namespace standin;
using std::chrono::milliseconds;
using std::chrono::seconds;

namespace {

class PgStoreTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string why;
        cluster = PgCluster::Shared(why);
        if (cluster == nullptr) {
            GTEST_SKIP() << "no PostgreSQL for this test: " << why;
        }
    }
    PgCluster* cluster = nullptr;
    TempDir dir;
};

MemberRecord Record(const char* title, const char* person, const char* contact,
                    const char* region = "广东") {
    MemberRecord r;
    r.title = Gbk(title);
    r.person = Gbk(person);
    r.contact = contact;
    r.region = Gbk(region);
    return r;
}

// One store's answers to a fixed sequence of operations, written out as text.
std::string Exercise(IRecordStore& store, const std::string& csvPath) {
    std::string log;
    auto note = [&](const std::string& what, const std::string& value) {
        log += what + "=" + value + "\n";
    };
    note("empty", store.HasMemberRecords() ? "no" : "yes");
    note("page", std::to_string(store.LoadLastPageIndex()));
    store.SaveLastPageIndex(7);
    store.SaveSetting("lastindustry", "化工");
    store.SaveSetting("lastindustry", "塑料");
    note("page", std::to_string(store.LoadLastPageIndex()));
    note("industry", store.LoadSetting("lastindustry").value_or("-"));
    note("missing", store.LoadSetting("nothing").value_or("-"));

    const std::int64_t a =
        store.AppendMemberRecord(Record("广州化工有限公司", "陈明", "http://c/gzhg.html"));
    store.AppendMemberRecord(Record("宁波模具, \"化工\"", "李娜", "http://c/nbmj.html"));
    note("byId", text::GbkToUtf8(store.MemberRecordById(a)->person));
    note("newest", text::GbkToUtf8(store.NewestMemberRecord()->title));
    note("known by contact", store.IsKnownCompany("http://c/gzhg.html", "", "") ? "y" : "n");
    note("known by name",
         store.IsKnownCompany("", Gbk("广州化工有限公司 "), Gbk("广东")) ? "y" : "n");
    note("other region",
         store.IsKnownCompany("", Gbk("广州化工有限公司"), Gbk("浙江")) ? "y" : "n");
    note("has contact", store.HasContact("http://c/nbmj.html", "") ? "y" : "n");

    // A contact page that failed keeps the company's row; a later success fills it.
    KeptFailure f;
    f.kind = KeptFailure::Kind::ContactPage;
    f.page = 2;
    f.address = "http://c/szdz.html";
    f.title = Gbk("深圳电子化工厂");
    f.condition = Gbk("化工^广东");
    f.reason = "HTTP 503";
    f.tries = 3;
    MemberRecord placeholder = Record("深圳电子化工厂", "", "http://c/szdz.html");
    store.KeepFailure(f, &placeholder);
    f.tries = 6;
    store.KeepFailure(f);  // kept again: the same failure, its row kept
    KeptFailure page;
    page.address = "http://s/p3.html";
    page.page = 3;
    page.reason = "HTTP 500";
    store.KeepFailure(page);
    note("kept", std::to_string(store.CountKeptFailures()));
    for (const KeptFailure& k : store.KeptFailures()) {
        note("failure", std::string(KindName(k.kind)) + " " + std::to_string(k.page) + " " +
                            k.address + " " + text::GbkToUtf8(k.title) + " " + k.reason + " " +
                            std::to_string(k.tries) + " row " + std::to_string(k.rowId != 0));
    }
    note("dropped", std::to_string(store.DropFailureAt(KeptFailure::Kind::ResultPage,
                                                       "http://s/p3.html") != 0));
    note("dropped again",
         std::to_string(store.DropFailureAt(KeptFailure::Kind::ResultPage, "http://s/p3.html")));
    MemberRecord full = Record("深圳电子化工厂", "王强", "http://c/szdz.html");
    const KeptFailure kept = store.KeptFailures().front();
    note("filled same row",
         std::to_string(store.FillMemberRecord(kept.rowId, full, kept.id) == kept.rowId));
    note("kept", std::to_string(store.CountKeptFailures()));

    store.ImportRows({{"导入公司", "赵六", "", "", "", "", "", "", ""},
                      {"广州化工有限公司", "新人", "", "", "", "", "", "", ""}});
    int newest = 0;
    store.NewestMemberRecords([&](const MemberRecord&) { ++newest; });
    note("newest rows", std::to_string(newest));
    note("exported", std::to_string(ExportRecords(store, csvPath, EXPORT_FORMAT_CSV,
                                                  ExportEncoding::Utf8Bom, nullptr, false)));
    note("unique", std::to_string(ExportRecords(store, csvPath + ".u", EXPORT_FORMAT_CSV,
                                                ExportEncoding::Utf8Bom, nullptr, true)));
    std::atomic<bool> cancel{true};
    note("clear cancelled", store.ClearMemberRecords(&cancel) ? "no" : "yes");
    note("clear", store.ClearMemberRecords() ? "yes" : "no");
    note("empty", store.HasMemberRecords() ? "no" : "yes");
    note("kept", std::to_string(store.CountKeptFailures()));
    return log;
}

}  // namespace

TEST_F(PgStoreTest, BothStoresGiveTheSameAnswersAndTheSameFiles) {
    RecordStore file(dir.File("data.db"));
    const std::string fromFile = Exercise(file, dir.File("file.csv"));
    auto pg = OpenStore(cluster->NewDatabase());
    ASSERT_NE(dynamic_cast<PgRecordStore*>(pg.get()), nullptr);
    const std::string fromPg = Exercise(*pg, dir.File("pg.csv"));
    EXPECT_EQ(fromPg, fromFile);
    EXPECT_NE(fromFile.find("failure=contact 2 http://c/szdz.html 深圳电子化工厂 HTTP 503 6 row 1"),
              std::string::npos)
        << fromFile;
    EXPECT_EQ(ReadFileBytes(dir.File("pg.csv")), ReadFileBytes(dir.File("file.csv")));
    EXPECT_EQ(ReadFileBytes(dir.File("pg.csv.u")), ReadFileBytes(dir.File("file.csv.u")));
    EXPECT_NE(ReadFileBytes(dir.File("pg.csv")).find("\"宁波模具, \"\"化工\"\"\""),
              std::string::npos);
}

TEST_F(PgStoreTest, ACollectRunStoresIntoPostgresAsIntoAFile) {
    Server server;
    server.UseAsProxy();
    ServeFixtureSite(server);
    auto store = OpenStore(cluster->NewDatabase());
    SteadyClock clock;
    auto queue = std::make_shared<EventQueue>();
    CollectSession session(clock, queue);
    CollectRequest request;
    request.condition = FixtureCondition();
    request.lastPage = 3;
    request.pacing = {0, 0, 0};
    session.StartCollect(request, *store);
    std::optional<RunEnd> end;
    const auto deadline = std::chrono::steady_clock::now() + seconds(30);
    while (!end && std::chrono::steady_clock::now() < deadline) {
        if (auto event = queue->Take(milliseconds(50))) {
            SessionUpdate u = session.Handle(*event);
            if (u.kind == SessionUpdate::Kind::RunEnded) {
                end = u.end;
            }
        }
    }
    ASSERT_TRUE(end.has_value());
    EXPECT_EQ(end->how, RunEnd::How::Finished);
    EXPECT_EQ(StoredRows(*store), FixtureSiteRows());
    EXPECT_EQ(store->LoadLastPageIndex(), 3);
}

TEST_F(PgStoreTest, APasswordNeverShows) {
    const std::string uri = cluster->Uri("no_such_database");
    ASSERT_NE(uri.find(PgCluster::kPassword), std::string::npos);
    try {
        PgRecordStore store(uri);
        FAIL() << "a missing database opened";
    } catch (const StoreError& e) {
        const std::string message = e.what();
        EXPECT_EQ(message.find(PgCluster::kPassword), std::string::npos) << message;
        EXPECT_NE(message.find("no_such_database"), std::string::npos) << message;
    }
    const std::pair<const char*, const char*> cases[] = {
        {"postgresql://u:pw@h:5432/db", "postgresql://u:***@h:5432/db"},
        {"postgresql://u@h/db?password=pw&sslmode=disable",
         "postgresql://u@h/db?password=***&sslmode=disable"},
        {"postgres://h/db", "postgres://h/db"},
        {"/home/user/data.db", "/home/user/data.db"},
    };
    for (const auto& [in, out] : cases) {
        EXPECT_EQ(RedactPassword(in), out);
    }
}
