#pragma once
// The record store in a SQLite file (see Store.h for what every store promises; SqlRecordStore
// holds the operations). Beside the tables this file keeps the filter's index of character
// pairs (FTS5), brought up to date by the searches that need it.

#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "platform/FileIdentity.h"
#include "platform/FileLock.h"
#include "store/SqlRecordStore.h"

namespace store {

class SqliteConnection;

// The file beside a store file in which each run at work holds the byte of its id.
std::string CrawlLockPath(const std::string& storePath);

class RecordStore : public SqlRecordStore {
  public:
    // Opens the file, creating it and any missing table. Throws StoreError.
    explicit RecordStore(std::string path);

    const std::string& Path() const override { return path_; }
    std::string DisplayName() const override { return path_; }
    bool UpdateTextIndex(const std::function<bool(int percent)>& progress) override;
    void SetIndexOnRead(bool on) override { indexOnRead_ = on; }
    void RenewRunRecord(std::int64_t id) override { (void)id; }  // its lock says it
    int CloseBrokenRuns() override;
    int CrawlsAtWork() override;

    // The rows the filter's index takes in one write transaction, well under the time a
    // collect beside it may wait, and the pause after each: SQLite's lock is not queued, and a
    // writer waiting for it looks again every 100 ms at most, so without the pause the next
    // batch would take it first, again and again.
    static constexpr int kIndexBatchRows = 1000;
    static constexpr std::chrono::milliseconds kIndexPause{110};

  protected:
    void BeforeWrite() override;
    std::string TextCondition(const std::string& folded, SqlBinder& bind) override;
    std::optional<std::string> IndexedFind(const std::string& folded, const RowQuery& query,
                                           SqlBinder& bind) override;
    bool RowIndexed(std::int64_t id) override;
    void ReindexRow(std::int64_t id, const Utf8Row& before, const Utf8Row& after) override;
    void ClearAfter() override;
    void RunBegins(std::int64_t id) override;
    void RunEnds() override;
    // The runs on record as under way whose process is still at work (`atWork`), or gone.
    std::vector<std::int64_t> OpenRuns(bool atWork);

  private:
    void CreateMissingTables();
    void AddMissingColumns();
    int StoredSchemaVersion();  // 0 for a new file, 1 for one from before versions
    void RecordSchemaVersion();
    // Writes the filter's index entry of row `id` (`remove`: takes it out again).
    void IndexRow(std::int64_t id, const Utf8Row& row, bool remove = false);
    // Indexes the next batch of rows stored since the index's mark, in one transaction with
    // the mark: how many.
    int IndexBatch(std::int64_t lastId);  // the next rows up to lastId
    // Whether the filter's index holds every row.
    bool IndexComplete();
    // The last row the filter's index holds (-1: there is no index).
    std::int64_t IndexedUpTo();

    std::string path_;
    SqliteConnection& file_;
    bool hasGrams_ = true;  // the filter's index is there (not in an older read-only file)
    bool indexOnRead_ = true;
    std::optional<platform::FileIdentity> fileIdentity_;  // the file as opened
    std::unique_ptr<platform::FileLock> crawlLock_;       // held while a run is at work
};

}  // namespace store
