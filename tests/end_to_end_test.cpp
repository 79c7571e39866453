#include <gtest/gtest.h>

#include "CrawlRun.h"
#include "DirectorySite.h"
#include "StoredRows.h"
#include "TempDir.h"
#include "crawl/CrawlWorker.h"
#include "crawl/EventQueue.h"
#include "store/ExportRecords.h"
#include "store/RecordStore.h"

using namespace crawl;
using namespace store;

using namespace standin;

namespace {

class EndToEnd : public ::testing::Test {
  protected:
    void SetUp() override {
        server.UseAsProxy();
        ServeFixtureSite(server);
        store = std::make_unique<RecordStore>(dir.File("data.db"));
    }
    std::vector<EventNote> Run(int mode, int start, int last) {
        return RunFixtureJob(mode, start, last, store->Path(), word);
    }
    std::vector<MemberRecord> Rows() { return StoredRows(*store); }

    Server server;
    TempDir dir;
    std::unique_ptr<RecordStore> store;
    std::shared_ptr<RunControlWord> word = std::make_shared<RunControlWord>(RunState::Empty);
};

}  // namespace

TEST_F(EndToEnd, PreCollectThenCollectStoresEveryCompany) {
    auto pre = Run(CRAWL_MODE_PRECOLLECT, 1, 1);
    ASSERT_EQ(pre.size(), 1u);
    EXPECT_EQ(pre[0].message, WM_CRAWL_PRECOLLECTED);
    EXPECT_EQ(pre[0].wParam, 3);
    EXPECT_EQ(pre[0].lParam, 6);

    auto notes = Run(CRAWL_MODE_COLLECT, 1, 3);
    EXPECT_EQ(Rows(), FixtureSiteRows());
    ASSERT_FALSE(notes.empty());
    EXPECT_EQ(notes.back().message, WM_CRAWL_FINISHED);
    int saved = 0;
    for (auto& n : notes) {
        if (n.message == WM_CRAWL_RECORD_SAVED) {
            EXPECT_EQ(n.lParam, ++saved);
            EXPECT_EQ(store->MemberRecordById(n.rowId)->title,
                      text::Utf8ToGbk(FixtureSiteRows()[saved - 1].title));
        }
    }
    EXPECT_EQ(saved, 5);

    // The export of what was collected: GBK, CR LF, the address with a comma quoted.
    ExportRecords(*store, dir.File("out.csv"), EXPORT_FORMAT_CSV);
    std::string csv = text::GbkToUtf8(ReadFileBytes(dir.File("out.csv")));
    EXPECT_NE(csv.find("深圳电子化工厂,王强,先生,总经理,13900000000,0755-26660000,0755-26660001,"
                       "\"深圳市南山区科技园, 北区\",518000\r\n"),
              std::string::npos);
    EXPECT_NE(csv.find("\r\n佛山机械化工,,,,,,,,\r\n"), std::string::npos);
}

TEST_F(EndToEnd, ResumeFromAStoredPage) {
    store->SaveLastPageIndex(3);
    Run(CRAWL_MODE_COLLECT, store->LoadLastPageIndex(), 3);
    auto rows = Rows();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0], FixtureSiteRows()[4]);
}

TEST_F(EndToEnd, StopBetweenTwoCompanies) {
    // Stop is written while the first company's contact page is being answered: by the
    // server itself, before it answers, so no thread's wake-up decides the outcome.
    const std::string contact = "company.tarvola.com/athena/contact/gzhg.html";
    server.Unroute(contact);
    server.Fallback([&](const standin::Request& r) {
        Reply reply;
        if (r.key == contact) {
            word->store(RunState::Stop);
            reply.body = GbkFixture("contact-more.html");
        } else {
            reply.status = 404;
        }
        return reply;
    });
    auto notes = Run(CRAWL_MODE_COLLECT, 1, 3);
    auto rows = Rows();
    ASSERT_EQ(rows.size(), 1u);  // the company in hand is finished and stored
    EXPECT_EQ(rows[0], FixtureSiteRows()[0]);
    ASSERT_EQ(notes.size(), 2u);
    EXPECT_EQ(notes[1].message, WM_CRAWL_RECORD_SAVED);
}
