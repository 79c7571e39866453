#include <gtest/gtest.h>
#include <sqlite3.h>

#include <atomic>
#include <thread>

#include "StandInServer.h"
#include "TempDir.h"
#include "store/RecordStore.h"
#include "text/GbkCodec.h"

using namespace store;

using standin::Gbk;

namespace {

MemberRecord Named(const std::string& title) {
    MemberRecord r;
    r.title = title;
    return r;
}

// Runs SQL on the file through a connection of its own, as another program would.
void Sql(const std::string& path, const std::string& sql) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    char* err = nullptr;
    EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err), SQLITE_OK) << (err ? err : "");
    sqlite3_free(err);
    sqlite3_close(db);
}

}  // namespace

TEST(RecordStore, CreatesTheFileWithTheSettingsRow) {
    TempDir dir;
    RecordStore store(dir.File("data.db"));
    EXPECT_EQ(store.LoadLastPageIndex(), 1);
    EXPECT_FALSE(store.HasMemberRecords());
    EXPECT_FALSE(store.NewestMemberRecord().has_value());
    int n = 0;
    store.NewestMemberRecords([&](const MemberRecord&) { ++n; });
    EXPECT_EQ(n, 0);
}

TEST(RecordStore, LastPageIndexReadsLikeAtoi) {
    TempDir dir;
    const std::string path = dir.File("data.db");
    RecordStore store(path);
    const std::pair<std::string, int> cases[] = {
        {"NULL", 0}, {"'12abc'", 12}, {"''", 0}, {"'-3'", -3}, {"42", 42}, {"' 7'", 7},
    };
    for (const auto& [value, expected] : cases) {
        Sql(path, "UPDATE T_CONFIG SET itemdata=" + value + " WHERE itemname='lastpageindex'");
        EXPECT_EQ(store.LoadLastPageIndex(), expected) << value;
    }
    Sql(path, "DELETE FROM T_CONFIG");
    EXPECT_EQ(store.LoadLastPageIndex(), 1);
    // Saving puts the row back when it is missing, and updates it in place otherwise.
    store.SaveLastPageIndex(7);
    EXPECT_EQ(store.LoadLastPageIndex(), 7);
    store.SaveLastPageIndex(0);
    EXPECT_EQ(store.LoadLastPageIndex(), 0);
    RecordStore again(path);
    EXPECT_EQ(again.LoadLastPageIndex(), 0);
}

TEST(RecordStore, TextsCrossAsGbkAndNullsAndNumbersReadAsText) {
    TempDir dir;
    const std::string path = dir.File("data.db");
    RecordStore store(path);
    MemberRecord r{Gbk("广州化工有限公司"), Gbk("张伟"), Gbk("先生"), "", "138", "020", "",
                   Gbk("广州,天河"),        ""};
    std::int64_t id = store.AppendMemberRecord(r);
    EXPECT_EQ(store.NewestMemberRecord(), r);
    EXPECT_EQ(store.MemberRecordById(id), r);
    // The file holds UTF-8 and empty texts, never nulls.
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, "SELECT title, fax IS NULL FROM T_MEMBER_CHINA", -1, &st, nullptr);
    ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(sqlite3_column_text(st, 0))),
              "广州化工有限公司");
    EXPECT_EQ(sqlite3_column_int(st, 1), 0);
    sqlite3_finalize(st);
    sqlite3_close(db);

    Sql(path, "INSERT INTO T_MEMBER_CHINA (title, person, zip) VALUES (NULL, 12, 3.5)");
    auto newest = store.NewestMemberRecord();
    ASSERT_TRUE(newest.has_value());
    EXPECT_EQ(newest->title, "");
    EXPECT_EQ(newest->person, "12");
    EXPECT_EQ(newest->zip, "3.5");
    EXPECT_EQ(newest->sex, "");  // the column default
}

TEST(RecordStore, NewestFortyAndClearKeepsIdsGrowing) {
    TempDir dir;
    RecordStore store(dir.File("data.db"));
    for (int i = 1; i <= 41; ++i) {
        EXPECT_EQ(store.AppendMemberRecord(Named(std::to_string(i))), i);
    }
    std::vector<std::string> titles;
    store.NewestMemberRecords([&](const MemberRecord& r) { titles.push_back(r.title); });
    ASSERT_EQ(titles.size(), 40u);
    EXPECT_EQ(titles.front(), "41");
    EXPECT_EQ(titles.back(), "2");
    EXPECT_EQ(store.NewestMemberRecord()->title, "41");
    EXPECT_TRUE(store.HasMemberRecords());

    store.SaveLastPageIndex(9);
    store.ClearMemberRecords();
    EXPECT_FALSE(store.HasMemberRecords());
    EXPECT_EQ(store.LoadLastPageIndex(), 9);
    EXPECT_EQ(store.AppendMemberRecord(Named("after")), 42);  // ids are never reused
    EXPECT_TRUE(store.HasMemberRecords());
}

TEST(RecordStore, FailuresCarrySqliteMessages) {
    TempDir dir;
    EXPECT_THROW(RecordStore(dir.File("no/such/dir/data.db")), StoreError);
    const std::string path = dir.File("data.db");
    RecordStore store(path);
    Sql(path, "DROP TABLE T_MEMBER_CHINA");
    try {
        store.AppendMemberRecord(Named("x"));
        FAIL() << "append into a missing table succeeded";
    } catch (const StoreError& e) {
        EXPECT_NE(std::string(e.what()).find("no such table"), std::string::npos) << e.what();
    }
    // Opening again recreates what is missing.
    RecordStore again(path);
    EXPECT_EQ(again.AppendMemberRecord(Named("x")), 1);
}

TEST(RecordStore, WorkerAppendsWhileTheWindowReads) {
    TempDir dir;
    const std::string path = dir.File("data.db");
    RecordStore window(path);
    constexpr int kRows = 400;
    std::atomic<bool> done{false};
    std::string workerError;
    std::thread worker([&] {
        try {
            RecordStore own(path);
            for (int i = 1; i <= kRows; ++i) {
                own.AppendMemberRecord(Named(std::to_string(i)));
            }
        } catch (const std::exception& e) {
            workerError = e.what();
        }
        done = true;
    });
    int reads = 0;
    while (!done) {
        window.NewestMemberRecord();
        window.HasMemberRecords();
        window.SaveLastPageIndex(reads++);
    }
    worker.join();
    EXPECT_EQ(workerError, "");
    int n = 0;
    window.ForEachMemberRow(
        [&](const RecordStore::RawRow& row) { EXPECT_EQ(row[0], std::to_string(++n)); });
    EXPECT_EQ(n, kRows);
}

TEST(RecordStore, KeptFailuresAndTheRowsTheyHold) {
    TempDir dir;
    // A file written before rows remembered their contact address opens and gains the column.
    Sql(dir.File("data.db"),
        "CREATE TABLE T_MEMBER_CHINA (id INTEGER PRIMARY KEY AUTOINCREMENT, title TEXT, "
        "person TEXT, sex TEXT, job TEXT, mobile TEXT, phone TEXT, fax TEXT, address TEXT, "
        "zip TEXT); CREATE TABLE T_CONFIG (itemname TEXT PRIMARY KEY, itemdata TEXT); "
        "INSERT INTO T_MEMBER_CHINA (title) VALUES ('old');");
    RecordStore store(dir.File("data.db"));
    EXPECT_EQ(store.MemberRecordById(1)->title, "old");

    // A contact page that failed: its row and the failure in one go; kept again, the same one.
    KeptFailure f;
    f.kind = KeptFailure::Kind::ContactPage;
    f.address = "http://x/c1";
    f.title = Gbk("公司");
    f.reason = "HTTP 503";
    f.tries = 3;
    MemberRecord placeholder = Named(Gbk("公司"));
    placeholder.contact = f.address;
    const std::int64_t id = store.KeepFailure(f, &placeholder);
    EXPECT_EQ(f.rowId, 2);
    EXPECT_TRUE(store.HasContact("http://x/c1", ""));
    EXPECT_FALSE(store.HasContact("http://x/c2", ""));
    f.tries = 6;
    EXPECT_EQ(store.KeepFailure(f), id);
    ASSERT_EQ(store.KeptFailures().size(), 1u);
    EXPECT_EQ(store.KeptFailures()[0].tries, 6);
    EXPECT_EQ(store.KeptFailures()[0].rowId, 2);
    EXPECT_EQ(store.KeptFailures()[0].title, Gbk("公司"));

    // Filled in place, the failure dropped; a row removed meanwhile is appended instead.
    MemberRecord details = Named("ignored");
    details.person = Gbk("陈明");
    EXPECT_EQ(store.FillMemberRecord(2, details, id), 2);
    EXPECT_EQ(store.MemberRecordById(2)->title, Gbk("公司"));
    EXPECT_EQ(store.MemberRecordById(2)->person, Gbk("陈明"));
    EXPECT_EQ(store.CountKeptFailures(), 0);
    details.title = Gbk("公司");
    EXPECT_EQ(store.FillMemberRecord(99, details, 0), 3);
    EXPECT_EQ(store.MemberRecordById(3)->person, Gbk("陈明"));
    // The filter finds the row stored before its index existed, and filled rows by their
    // new texts (each once).
    ASSERT_EQ(store.FindRows({"OLD", 0, 10}).size(), 1u);
    EXPECT_EQ(store.FindRows({"OLD", 0, 10})[0].id, 1);
    const auto chen = store.FindRows({"陈明", 0, 10});
    ASSERT_EQ(chen.size(), 2u);
    EXPECT_EQ(chen[0].id, 3);
    EXPECT_EQ(chen[1].id, 2);
    EXPECT_EQ(chen[1].fields[0], "公司");

    // A result page: dropped by its address; clearing drops failures with the records.
    KeptFailure page;
    page.address = "http://x/p2";
    page.page = 2;
    store.KeepFailure(page);
    EXPECT_EQ(store.DropFailureAt(KeptFailure::Kind::ResultPage, "http://x/p3"), 0);
    EXPECT_EQ(store.DropFailureAt(KeptFailure::Kind::ResultPage, "http://x/p2"), page.id);
    store.KeepFailure(page);
    std::atomic<bool> stop{true};
    EXPECT_FALSE(store.ClearMemberRecords(&stop));  // stopped: all or nothing
    EXPECT_EQ(store.CountKeptFailures(), 1);
    EXPECT_TRUE(store.HasMemberRecords());
    EXPECT_TRUE(store.ClearMemberRecords());
    EXPECT_EQ(store.CountKeptFailures(), 0);
    EXPECT_FALSE(store.HasMemberRecords());

    // A company listed twice whose contact page fails for both entries: without skip-known each
    // entry is a row of its own, and each row waits on a failure of its own (kept again, each
    // stays its own). A file whose failures were kept once per company is made over, its
    // failures and their ids kept.
    Sql(dir.File("old.db"),
        "CREATE TABLE T_FAILURE (id INTEGER PRIMARY KEY AUTOINCREMENT, kind TEXT NOT NULL, "
        "page INTEGER DEFAULT 0, address TEXT NOT NULL, title TEXT DEFAULT '', condition TEXT "
        "DEFAULT '', reason TEXT DEFAULT '', tries INTEGER DEFAULT 0, rowid_kept INTEGER DEFAULT "
        "0, time TEXT DEFAULT '', UNIQUE (kind, address, title)); INSERT INTO T_FAILURE (id, "
        "kind, page, address) VALUES (7, 'page', 3, 'http://x/p3');");
    for (const std::string& file : {dir.File("data.db"), dir.File("old.db")}) {
        SCOPED_TRACE(file);
        RecordStore twice(file);
        std::vector<std::int64_t> failures;
        for (int entry = 0; entry < 2; ++entry) {
            KeptFailure again = f;
            again.rowId = 0;
            MemberRecord row = placeholder;
            row.entry = "entry " + std::to_string(entry);
            failures.push_back(twice.KeepFailure(again, &row));
            again.tries = 9;
            EXPECT_EQ(twice.KeepFailure(again), failures.back());
        }
        EXPECT_NE(failures[0], failures[1]);
        std::set<std::int64_t> waiting;
        for (const KeptFailure& k : twice.KeptFailures()) {
            waiting.insert(k.rowId);
        }
        EXPECT_EQ(waiting.size(), 2u + (file == dir.File("old.db") ? 1u : 0u));
        EXPECT_EQ(twice.CountKeptFailures(), file == dir.File("old.db") ? 3 : 2);
    }
    EXPECT_EQ(RecordStore(dir.File("old.db")).KeptFailures()[0].id, 7);
}

TEST(RecordStore, TheFilterIndexEndsAtTheRowsThereWereThoughAWriterOutrunsIt) {
    TempDir dir;
    RecordStore store(dir.File("data.db"));
    store.FindRows({"公司", 0, 1});  // the index is made, empty
    auto batch = [&](int from, int count) {
        std::vector<IRecordStore::Utf8Row> rows;
        for (int i = from; i < from + count; ++i) {
            rows.push_back({"公司" + std::to_string(i), "联系人"});
        }
        store.ImportRows(rows);
    };
    const int before = 3 * RecordStore::kIndexBatchRows + 5;
    batch(1, before);
    // Between two of its batches more rows come than a batch takes: it still ends, after the
    // batches the rows of its start make.
    int next = before + 1, calls = 0;
    const bool done = store.UpdateTextIndex([&](int) {
        batch(next, 2 * RecordStore::kIndexBatchRows);
        next += 2 * RecordStore::kIndexBatchRows;
        return ++calls < 20;
    });
    EXPECT_TRUE(done);
    EXPECT_EQ(calls, 3);
    // What came meanwhile is found all the same, looked at one by one.
    const auto found = store.FindRows({"公司" + std::to_string(next - 1), 0, 10});
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].id, next - 1);
}

TEST(RecordStore, TheFilterIndexesManyRowsInShortTransactionsAndFindsThemAll) {
    TempDir dir;
    RecordStore store(dir.File("data.db"));
    std::vector<IRecordStore::Utf8Row> rows;
    // Enough batches that a writer shut out between them would give up many times over.
    const int n = 30 * RecordStore::kIndexBatchRows + 7;
    for (int i = 1; i <= n; ++i) {
        rows.push_back({"化工公司" + std::to_string(i), "联系人"});
    }
    store.ImportRows(rows);
    // A writer beside the first search that waits a second at most gets the lock between two
    // batches every time: the lock is not queued, so the index leaves it a moment.
    std::atomic<bool> searching{true};
    std::string failed;
    std::thread beside([&] {
        sqlite3* db = nullptr;
        sqlite3_open(dir.File("data.db").c_str(), &db);
        sqlite3_busy_timeout(db, 1000);
        do {
            char* error = nullptr;
            if (sqlite3_exec(db, "BEGIN IMMEDIATE; COMMIT", nullptr, nullptr, &error) !=
                SQLITE_OK) {
                failed = error != nullptr ? error : "?";
                sqlite3_free(error);
                break;
            }
        } while (searching);
        sqlite3_close(db);
    });
    RowSelection all;
    all.text = "化工公司";
    EXPECT_EQ(store.CountSelectedRows(all), n);
    searching = false;
    beside.join();
    EXPECT_EQ(failed, "");
    const std::string last = "化工公司" + std::to_string(n);
    const auto found = store.FindRows({last, 0, 10});
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].id, n);
}
