#pragma once
// The one place where the outcome of a listing entry becomes a row: it admits an entry before
// its contact page is fetched (taken in the run's ledger, not stored already, not a company
// the run skips as known), then stores its record, fills the row kept for it, or keeps the
// failure with the company's row in its place, and reports each (RecordSaved, FetchFailed,
// FailureHealed). It keeps result pages that failed and heals those read whole. Every write
// happens under the worker's store gate, so a clear of the store waits for it or drops it.

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "crawl/CrawlJob.h"
#include "crawl/FetchResult.h"
#include "crawl/PageSource.h"
#include "crawl/RunLedger.h"
#include "store/RecordWriter.h"

namespace crawl {

// One listing entry (or one kept contact page) on its way to the store.
struct Entry {
    std::string name;       // GBK
    std::string address;    // its contact page
    std::string key;        // EntryKeyOf; empty for a kept contact page fetched on its own
    std::int64_t keptFailure = 0;  // that page's failure: the row it fills is that failure's
    std::string region;     // GBK, of its search
    std::string condition;  // GBK, of its search
    int page = 0;
    int round = 1;  // the walk of the search it was listed in
    bool unkeyedRowsCount = false;
    // The contact page's outcome: the failure, or the record read from it (the page itself
    // is not kept once read).
    FetchResult result;
    store::MemberRecord record;
    int tries = 0;
    LedgerHold hold;
};

class EntrySink {
  public:
    using Post = std::function<void(CrawlEventBody)>;
    using WriterAccess = std::function<store::IRecordWriter&()>;
    // The job's kept failures are those the walk may meet again (a contact page that succeeds
    // now fills its kept row). `recheckKnown`: entries are admitted long before they are stored
    // (several lanes), so a company skipped as known is looked up again when stored.
    EntrySink(const CrawlJob& job, WriterAccess store, StopToken& stop, Post post,
              bool recheckKnown);

    enum class Admission { Fetch, Skip, Stop };
    Admission Admit(Entry& entry);
    // False when the worker's records are dropped from now on (nothing stored).
    bool Store(Entry& entry);
    // Keeps a result page that still fails; false when it was not kept (the worker was told to
    // stop, or its records are dropped): the page stays to be walked again.
    bool KeepPage(const WorkPage& page, const FetchResult& result, int tries);
    // A result page read whole is no longer a failure, whoever kept it.
    void HealPage(const std::string& address);

  private:
    static std::string CompanyKey(const std::string& name, const std::string& address);
    // The kept failure whose row the entry fills, or the end.
    std::multimap<std::string, store::KeptFailure>::iterator KeptFor(const Entry& entry);
    bool Known(const Entry& entry, bool kept);
    bool StoredEntry(const Entry& entry);
    static std::vector<std::string> CompanyOf(const Entry& entry);
    bool StoredThisRun(const Entry& entry) const;
    void NoteStored(const Entry& entry);

    const CrawlJob& job_;
    WriterAccess store_;
    StopToken& stop_;
    Post post_;
    bool recheckKnown_;
    // The companies this walk stored lately: an entry admitted before an earlier entry of the
    // same company was stored is skipped when its turn comes (several lanes admit ahead).
    static constexpr size_t kRecentCompanies = 8192;
    std::set<std::string> storedThisRun_;
    std::deque<std::string> recent_;  // the same, oldest first
    std::string pagePrefix_;          // the page whose stored entries are at hand
    std::set<std::string> pageEntries_;
    int records_ = 0;
    // By CompanyKey; without skip-known a company listed twice may wait on two rows.
    std::multimap<std::string, store::KeptFailure> keptContacts_;
    std::map<std::string, store::KeptFailure> keptPages_;     // by address
    // The statuses kept contact pages had when the run began, by CompanyKey.
    std::map<std::string, int> statusBefore_;
};

}  // namespace crawl
