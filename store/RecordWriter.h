#pragma once
// What a crawl worker writes to the store (rows, kept failures, the page in progress), apart
// from what the window and collector-cli read.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "store/KeptFailure.h"
#include "store/MemberRecord.h"

namespace store {

class ISharedPages;

// What the crawl needs of the store. A failure throws StoreError; when a call returns, its
// change is committed.
class IRecordWriter {
  public:
    virtual ~IRecordWriter() = default;
    // Appends one row (with its contact address) and gives its id; 0 when the row's entry
    // (record.entry, when not empty) is stored already.
    virtual std::int64_t AppendMemberRecord(const MemberRecord& record) = 0;
    // What storing a listing entry's row did.
    struct EntryWrite {
        std::int64_t rowId = 0;          // the row written; 0: the entry was stored already
        std::int64_t healedFailure = 0;  // a row kept for its failed contact page was filled
    };
    // Stores the row of a listing entry (record.entry) in one transaction: appended when the
    // store holds no row of that entry; filled in when the row it holds was kept in the place
    // of a failed contact page (that failure is dropped); else nothing.
    virtual EntryWrite AppendEntry(const MemberRecord& record) = 0;
    // Whether a row of this listing entry is stored.
    virtual bool HasEntry(const std::string& entry) = 0;
    // The stored entries whose keys begin with `prefix` (those of one result page): one look
    // instead of one per entry.
    virtual std::set<std::string> EntriesFrom(const std::string& prefix) = 0;
    // Whether a row stored before rows knew their entry has this contact address (and, when the
    // address names no company of its own, this title) and this region or none: such a row may
    // stand for an entry of the page a run resumes at.
    virtual bool HasUnkeyedContact(const std::string& address, const std::string& title,
                                   const std::string& region) = 0;
    // Writes the contact details into a row kept for a failed contact page (the company name
    // stays as it is) and drops the failure, in one transaction. A row that is no longer
    // there is appended instead. Gives the row's id; 0, writing nothing, when the failure is
    // gone (another collector healed it, or the store was cleared).
    virtual std::int64_t FillMemberRecord(std::int64_t rowId, const MemberRecord& record,
                                          std::int64_t failureId) = 0;
    // Keeps a failure (or, when one with the same kind, address and company is kept, updates
    // it) and gives its id. With `placeholder`, the company's row is appended first, in the
    // same transaction, and `failure.rowId` names it; when the placeholder's entry is stored
    // already, that row is the one named and nothing is appended.
    virtual std::int64_t KeepFailure(KeptFailure& failure,
                                     const MemberRecord* placeholder = nullptr) = 0;
    // Claims kept failure `id` for the retry run `run` (a token of that run, shared by all its
    // workers) for `lease`: the claim's token, or nothing when it is gone or another run holds
    // it. A worker the watchdog started takes over what the stalled worker of its run claimed.
    // Keeping it again lets the claim go.
    virtual std::optional<std::string> ClaimFailure(std::int64_t id, std::chrono::seconds lease,
                                                    const std::string& run) = 0;
    // Gives a claim back unused (the retry stopped before it).
    virtual void ReleaseFailure(std::int64_t id, const std::string& token) = 0;
    // Every kept failure, oldest first.
    virtual std::vector<KeptFailure> KeptFailures() = 0;
    // Drops the kept failure of that kind and address, if any; gives its id (0: none).
    virtual std::int64_t DropFailureAt(KeptFailure::Kind kind, const std::string& address) = 0;
    // Whether a row with this contact address is stored (GBK in); with `title`, or when the
    // address names no company of its own, only a row with that name too.
    virtual bool HasContact(const std::string& address, const std::string& title) = 0;
    // Whether the company is stored: by its contact page, or by its normalised name together
    // with the region of its search (GBK in).
    virtual bool IsKnownCompany(const std::string& contact, const std::string& name,
                                const std::string& region) = 0;
    // From now on a call that waits (on a database server) gives up, throwing
    // StoreInterrupted, once `flag` is raised; a file store never waits long and ignores it.
    virtual void SetInterrupt(const std::atomic<bool>* flag) { (void)flag; }
    // Called while a call waits on a server: with how long it has waited, about every tenth of
    // a second from a second on, and with 0 once that wait is over. Giving false gives the call
    // up (StoreInterrupted). A window shows that the database does not answer with it; a file
    // store never waits long and never calls it.
    using WaitHook = std::function<bool(std::chrono::milliseconds waited)>;
    virtual void SetWaitHook(WaitHook hook) { (void)hook; }
    // False once the store gave its connection up (a dead server, a stop): open it anew.
    virtual bool Usable() const { return true; }
    // The shared work of searches, when several collectors use this store at once.
    virtual ISharedPages* SharedPages() { return nullptr; }
};

}  // namespace store
