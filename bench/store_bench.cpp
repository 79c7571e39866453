// The store against bare SQLite with the same settings, and the queries and the export on a
// store of 1,000,000 rows.

#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <string>
#include <thread>

#include "SampleRecord.h"
#include "store/ExportRecords.h"
#include "store/RecordStore.h"
#include "text/GbkCodec.h"

using namespace store;

namespace {

std::string TempPath(const std::string& name) {
    static const std::string dir = [] {
        char tmpl[] = "/tmp/collector-bench-XXXXXX";
        return std::string(mkdtemp(tmpl));
    }();
    return dir + "/" + name;
}

void BM_AppendMemberRecord(benchmark::State& state) {
    const std::string path = TempPath("append.db");
    std::filesystem::remove(path);
    RecordStore store(path);
    const MemberRecord r = SampleRecord();
    for (auto _ : state) {
        benchmark::DoNotOptimize(store.AppendMemberRecord(r));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_AppendMemberRecord)->Unit(benchmark::kMicrosecond);

// The same row through a bare prepared INSERT, WAL and synchronous=NORMAL, one commit per row.
void BM_BareSqliteInsert(benchmark::State& state) {
    const std::string path = TempPath("bare.db");
    std::filesystem::remove(path);
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    sqlite3_exec(db, "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;", nullptr, nullptr,
                 nullptr);
    sqlite3_exec(db,
                 "CREATE TABLE T (id INTEGER PRIMARY KEY AUTOINCREMENT, title TEXT, person TEXT, "
                 "sex TEXT, job TEXT, mobile TEXT, phone TEXT, fax TEXT, address TEXT, zip TEXT)",
                 nullptr, nullptr, nullptr);
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db,
                       "INSERT INTO T (title,person,sex,job,mobile,phone,fax,address,zip) "
                       "VALUES (?,?,?,?,?,?,?,?,?)",
                       -1, &st, nullptr);
    const char* values[] = {"广州化工有限公司",
                            "陈明",
                            "先生",
                            "销售经理",
                            "13800138000",
                            "86-020-12345678",
                            "86-020-12345679",
                            "广州市天河区黄埔大道100号",
                            "510000"};
    for (auto _ : state) {
        for (int i = 0; i < 9; ++i) {
            sqlite3_bind_text(st, i + 1, values[i], -1, SQLITE_TRANSIENT);
        }
        sqlite3_step(st);
        sqlite3_reset(st);
    }
    sqlite3_finalize(st);
    sqlite3_close(db);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_BareSqliteInsert)->Unit(benchmark::kMicrosecond);

// A store of 1,000,000 rows, made once.
const std::string& BigStore() {
    static const std::string path = [] {
        const std::string p = TempPath("big.db");
        RecordStore create(p);  // the tables
        sqlite3* db = nullptr;
        sqlite3_open(p.c_str(), &db);
        sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
        sqlite3_stmt* st = nullptr;
        sqlite3_prepare_v2(
            db,
            "INSERT INTO T_MEMBER_CHINA (title,person,sex,job,mobile,phone,fax,"
            "address,zip) VALUES (?1,'陈明','先生','销售经理','13800138000',"
            "'86-020-12345678','86-020-12345679','广州市天河区黄埔大道100号','510000')",
            -1, &st, nullptr);
        for (int i = 0; i < 1000000; ++i) {
            const std::string title = "广州化工有限公司" + std::to_string(i);
            sqlite3_bind_text(st, 1, title.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_step(st);
            sqlite3_reset(st);
        }
        sqlite3_finalize(st);
        sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
        sqlite3_close(db);
        return p;
    }();
    return path;
}

void BM_HasMemberRecords_1M(benchmark::State& state) {
    RecordStore store(BigStore());
    for (auto _ : state) {
        benchmark::DoNotOptimize(store.HasMemberRecords());
    }
}
BENCHMARK(BM_HasMemberRecords_1M)->Unit(benchmark::kMicrosecond);

void BM_NewestMemberRecords_1M(benchmark::State& state) {
    RecordStore store(BigStore());
    for (auto _ : state) {
        int n = 0;
        store.NewestMemberRecords([&](const MemberRecord&) { ++n; });
        benchmark::DoNotOptimize(n);
    }
}
BENCHMARK(BM_NewestMemberRecords_1M)->Unit(benchmark::kMicrosecond);

void BM_NewestMemberRecord_1M(benchmark::State& state) {
    RecordStore store(BigStore());
    for (auto _ : state) {
        benchmark::DoNotOptimize(store.NewestMemberRecord());
    }
}
BENCHMARK(BM_NewestMemberRecord_1M)->Unit(benchmark::kMicrosecond);

void BM_Export_1M(benchmark::State& state) {
    RecordStore store(BigStore());
    const std::string out = TempPath("export.csv");
    for (auto _ : state) {
        benchmark::DoNotOptimize(ExportRecords(store, out, EXPORT_FORMAT_CSV));
    }
    state.SetItemsProcessed(state.iterations() * 1000000);
}
BENCHMARK(BM_Export_1M)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_ExportXlsx_1M(benchmark::State& state) {
    RecordStore store(BigStore());
    const std::string out = TempPath("export.xlsx");
    for (auto _ : state) {
        benchmark::DoNotOptimize(ExportRecords(store, out, EXPORT_FORMAT_XLSX));
    }
    state.SetItemsProcessed(state.iterations() * 1000000);
}
BENCHMARK(BM_ExportXlsx_1M)->Unit(benchmark::kMillisecond)->Iterations(1);

// The sqlite3 shell writing the same table as CSV (UTF-8, no conversion) to a file.
void BM_Sqlite3ShellCsv_1M(benchmark::State& state) {
    const std::string out = TempPath("shell.csv");
    const std::string command = "sqlite3 -csv '" + BigStore() +
                                "' 'SELECT title,person,sex,job,mobile,phone,fax,address,zip FROM "
                                "T_MEMBER_CHINA ORDER BY id' > '" +
                                out + "'";
    for (auto _ : state) {
        if (std::system(command.c_str()) != 0) {
            state.SkipWithError("sqlite3 shell failed");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations() * 1000000);
}
BENCHMARK(BM_Sqlite3ShellCsv_1M)->Unit(benchmark::kMillisecond)->Iterations(3);

// A store of 1,000,000 varied rows (companies, people, numbers and addresses of many
// kinds), none searched yet, so its first search indexes them all.
const std::string& VariedStore() {
    static const std::string path = [] {
        const std::string p = TempPath("varied.db");
        RecordStore create(p);  // the tables and the index
        sqlite3* db = nullptr;
        sqlite3_open(p.c_str(), &db);
        sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
        sqlite3_stmt* st = nullptr;
        sqlite3_prepare_v2(db,
                           "INSERT INTO T_MEMBER_CHINA (title,person,mobile,phone,address) "
                           "VALUES (?1,?2,?3,?4,?5)",
                           -1, &st, nullptr);
        const char* cities[] = {"广州", "深圳", "宁波", "杭州", "东莞", "佛山", "苏州",
                                "温州", "厦门", "青岛", "天津", "成都", "武汉", "长沙"};
        const char* trades[] = {"化工", "模具", "塑料", "电子", "机械", "纺织", "五金",
                                "包装", "照明", "家具", "陶瓷", "服装", "食品", "印刷"};
        const char* kinds[] = {"有限公司", "厂", "实业有限公司", "贸易商行", "科技有限公司"};
        const char* surnames[] = {"陈", "李", "王", "张", "刘", "黄", "赵", "周", "吴", "徐",
                                  "孙", "马", "朱", "胡", "郭", "何", "高", "林", "罗", "郑"};
        const char* given[] = {"明", "娜", "强", "伟", "敏", "静", "磊",   "洋",   "艳",   "军",
                               "杰", "涛", "超", "霞", "平", "刚", "桂英", "建华", "志强", "秀兰"};
        const char* roads[] = {"黄埔大道", "人民路", "解放路", "中山路", "工业园", "科技园"};
        std::uint64_t seed = 12345;
        auto next = [&seed](std::uint64_t n) {
            seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
            return (seed >> 33) % n;
        };
        for (int i = 0; i < 1000000; ++i) {
            const std::string city = cities[next(std::size(cities))];
            const std::string title = city + trades[next(std::size(trades))] +
                                      std::to_string(next(1000)) + kinds[next(std::size(kinds))];
            const std::string person =
                std::string(surnames[next(std::size(surnames))]) + given[next(std::size(given))];
            const std::string mobile = "13" + std::to_string(100000000 + next(900000000));
            const std::string phone = "0" + std::to_string(20 + next(900)) + "-" +
                                      std::to_string(10000000 + next(90000000));
            const std::string address =
                city + "市" + roads[next(std::size(roads))] + std::to_string(1 + next(999)) + "号";
            const std::string* values[] = {&title, &person, &mobile, &phone, &address};
            for (int v = 0; v < 5; ++v) {
                sqlite3_bind_text(st, v + 1, values[v]->c_str(), -1, SQLITE_TRANSIENT);
            }
            sqlite3_step(st);
            sqlite3_reset(st);
        }
        sqlite3_finalize(st);
        sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
        sqlite3_close(db);
        return p;
    }();
    return path;
}

// The first search after 1,000,000 rows were stored: it indexes them.
void BM_IndexNewRows_1M(benchmark::State& state) {
    for (auto _ : state) {
        RecordStore store(VariedStore());
        benchmark::DoNotOptimize(store.FindRows({"化工", 0, 100}));
    }
}
BENCHMARK(BM_IndexNewRows_1M)->Unit(benchmark::kMillisecond)->Iterations(1);

// The filter's index written after 1,000,000 rows were stored, while another connection
// takes the write lock again and again, as a collect beside it does: the longest it waited is
// the longest the index held the lock at a time.
void BM_IndexWriteLockHold_1M(benchmark::State& state) {
    const std::string path = TempPath("hold.db");
    for (auto _ : state) {
        std::filesystem::copy_file(VariedStore(), path,
                                   std::filesystem::copy_options::overwrite_existing);
        sqlite3* db = nullptr;
        sqlite3_open(path.c_str(), &db);
        sqlite3_busy_timeout(db, 60000);
        // However far the copy was indexed, every row is indexed anew.
        sqlite3_exec(db,
                     "INSERT INTO T_MEMBER_GRAMS (T_MEMBER_GRAMS) VALUES ('delete-all'); "
                     "UPDATE T_CONFIG SET itemdata='0' WHERE itemname='gramsupto'",
                     nullptr, nullptr, nullptr);
        std::atomic<bool> indexing{true};
        double longest = 0;
        std::thread writer([&] {
            while (indexing) {
                const auto asked = std::chrono::steady_clock::now();
                sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
                const std::chrono::duration<double, std::milli> waited =
                    std::chrono::steady_clock::now() - asked;
                sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
                longest = std::max(longest, waited.count());
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        });
        RecordStore store(path);
        store.UpdateTextIndex([](int) { return true; });
        indexing = false;
        writer.join();
        sqlite3_close(db);
        state.counters["longest_hold_ms"] = longest;
    }
}
BENCHMARK(BM_IndexWriteLockHold_1M)->Unit(benchmark::kMillisecond)->Iterations(1);

// A page of the collected-data filter (100 rows, newest first) on 1,000,000 rows: a common
// pair, rarer ones, a name, digits, a text no row holds, one character (scanned), none.
void BM_FindRows_1M(benchmark::State& state, const char* text) {
    RecordStore store(VariedStore());
    store.FindRows({"化工", 0, 1});  // indexed before the timing
    size_t rows = 0;
    for (auto _ : state) {
        rows = store.FindRows({text, 0, 100}).size();
        benchmark::DoNotOptimize(rows);
    }
    state.counters["rows"] = static_cast<double>(rows);
}
BENCHMARK_CAPTURE(BM_FindRows_1M, common_pair, "化工")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_FindRows_1M, company, "宁波模具")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_FindRows_1M, person, "郑桂英")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_FindRows_1M, rare_pair, "秀兰")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_FindRows_1M, digits, "0755-8")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_FindRows_1M, no_match, "无此公司")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_FindRows_1M, two_no_match, "鑫鑫")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_FindRows_1M, one_char, "郑")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_FindRows_1M, all, "")->Unit(benchmark::kMillisecond);

// What opening the collected-data pane asks of 1,000,000 rows: the counts of the store, of a
// search and of today, and the first page.
void BM_DataPaneOpen_1M(benchmark::State& state) {
    RecordStore store(VariedStore());
    store.FindRows({"化工", 0, 1});
    RowSelection search;
    search.industry = "";
    search.region = "";
    RowSelection today;
    today.since = "2000-01-01";
    for (auto _ : state) {
        benchmark::DoNotOptimize(store.CountSelectedRows({}));
        benchmark::DoNotOptimize(store.CountSelectedRows(search));
        benchmark::DoNotOptimize(store.CountSelectedRows(today));
        benchmark::DoNotOptimize(store.FindRows({"", 0, 100}));
    }
}
BENCHMARK(BM_DataPaneOpen_1M)->Unit(benchmark::kMillisecond);

// Counting what the filter finds (the pane's count of a filter, and an export's rows).
void BM_CountText_1M(benchmark::State& state) {
    RecordStore store(VariedStore());
    store.FindRows({"化工", 0, 1});
    RowSelection selection;
    selection.text = "宁波模具";
    for (auto _ : state) {
        benchmark::DoNotOptimize(store.CountSelectedRows(selection));
    }
}
BENCHMARK(BM_CountText_1M)->Unit(benchmark::kMillisecond);

}  // namespace
