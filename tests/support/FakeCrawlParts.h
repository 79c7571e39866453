#pragma once
// Canned pages and an in-memory store, for driving a crawl worker without network or disk.

#include <map>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "crawl/PageFetcher.h"
#include "store/RecordWriter.h"
#include "store/StoreError.h"

class FakeFetcher : public IPageFetcher {
  public:
    struct Shared {
        std::mutex mutex;
        std::map<std::string, std::string> pages;
        std::vector<std::string> fetched;
        bool sessionOpens = true;
    };
    explicit FakeFetcher(std::shared_ptr<Shared> shared) : shared_(std::move(shared)) {}

    bool OpenSession() override {
        std::lock_guard<std::mutex> lock(shared_->mutex);
        return shared_->sessionOpens;
    }
    std::string FetchPage(const std::string& address) override {
        std::lock_guard<std::mutex> lock(shared_->mutex);
        shared_->fetched.push_back(address);
        auto it = shared_->pages.find(address);
        return it == shared_->pages.end() ? std::string() : it->second;
    }

  private:
    std::shared_ptr<Shared> shared_;
};

class MemoryStore : public IRecordWriter {
  public:
    struct Shared {
        std::mutex mutex;
        std::vector<MemberRecord> rows;
        int failAfter = -1;  // rows accepted before every append fails
    };
    explicit MemoryStore(std::shared_ptr<Shared> shared) : shared_(std::move(shared)) {}

    std::int64_t AppendMemberRecord(const MemberRecord& record) override {
        std::lock_guard<std::mutex> lock(shared_->mutex);
        if (shared_->failAfter >= 0 &&
            static_cast<int>(shared_->rows.size()) >= shared_->failAfter) {
            throw StoreError("disk I/O error");
        }
        shared_->rows.push_back(record);
        return static_cast<std::int64_t>(shared_->rows.size());
    }

  private:
    std::shared_ptr<Shared> shared_;
};
