// Several collector-cli processes sharing one PostgreSQL store (a throwaway cluster on
// loopback) on one search of the stand-in directory, every answer 50 ms late: records per
// second for N = 1, 2 and 4 processes with one lane each and 4 with eight, every record checked
// to be stored exactly once. And
// the store's append against a bare libpq insert loop with the same commits (one per row).

#include <benchmark/benchmark.h>
#include <libpq-fe.h>

#include <algorithm>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "ChildProcess.h"
#include "GeneratedSite.h"
#include "PgCluster.h"
#include "SampleRecord.h"
#include "TempDir.h"
#include "store/PgRecordStore.h"
#include "text/GbkCodec.h"

using namespace store;

namespace {

// 800 companies on 40 pages, so that four collectors get the same share and the start of a
// collector (its process, its connections) does not decide the figure.
constexpr int kPages = 40;
constexpr int kPerPage = 20;

PgCluster* Cluster(benchmark::State& state) {
    std::string why;
    PgCluster* cluster = PgCluster::Shared(why);
    if (cluster == nullptr) {
        state.SkipWithError(("no PostgreSQL: " + why).c_str());
    }
    return cluster;
}

void BM_SharedCollect(benchmark::State& state) {
    PgCluster* cluster = Cluster(state);
    if (cluster == nullptr) {
        return;
    }
    static standin::Server* site = [] {
        auto* s = new standin::Server();
        s->UseAsProxy();
        standin::ServeGeneratedSite(*s, kPages, kPerPage);
        s->SetLatency(50);
        return s;
    }();
    (void)site;
    TempDir dir;
    const int collectors = static_cast<int>(state.range(0));
    const std::string lanes = std::to_string(state.range(1));
    for (auto _ : state) {
        state.PauseTiming();
        const std::string uri = cluster->NewDatabase();
        PgRecordStore{uri};  // the tables exist before the collectors start
        state.ResumeTiming();
        std::vector<std::unique_ptr<ChildProcess>> running;
        for (int i = 0; i < collectors; ++i) {
            running.push_back(std::make_unique<ChildProcess>(
                COLLECTOR_CLI_PATH,
                std::vector<std::string>{"--store", uri, "collect", "--industry", "bench", "--last",
                                         std::to_string(kPages), "--every", "0", "--timeout", "0",
                                         "--parallel", lanes},
                dir.Path()));
        }
        bool ok = true;
        for (auto& c : running) {
            ok = c->Wait() == 0 && ok;
        }
        state.PauseTiming();
        PgRecordStore store(uri);
        std::multiset<std::string> titles;
        store.ForEachMemberRow(
            [&](const IRecordStore::RawRow& row) { titles.insert(std::string(row[0])); });
        const std::set<std::string> distinct(titles.begin(), titles.end());
        if (!ok || titles.size() != kPages * kPerPage || distinct.size() != titles.size()) {
            state.SkipWithError("not every company was stored exactly once");
        }
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * kPages * kPerPage);
}
BENCHMARK(BM_SharedCollect)
    ->Args({1, 1})
    ->Args({2, 1})
    ->Args({4, 1})
    ->Args({4, 8})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->UseRealTime();

MemberRecord Sample() {
    MemberRecord r = SampleRecord();
    r.contact = "http://www.tarvola.com/company/detail/c1.html";
    r.region = text::Utf8ToGbk("广东");
    return r;
}

void BM_PgAppendMemberRecord(benchmark::State& state) {
    PgCluster* cluster = Cluster(state);
    if (cluster == nullptr) {
        return;
    }
    PgRecordStore store(cluster->NewDatabase());
    const MemberRecord r = Sample();
    for (auto _ : state) {
        benchmark::DoNotOptimize(store.AppendMemberRecord(r));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_PgAppendMemberRecord)->Unit(benchmark::kMicrosecond);

// The same row through bare PQexecParams into a table of the same columns, one commit each.
void BM_BarePqInsert(benchmark::State& state) {
    PgCluster* cluster = Cluster(state);
    if (cluster == nullptr) {
        return;
    }
    PGconn* conn = PQconnectdb(cluster->NewDatabase().c_str());
    PQclear(PQexec(conn,
                   "CREATE TABLE T (id BIGSERIAL PRIMARY KEY, title TEXT, person TEXT, sex TEXT, "
                   "job TEXT, mobile TEXT, phone TEXT, fax TEXT, address TEXT, zip TEXT, "
                   "contact TEXT, namekey TEXT, region TEXT, search BIGINT)"));
    const MemberRecord r = Sample();
    std::vector<std::string> values;
    for (const std::string* f : r.Fields()) {
        values.push_back(text::GbkToUtf8(*f));
    }
    values.push_back(r.contact);
    values.push_back(values[0]);
    values.push_back(text::GbkToUtf8(r.region));
    values.push_back("0");
    std::vector<const char*> params;
    for (const std::string& v : values) {
        params.push_back(v.c_str());
    }
    for (auto _ : state) {
        PGresult* res = PQexecParams(
            conn,
            "INSERT INTO T (title, person, sex, job, mobile, phone, fax, address, zip, contact, "
            "namekey, region, search) VALUES ($1,$2,$3,$4,$5,$6,$7,$8,$9,$10,$11,$12,$13) "
            "RETURNING id",
            static_cast<int>(params.size()), nullptr, params.data(), nullptr, nullptr, 0);
        benchmark::DoNotOptimize(PQgetvalue(res, 0, 0));
        PQclear(res);
    }
    PQfinish(conn);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_BarePqInsert)->Unit(benchmark::kMicrosecond);

}  // namespace
