#include "crawl/EntrySink.h"

#include "crawl/EntryKey.h"
#include "crawl/SearchAddress.h"
#include "store/Store.h"
#include "text/GbkCodec.h"
#include "text/Normalise.h"

namespace crawl {

namespace {

// The industry of a search (GBK "industry^region"), stored with the rows it found.
std::string IndustryOf(const std::string& condition) {
    std::string industry;
    std::string region;
    SplitCondition(condition, industry, region);
    return industry;
}

store::KeptFailure FailureOf(store::KeptFailure::Kind kind, int page, const std::string& address,
                             const std::string& condition, const std::string& reason) {
    store::KeptFailure f;
    f.kind = kind;
    f.page = page;
    f.address = address;
    f.condition = condition;
    f.reason = reason;
    return f;
}

}  // namespace

EntrySink::EntrySink(const CrawlJob& job, WriterAccess store, StopToken& stop, Post post,
                     bool recheckKnown)
    : job_(job),
      store_(std::move(store)),
      stop_(stop),
      post_(std::move(post)),
      recheckKnown_(recheckKnown) {
    for (const store::KeptFailure& f : job.failures) {
        if (f.kind == store::KeptFailure::Kind::ContactPage) {
            keptContacts_.emplace(CompanyKey(f.title, f.address), f);
            if (f.status != 0) {
                statusBefore_[CompanyKey(f.title, f.address)] = f.status;
            }
        } else {
            keptPages_[f.address] = f;
        }
    }
}

std::string EntrySink::CompanyKey(const std::string& name, const std::string& address) {
    // The address alone when it names a page of its own; a link that could not be read leaves
    // only the common prefix, shared by many companies, which their names then tell apart.
    return address + '\x1f' + name;
}

std::vector<std::string> EntrySink::CompanyOf(const Entry& e) {
    // As the store knows a company: by its contact page, or by its name in its region.
    std::vector<std::string> keys;
    if (store::IdentifiesCompany(e.address)) {
        keys.push_back("c" + e.address);
    }
    const std::string name = text::NormaliseName(text::GbkToUtf8(e.name));
    if (!name.empty()) {
        keys.push_back("n" + name + '\x1f' + e.region);
    }
    return keys;
}

bool EntrySink::StoredThisRun(const Entry& e) const {
    for (const std::string& key : CompanyOf(e)) {
        if (storedThisRun_.count(key) != 0) {
            return true;
        }
    }
    return false;
}

void EntrySink::NoteStored(const Entry& e) {
    if (!recheckKnown_ || !job_.options.skipKnown) {
        return;  // nothing is looked up again
    }
    // Only entries admitted before it was stored can meet it again: those in the walk's window,
    // far fewer than kRecentCompanies. The oldest are let go, so memory stays flat.
    for (std::string& key : CompanyOf(e)) {
        if (storedThisRun_.insert(key).second) {
            recent_.push_back(std::move(key));
        }
    }
    while (recent_.size() > kRecentCompanies) {
        storedThisRun_.erase(recent_.front());
        recent_.pop_front();
    }
}

bool EntrySink::StoredEntry(const Entry& e) {
    // The entries of a page are looked up together, when its first one is admitted; one stored
    // meanwhile by another collector is not stored twice either (the store refuses it).
    const std::string prefix = EntryPagePrefix(e.condition, e.page, e.round);
    if (prefix != pagePrefix_) {
        pageEntries_ = store_().EntriesFrom(prefix);
        pagePrefix_ = prefix;
    }
    return pageEntries_.count(e.key) != 0;
}

std::multimap<std::string, store::KeptFailure>::iterator EntrySink::KeptFor(const Entry& e) {
    const auto [first, last] = keptContacts_.equal_range(CompanyKey(e.name, e.address));
    if (e.keptFailure != 0) {
        // A kept contact page fetched on its own fills the row of its own failure (none left:
        // a walk of its page filled it already).
        for (auto kept = first; kept != last; ++kept) {
            if (kept->second.id == e.keptFailure) {
                return kept;
            }
        }
        return keptContacts_.end();
    }
    if (job_.options.skipKnown || e.key.empty()) {
        return first != last ? first : keptContacts_.end();
    }
    // Without skip-known every entry is a row of its own: a row kept for one entry of the
    // company is filled by that entry alone, never by another listing of the company.
    for (auto kept = first; kept != last; ++kept) {
        if (kept->second.entry.empty() || kept->second.entry == e.key) {
            return kept;
        }
    }
    return keptContacts_.end();
}

bool EntrySink::Known(const Entry& e, bool kept) {
    return job_.options.skipKnown && !kept && store_().IsKnownCompany(e.address, e.name, e.region);
}

EntrySink::Admission EntrySink::Admit(Entry& e) {
    if (RunLedger* ledger = job_.ledger.get()) {
        // A worker the watchdog started over the same page waits for what the stalled one
        // still has in hand.
        // A kept contact page fetched on its own is its failure's (a company may wait on two).
        const std::string taken = !e.key.empty()       ? e.key
                                  : e.keptFailure != 0 ? "kept\x1f" + std::to_string(e.keptFailure)
                                                       : "kept\x1f" + CompanyKey(e.name, e.address);
        switch (ledger->Take(taken, &stop_)) {
            case RunLedger::Claim::Mine:
                e.hold = LedgerHold(ledger, taken);
                break;
            case RunLedger::Claim::Waited:
                // The stalled worker may have stored it meanwhile: the store's index knows.
                e.hold = LedgerHold(ledger, taken);
                if (!e.key.empty() && store_().HasEntry(e.key)) {
                    e.hold.MarkDone();
                    return Admission::Skip;
                }
                break;
            case RunLedger::Claim::Stopped:
                return Admission::Stop;
        }
    }
    const bool kept = KeptFor(e) != keptContacts_.end();
    if (e.key.empty() && !kept) {
        // A kept contact page fetched on its own whose row a walk of its page filled already.
        e.hold.MarkDone();
        return Admission::Skip;
    }
    store::IRecordWriter& store = store_();
    // The entry is stored (a row kept for its failed contact page is filled instead); a row of
    // an older file stands for it too where it may; a known company is skipped when asked.
    if ((!e.key.empty() && !kept && StoredEntry(e)) ||
        (e.unkeyedRowsCount && store.HasUnkeyedContact(e.address, e.name, e.region)) ||
        Known(e, kept)) {
        e.hold.MarkDone();
        return Admission::Skip;
    }
    return Admission::Fetch;
}

bool EntrySink::Store(Entry& e) {
    // Held across the writes below, so a clear of the store waits for them or they are dropped.
    auto gate = stop_.StoreGate();
    if (!gate) {
        return false;
    }
    store::IRecordWriter& store = store_();
    auto kept = KeptFor(e);
    const bool hasKeptRow = kept != keptContacts_.end() && kept->second.rowId != 0;
    if (recheckKnown_ && job_.options.skipKnown && kept == keptContacts_.end() &&
        StoredThisRun(e)) {
        // Stored since it was admitted, by an earlier entry of this walk.
        e.hold.MarkDone();
        return true;
    }
    // A status the table does not name, given again by a page kept with it in an earlier run,
    // is the directory's settled answer for the company.
    auto before = statusBefore_.find(CompanyKey(e.name, e.address));
    const bool refusedAgain = !e.result.ok && e.result.answer == Answer::Other &&
                              e.result.status != 0 && before != statusBefore_.end() &&
                              before->second == e.result.status;
    // A definite answer (404, 410) still gives the company's row, with its name only.
    if (e.result.ok || e.result.Definite() || refusedAgain) {
        store::MemberRecord record = e.result.ok ? std::move(e.record) : store::MemberRecord{};
        record.title = e.name;
        record.contact = e.address;
        record.region = e.region;
        record.industry = IndustryOf(e.condition);
        record.entry = e.key;
        std::int64_t rowId = 0;
        std::int64_t healed = 0;
        if (hasKeptRow) {
            rowId = store.FillMemberRecord(kept->second.rowId, record, kept->second.id);
            healed = kept->second.id;
        } else {
            const store::IRecordWriter::EntryWrite w = store.AppendEntry(record);
            rowId = w.rowId;
            healed = w.healedFailure;
        }
        e.hold.MarkDone();
        if (rowId == 0) {
            return true;  // stored already: by another collector, or a worker of this run
        }
        ++records_;
        NoteStored(e);
        post_(ev::RecordSaved{rowId, records_, e.address, healed != 0, record.HasContactField(),
                              record, e.result.status});
        if (healed != 0) {
            post_(ev::FailureHealed{healed});
            if (kept != keptContacts_.end()) {
                keptContacts_.erase(kept);
            }
        }
        return true;
    }
    // Still failing: the company keeps its place with what is known, and the page is kept.
    if (!hasKeptRow && !e.key.empty() && store.HasEntry(e.key)) {
        e.hold.MarkDone();  // another collector stored the entry meanwhile
        return true;
    }
    store::KeptFailure f = FailureOf(store::KeptFailure::Kind::ContactPage, e.page, e.address,
                                     e.condition, e.result.reason);
    f.title = e.name;
    f.tries = e.tries;
    f.status = e.result.status;
    f.entry = e.key;
    store::MemberRecord placeholder;
    if (hasKeptRow) {
        f.rowId = kept->second.rowId;
        f.tries += kept->second.tries;
        f.entry = kept->second.entry;
    } else {
        placeholder.title = e.name;
        placeholder.contact = e.address;
        placeholder.region = e.region;
        placeholder.industry = IndustryOf(e.condition);
        placeholder.entry = e.key;
    }
    store.KeepFailure(f, hasKeptRow ? nullptr : &placeholder);
    e.hold.MarkDone();
    if (!hasKeptRow) {
        ++records_;
        NoteStored(e);
        placeholder.waiting = true;
        post_(ev::RecordSaved{f.rowId, records_, e.address, false, false, placeholder,
                              e.result.status});
    }
    if (kept != keptContacts_.end()) {
        kept->second = f;
    } else {
        keptContacts_.emplace(CompanyKey(e.name, e.address), f);
    }
    post_(ev::FetchFailed{f});
    return true;
}

bool EntrySink::KeepPage(const WorkPage& page, const FetchResult& result, int tries) {
    // A worker told to stop leaves its page to the run that resumes there.
    auto gate = stop_.StoreGate();
    if (!gate || stop_.StopRequested()) {
        return false;
    }
    store::KeptFailure f = FailureOf(store::KeptFailure::Kind::ResultPage, page.page, page.address,
                                     page.condition, result.reason);
    auto earlier = keptPages_.find(page.address);
    f.tries = tries + (earlier != keptPages_.end() ? earlier->second.tries : page.earlierTries);
    f.status = result.status;
    store_().KeepFailure(f);
    keptPages_[f.address] = f;
    post_(ev::FetchFailed{f});
    return true;
}

void EntrySink::HealPage(const std::string& address) {
    auto gate = stop_.StoreGate();
    if (!gate) {
        return;
    }
    if (const std::int64_t id =
            store_().DropFailureAt(store::KeptFailure::Kind::ResultPage, address)) {
        post_(ev::FailureHealed{id});
    }
    keptPages_.erase(address);
}

}  // namespace crawl
