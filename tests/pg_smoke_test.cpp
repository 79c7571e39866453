// The Windows build against a PostgreSQL server that runs elsewhere (scripts/build-windows
// starts one on Linux and names it in COLLECTOR_TEST_PG_URI): a collect run stores into it and
// an export of it reads back, through the Windows libpq and sockets.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <optional>

#include "DirectorySite.h"
#include "FixtureCollect.h"
#include "StoredRows.h"
#include "TempDir.h"
#include "crawl/CollectSession.h"
#include "crawl/EventQueue.h"
#include "store/ExportRecords.h"
#include "store/PgRecordStore.h"

using namespace crawl;
using namespace store;

using namespace standin;
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

    const std::optional<RunEnd> end = CollectFixtureSearch(*store, 3, seconds(60));
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
