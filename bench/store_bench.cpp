// The store against bare SQLite with the same settings, and the queries and the export on a
// store of 1,000,000 rows.

#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "SampleRecord.h"
#include "store/ExportRecords.h"
#include "store/RecordStore.h"
#include "text/GbkCodec.h"

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

}  // namespace
