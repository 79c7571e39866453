// The Windows build against a PostgreSQL server that runs elsewhere (scripts/build-windows
// starts one on Linux and names it in COLLECTOR_TEST_PG_URI): a collect run stores into it and
// an export of it reads back, through the Windows libpq and sockets.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <optional>

#include "DirectorySite.h"
#include "StoredRows.h"
#include "TempDir.h"
#include "crawl/CollectSession.h"
#include "crawl/EventQueue.h"
#include "store/ExportRecords.h"
#include "store/PgRecordStore.h"

using namespace standin;
using std::chrono::milliseconds;
using std::chrono::seconds;

TEST(PgSmokeTest, ACollectRunStoresIntoAServerElsewhereAndExportsFromIt) {
    // A copy: setting the proxy below changes the environment the pointer is into.
    const char* given = std::getenv("COLLECTOR_TEST_PG_URI");
    const std::string uri = given != nullptr ? given : "";
    ASSERT_FALSE(uri.empty()) << "COLLECTOR_TEST_PG_URI names no database (scripts/build-windows "
                                 "sets it)";
    Server server;
    server.UseAsProxy();
    ServeFixtureSite(server);
    auto store = OpenStore(uri);
    ASSERT_NE(dynamic_cast<PgRecordStore*>(store.get()), nullptr);
    store->ClearMemberRecords();

    SteadyClock clock;
    auto queue = std::make_shared<EventQueue>();
    CollectSession session(clock, queue);
    CollectRequest request;
    request.condition = FixtureCondition();
    request.lastPage = 3;
    request.pacing = {0, 0, 0};
    session.StartCollect(request, *store);
    std::optional<RunEnd> end;
    const auto deadline = std::chrono::steady_clock::now() + seconds(60);
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
    const auto rows = StoredRows(*store);
    EXPECT_EQ(rows, FixtureSiteRows());

    TempDir dir;
    const std::string csv = dir.File("导出.csv");
    EXPECT_EQ(
        ExportRecords(*store, csv, EXPORT_FORMAT_CSV, ExportEncoding::Utf8Bom, nullptr, false),
        static_cast<std::int64_t>(rows.size()));
    ASSERT_FALSE(rows.empty());
    EXPECT_NE(ReadFileBytes(csv).find(rows.front().title), std::string::npos);
}
