#pragma once
// Canned pages and an in-memory store, for driving a crawl worker without network or disk.

#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "crawl/PageFetcher.h"
#include "store/RecordWriter.h"
#include "store/StoreError.h"

// Pages by address; an address without a page answers 404. `script` holds answers given
// before the page, one per fetch (failures to retry, say); `throwOn` makes a fetch throw.
class FakeFetcher : public crawl::IPageFetcher {
  public:
    struct Shared {
        std::mutex mutex;
        std::map<std::string, std::string> pages;
        std::map<std::string, std::deque<crawl::FetchResult>> script;
        std::string throwOn;
        std::vector<std::string> fetched;
        bool sessionOpens = true;
    };
    explicit FakeFetcher(std::shared_ptr<Shared> shared) : shared_(std::move(shared)) {}

    bool OpenSession() override {
        std::lock_guard<std::mutex> lock(shared_->mutex);
        return shared_->sessionOpens;
    }
    crawl::FetchResult FetchPage(const std::string& address) override {
        std::lock_guard<std::mutex> lock(shared_->mutex);
        shared_->fetched.push_back(address);
        if (address == shared_->throwOn) {
            throw std::runtime_error("fetcher broke");
        }
        auto scripted = shared_->script.find(address);
        if (scripted != shared_->script.end() && !scripted->second.empty()) {
            crawl::FetchResult r = scripted->second.front();
            scripted->second.pop_front();
            return r;
        }
        auto it = shared_->pages.find(address);
        return it == shared_->pages.end() ? crawl::FetchResult::Failure("HTTP 404", false, 404)
                                          : crawl::FetchResult::Page(it->second);
    }

  private:
    std::shared_ptr<Shared> shared_;
};

class MemoryStore : public store::IRecordWriter {
  public:
    struct Shared {
        std::mutex mutex;
        std::vector<store::MemberRecord> rows;
        std::map<std::int64_t, store::KeptFailure> failures;
        std::int64_t nextFailureId = 1;
        std::set<std::int64_t> claimed;  // kept failures a retry holds
        int failAfter = -1;              // rows accepted before every append fails
    };
    explicit MemoryStore(std::shared_ptr<Shared> shared) : shared_(std::move(shared)) {}

    std::int64_t AppendMemberRecord(const store::MemberRecord& record) override {
        std::lock_guard<std::mutex> lock(shared_->mutex);
        return Append(record);
    }
    EntryWrite AppendEntry(const store::MemberRecord& record) override {
        std::lock_guard<std::mutex> lock(shared_->mutex);
        EntryWrite w;
        const std::int64_t row = RowOfEntry(record.entry);
        if (row == 0) {
            w.rowId = Append(record);
            return w;
        }
        for (auto it = shared_->failures.begin(); it != shared_->failures.end(); ++it) {
            if (it->second.rowId == row &&
                it->second.kind == store::KeptFailure::Kind::ContactPage) {
                store::MemberRecord& stored = shared_->rows[static_cast<size_t>(row - 1)];
                const std::string title = stored.title;
                stored = record;
                stored.title = title;
                w.rowId = row;
                w.healedFailure = it->first;
                shared_->failures.erase(it);
                break;
            }
        }
        return w;
    }
    std::set<std::string> EntriesFrom(const std::string& prefix) override {
        std::lock_guard<std::mutex> lock(shared_->mutex);
        std::set<std::string> keys;
        for (const auto& r : shared_->rows) {
            if (!r.entry.empty() && r.entry.rfind(prefix, 0) == 0) {
                keys.insert(r.entry);
            }
        }
        return keys;
    }
    bool HasEntry(const std::string& entry) override {
        std::lock_guard<std::mutex> lock(shared_->mutex);
        return RowOfEntry(entry) != 0;
    }
    bool HasUnkeyedContact(const std::string& address, const std::string& title,
                           const std::string&) override {
        std::lock_guard<std::mutex> lock(shared_->mutex);
        for (const auto& r : shared_->rows) {
            if (r.entry.empty() && r.contact == address && r.title == title) {
                return true;
            }
        }
        return false;
    }
    std::int64_t FillMemberRecord(std::int64_t rowId, const store::MemberRecord& record,
                                  std::int64_t failureId) override {
        std::lock_guard<std::mutex> lock(shared_->mutex);
        store::MemberRecord& row = shared_->rows.at(static_cast<size_t>(rowId - 1));
        const std::string title = row.title;
        row = record;
        row.title = title;
        shared_->failures.erase(failureId);
        return rowId;
    }
    std::int64_t KeepFailure(store::KeptFailure& failure,
                             const store::MemberRecord* placeholder) override {
        std::lock_guard<std::mutex> lock(shared_->mutex);
        if (placeholder != nullptr) {
            failure.rowId = RowOfEntry(placeholder->entry);
            if (failure.rowId == 0) {
                shared_->rows.push_back(*placeholder);
                failure.rowId = static_cast<std::int64_t>(shared_->rows.size());
            }
        }
        for (auto& [id, kept] : shared_->failures) {
            if (kept.kind == failure.kind && kept.address == failure.address &&
                kept.title == failure.title) {
                failure.id = id;
                kept = failure;
                return id;
            }
        }
        failure.id = shared_->nextFailureId++;
        shared_->failures[failure.id] = failure;
        return failure.id;
    }
    std::optional<std::string> ClaimFailure(std::int64_t id, std::chrono::seconds,
                                            const std::string& run) override {
        std::lock_guard<std::mutex> lock(shared_->mutex);
        if (shared_->failures.count(id) == 0 || !shared_->claimed.insert(id).second) {
            return std::nullopt;
        }
        return run;
    }
    void ReleaseFailure(std::int64_t id, const std::string&) override {
        std::lock_guard<std::mutex> lock(shared_->mutex);
        shared_->claimed.erase(id);
    }
    std::vector<store::KeptFailure> KeptFailures() override {
        std::lock_guard<std::mutex> lock(shared_->mutex);
        std::vector<store::KeptFailure> out;
        for (const auto& [id, f] : shared_->failures) {
            out.push_back(f);
        }
        return out;
    }
    std::int64_t DropFailureAt(store::KeptFailure::Kind kind, const std::string& address) override {
        std::lock_guard<std::mutex> lock(shared_->mutex);
        for (auto it = shared_->failures.begin(); it != shared_->failures.end(); ++it) {
            if (it->second.kind == kind && it->second.address == address) {
                const std::int64_t id = it->first;
                shared_->failures.erase(it);
                return id;
            }
        }
        return 0;
    }
    bool IsKnownCompany(const std::string& contact, const std::string& name,
                        const std::string&) override {
        std::lock_guard<std::mutex> lock(shared_->mutex);
        for (const auto& r : shared_->rows) {
            if ((!contact.empty() && r.contact == contact) || r.title == name) {
                return true;
            }
        }
        return false;
    }
    bool HasContact(const std::string& address, const std::string& title) override {
        std::lock_guard<std::mutex> lock(shared_->mutex);
        for (const auto& r : shared_->rows) {
            if (r.contact == address && (title.empty() || r.title == title)) {
                return true;
            }
        }
        return false;
    }

  private:
    // Called with the mutex held.
    std::int64_t Append(const store::MemberRecord& record) {
        if (shared_->failAfter >= 0 &&
            static_cast<int>(shared_->rows.size()) >= shared_->failAfter) {
            throw store::StoreError("disk I/O error");
        }
        shared_->rows.push_back(record);
        return static_cast<std::int64_t>(shared_->rows.size());
    }
    std::int64_t RowOfEntry(const std::string& entry) const {
        for (size_t i = 0; !entry.empty() && i < shared_->rows.size(); ++i) {
            if (shared_->rows[i].entry == entry) {
                return static_cast<std::int64_t>(i + 1);
            }
        }
        return 0;
    }
    std::shared_ptr<Shared> shared_;
};
