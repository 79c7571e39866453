#include "app/model/DataPaneReader.h"

#include <utility>

#include "text/Grams.h"

using namespace store;

DataPaneReader::DataPaneReader(Open open, OnAnswer onAnswer, OnIndexing onIndexing,
                               OnChanged onChanged)
    : open_(std::move(open)),
      onAnswer_(std::move(onAnswer)),
      onIndexing_(std::move(onIndexing)),
      onChanged_(std::move(onChanged)),
      thread_([this] { Loop(); }) {}

DataPaneReader::~DataPaneReader() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void DataPaneReader::Ask(Request request) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        pending_ = std::move(request);
    }
    wake_.notify_all();
}

DataPaneReader::Answer DataPaneReader::Read(const Request& request) {
    Answer answer;
    answer.serial = request.serial;
    try {
        if (store_ == nullptr || !store_->Usable()) {
            store_ = open_(&stop_);
            store_->SetIndexOnRead(false);
        }
        if (!brokenRunsClosed_) {
            // A window that opens finds the runs whose collector is gone and closes them; a
            // store that refuses the write (read-only) is still read.
            try {
                store_->CloseBrokenRuns();
                brokenRunsClosed_ = true;
            } catch (const StoreError&) {
            }
        }
        // Read first: a change made while the rest is read is seen by the next look.
        mark_ = store_->ChangeMark();
        for (const RowSelection& selection : request.counts) {
            answer.counts.push_back(store_->CountSelectedRows(selection));
        }
        answer.rows = store_->FindRows(request.query);
        if (request.runs) {
            answer.runs = store_->Runs(kRunsShown);
            answer.keptFailures = store_->CountKeptFailures();
        }
    } catch (const std::exception& e) {  // StoreError, or memory running out
        answer.counts.clear();
        answer.rows.clear();
        answer.runs.clear();
        answer.keptFailures = -1;
        answer.error = e.what();
        store_.reset();  // opened anew by the next request
    }
    return answer;
}

void DataPaneReader::Watch() {
    if (store_ == nullptr || !onChanged_) {
        return;  // nothing answered yet (or the store failed): the next request opens it
    }
    try {
        const std::string mark = store_->ChangeMark();
        if (mark != mark_) {
            mark_ = mark;
            onChanged_();
        }
    } catch (const std::exception&) {
        store_.reset();  // the next request says what is wrong
    }
}

void DataPaneReader::Loop() {
    for (;;) {
        std::optional<Request> request;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            const bool woken = wake_.wait_for(lock, kWatchEvery,
                                              [this] { return stop_ || pending_ || indexWanted_; });
            if (stop_) {
                return;
            }
            if (!woken) {
                lock.unlock();
                Watch();
                continue;
            }
            request = std::exchange(pending_, std::nullopt);
        }
        if (request) {
            Answer answer = Read(*request);
            // The index is brought up to date once a filter would use it.
            indexWanted_ =
                indexWanted_ || (answer.error.empty() &&
                                 text::CharCount(text::TrimBlanks(request->query.text)) >= 2);
            answer.indexing = indexWanted_;
            onAnswer_(std::move(answer));
            continue;
        }
        // Between two batches a new request or a stop goes first; the index goes on after.
        bool done = true;
        try {
            done = store_ == nullptr || store_->UpdateTextIndex([this](int percent) {
                onIndexing_(percent);
                std::lock_guard<std::mutex> lock(mutex_);
                return !stop_ && !pending_;
            });
        } catch (const std::exception&) {
            store_.reset();  // the next read says what is wrong
        }
        if (done) {
            indexWanted_ = false;
            onIndexing_(-1);
        }
    }
}
