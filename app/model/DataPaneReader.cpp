#include "app/model/DataPaneReader.h"

#include <utility>

#include "text/Grams.h"

using namespace store;

DataPaneReader::DataPaneReader(Open open, OnAnswer onAnswer, OnIndexing onIndexing)
    : open_(std::move(open)),
      onAnswer_(std::move(onAnswer)),
      onIndexing_(std::move(onIndexing)),
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
        for (const RowSelection& selection : request.counts) {
            answer.counts.push_back(store_->CountSelectedRows(selection));
        }
        answer.rows = store_->FindRows(request.query);
    } catch (const std::exception& e) {  // StoreError, or memory running out
        answer.counts.clear();
        answer.rows.clear();
        answer.error = e.what();
        store_.reset();  // opened anew by the next request
    }
    return answer;
}

void DataPaneReader::Loop() {
    for (;;) {
        std::optional<Request> request;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait(lock, [this] { return stop_ || pending_ || indexWanted_; });
            if (stop_) {
                return;
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
