#pragma once
// Reads what the collected-data pane shows (the store's counts and a page of rows) on a thread
// of its own, with a connection of its own, so that no read of the pane runs on the window's
// thread: a read that is slow, or a database that does not answer, never freezes the window.
// After a filter of two characters or more it brings the store's filter index up to date, a
// short transaction at a time, telling how far it got; the filter answers meanwhile by looking
// at the rows the index lacks one by one.
//
// A request replaces the one not yet started; answers carry their request's serial, so the
// window drops an answer to a request it has replaced.
//
// Between requests it watches the store's change mark (IRecordStore::ChangeMark) about once a
// second and says when it moved, whoever wrote (this window, collector-cli, another collector
// of a shared store): the window then asks again, and only then.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "store/Store.h"

class DataPaneReader {
  public:
    struct Request {
        std::uint64_t serial = 0;
        std::vector<store::RowSelection> counts;  // counted first, in this order
        store::RowQuery query;
        bool runs = false;  // the record of runs and the kept failures too
    };
    struct Answer {
        std::uint64_t serial = 0;
        std::vector<std::int64_t> counts;
        std::vector<store::StoredRow> rows;
        std::string error;      // the store's message when the read failed
        bool indexing = false;  // the index is brought up to date next (OnIndexing(-1) at its end)
        std::vector<store::RunRecord> runs;  // newest first (when asked for)
        std::int64_t keptFailures = -1;      // when runs were asked for
    };
    // Called on the reader's thread: an answer, and the index's progress (0 to 99; -1: done
    // or given up).
    using OnAnswer = std::function<void(Answer)>;
    using OnIndexing = std::function<void(int percent)>;
    // Called on the reader's thread when the store changed since the last answer.
    using OnChanged = std::function<void()>;
    using Open =
        std::function<std::unique_ptr<store::IRecordStore>(const std::atomic<bool>* interrupt)>;

    DataPaneReader(Open open, OnAnswer onAnswer, OnIndexing onIndexing, OnChanged onChanged = {});
    // How often the change mark is looked at, and the most runs an answer holds.
    static constexpr std::chrono::milliseconds kWatchEvery{1000};
    static constexpr int kRunsShown = 200;
    // Stops at once (a read on a database server in progress is given up) and joins.
    ~DataPaneReader();
    DataPaneReader(const DataPaneReader&) = delete;
    DataPaneReader& operator=(const DataPaneReader&) = delete;

    void Ask(Request request);

  private:
    void Loop();
    Answer Read(const Request& request);
    // Looks at the change mark; says when it moved.
    void Watch();

    Open open_;
    OnAnswer onAnswer_;
    OnIndexing onIndexing_;
    OnChanged onChanged_;
    std::string mark_;  // the store's change mark as of the last answer
    bool brokenRunsClosed_ = false;
    std::unique_ptr<store::IRecordStore> store_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::optional<Request> pending_;
    std::atomic<bool> stop_{false};
    bool indexWanted_ = false;  // the reader's own
    std::thread thread_;
};
