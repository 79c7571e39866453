#include "crawl/CSpiderThread.h"

#include <thread>

#include "crawl/ContactParser.h"
#include "crawl/ListingParser.h"
#include "crawl/SearchAddress.h"
#include "store/SharedPages.h"
#include "store/Store.h"
#include "store/StoreError.h"
#include "text/GbkCodec.h"
#include "text/GbkSearch.h"
#include "text/Number.h"

CSpiderThread::CSpiderThread(CrawlJob job, std::unique_ptr<IPageFetcher> fetcher,
                             RecordWriterFactory openStore, std::shared_ptr<StopToken> stop,
                             int workerId, BackoffWaiter wait, LaneFetcherFactory makeLanes)
    : m_nKind(job.nKind),
      m_nMode(job.nMode),
      m_nStartPage(job.nStartPage),
      m_nLastPage(job.nLastPage),
      m_strCondition(job.strCondition),
      m_strStorePath(job.strStorePath),
      m_job(std::move(job)),
      m_pFetcher(std::move(fetcher)),
      m_openStore(std::move(openStore)),
      m_pStop(stop ? std::move(stop) : std::make_shared<StopToken>()),
      m_nWorkerId(workerId),
      m_wait(wait ? std::move(wait) : RealTimeWaiter()),
      m_makeLanes(std::move(makeLanes)),
      m_pacer(m_job.nLanes, m_job.delay) {
    for (const KeptFailure& f : m_job.failures) {
        if (f.kind == KeptFailure::Kind::ContactPage) {
            m_keptContacts[CompanyKey(f.title, f.address)] = f;
        } else {
            m_keptPages[f.address] = f;
        }
    }
}

void CSpiderThread::Post(CrawlEventBody body) {
    if (m_job.pNotify) {
        m_job.pNotify->Post(CrawlEvent{m_nWorkerId, std::move(body)});
    }
}

bool CSpiderThread::StopRequested() const {
    return m_pStop->StopRequested();
}

IRecordWriter& CSpiderThread::Store() {
    if (!m_pStore) {
        m_pStore = m_openStore(m_strStorePath);
    }
    return *m_pStore;
}

int CSpiderThread::RunJob() {
    if (!m_pFetcher->OpenSession()) {
        Post(ev::NetFailed{"HTTP session could not be opened"});
        return 0;
    }
    try {
        if (m_nMode == CRAWL_MODE_PRECOLLECT) {
            PreCollect();
        } else if (m_nMode == CRAWL_MODE_COLLECT) {
            CollectPages();
        } else if (m_nMode == CRAWL_MODE_RETRY) {
            RetryFailures();
        }
    } catch (const StoreError& e) {
        // The record was not stored: it is neither counted nor reported, and the crawl ends.
        Post(ev::StoreFailed{e.what()});
    } catch (const Outage& e) {
        LeaveSharedPage();
        Post(ev::NetFailed{e.reason});
    }
    return 1;
}

std::string CSpiderThread::BuildKeyword() {
    if (m_nKind != CRAWL_KIND_MEMBER) {
        return {};
    }
    SplitCondition(m_strCondition, m_strIndustry, m_strRegion);
    return KeywordFor(m_strIndustry, m_strRegion);
}

CSpiderThread::Attempt CSpiderThread::FetchWithRetries(const std::string& address) {
    Attempt a;
    for (;;) {
        // Without a delay between requests one lane has nothing to pace.
        if (m_job.delay.count() > 0 && !WaitForHost(address)) {
            a.stopped = true;
            return a;
        }
        // One lane has nothing to halve, and its retry waits already honour Retry-After: only
        // the spacing between requests applies.
        a.result = m_pFetcher->FetchPage(address);
        ++a.tries;
        if (a.result.ok || !a.result.retryable || a.tries > m_job.retry.maxRetries) {
            return a;
        }
        const std::chrono::milliseconds wait = m_job.retry.WaitBefore(a.tries, a.result);
        Post(ev::BackingOff{wait.count()});
        KeepLease(wait);
        if (m_wait(wait, *m_pStop)) {
            a.stopped = true;
            return a;
        }
    }
}

bool CSpiderThread::WaitForHost(const std::string& address) {
    const std::string host = HostOf(address);
    const auto now = std::chrono::steady_clock::now();
    const auto ready = m_pacer.ReadyAt(host);
    if (ready > now &&
        m_wait(std::chrono::ceil<std::chrono::milliseconds>(ready - now), *m_pStop)) {
        return false;
    }
    m_pacer.Started(host, std::chrono::steady_clock::now());
    return true;
}

void CSpiderThread::NoteOutcome(const FetchResult& result) {
    if (result.ok || !result.retryable) {
        m_nFailuresInARow = 0;
        return;
    }
    m_strLastReason = result.reason;
    if (++m_nFailuresInARow >= m_job.retry.outageAfter) {
        throw Outage{result.reason};
    }
}

void CSpiderThread::PreCollect() {
    if (m_nKind != CRAWL_KIND_MEMBER) {
        return;
    }
    Attempt a = FetchWithRetries(PreCollectAddress(BuildKeyword()));
    if (a.stopped) {
        return;
    }
    if (!a.result.ok) {
        // Without the first page nothing is known: never report it as "no matches".
        Post(ev::NetFailed{a.result.reason});
        return;
    }
    const std::string& page = a.result.body;
    static const std::string found = text::Utf8ToGbk("共找到");
    static const std::string matching = text::Utf8ToGbk("条符合");
    static const std::string pagesStart = text::Utf8ToGbk("total-page\">共");
    static const std::string pagesEnd = text::Utf8ToGbk("页<");
    std::int64_t matches =
        text::LeadingLong(text::Trim(text::ExtractBetween(page, found, matching)));
    int pages = text::LeadingInt(text::ExtractBetween(page, pagesStart, pagesEnd));
    if (pages == 0) {
        pages = 1;
    }
    Post(ev::PreCollected{pages, matches});
}

void CSpiderThread::LeaveSharedPage() {
    if (m_pShared == nullptr || !m_claim) {
        return;
    }
    try {
        m_pShared->ReleasePage(m_nSearch, *m_claim);
    } catch (const StoreError&) {
        // Its lease runs out on its own.
    }
    m_claim.reset();
}

KeptFailure CSpiderThread::PageFailure(int page, const std::string& address,
                                       const Attempt& a) const {
    KeptFailure f;
    f.kind = KeptFailure::Kind::ResultPage;
    f.page = page;
    f.address = address;
    f.reason = a.result.reason;
    auto kept = m_keptPages.find(address);
    f.tries = a.tries + (kept != m_keptPages.end() ? kept->second.tries : 0);
    return f;
}

bool CSpiderThread::KeepPage(KeptFailure failure) {
    // A worker told to stop leaves its page to the run that resumes there.
    auto gate = m_pStop->StoreGate();
    if (!gate || StopRequested()) {
        return false;
    }
    failure.condition = m_strCondition;
    Store().KeepFailure(failure);
    m_keptPages[failure.address] = failure;
    Post(ev::FetchFailed{failure});
    return true;
}

void CSpiderThread::HealPage(const std::string& address) {
    auto gate = m_pStop->StoreGate();
    if (!gate) {
        return;
    }
    if (const std::int64_t id = Store().DropFailureAt(KeptFailure::Kind::ResultPage, address)) {
        Post(ev::FailureHealed{id});
    }
    m_keptPages.erase(address);
}

void CSpiderThread::CollectPages() {
    if (m_nKind != CRAWL_KIND_MEMBER) {
        return;
    }
    const std::string keyword = BuildKeyword();
    m_nRecords = 0;
    // A store several collectors share hands out the pages (opened now only then: a file
    // is opened at the first record).
    if (IsPostgresLocation(m_strStorePath)) {
        if (ISharedPages* shared = Store().SharedPages()) {
            CollectShared(*shared);
            return;
        }
    }
    if (m_job.nLanes > 1 && m_makeLanes) {
        CollectInLanes(keyword);
        return;
    }
    for (long long p = m_nStartPage; p <= m_nLastPage; ++p) {
        if (StopRequested()) {
            return;
        }
        m_nPage = static_cast<int>(p);
        Post(ev::PageStarted{m_nPage});
        const std::string address = ResultPageAddress(keyword, m_nPage);
        Attempt a = FetchWithRetries(address);
        if (a.stopped) {
            return;
        }
        if (!a.result.ok) {
            KeepPage(PageFailure(m_nPage, address, a));
            NoteOutcome(a.result);
            continue;
        }
        NoteOutcome(a.result);
        if (!ParseListingPage(ListingBlockOf(a.result.body))) {
            return;
        }
        // The page is read whole: kept from an earlier run or by another worker of this one,
        // it is no longer a failure.
        HealPage(address);
    }
    if (!StopRequested()) {
        Post(ev::Finished{});
    }
}

void CSpiderThread::RetryFailures() {
    m_nRecords = 0;
    for (const KeptFailure& f : m_job.failures) {
        if (WaitWhilePaused() == Gate::Stop) {
            return;
        }
        if (f.kind == KeptFailure::Kind::ResultPage) {
            RetryPage(f);
        } else {
            RetryContact(f);
        }
        if (StopRequested()) {
            return;
        }
    }
    Post(ev::Finished{});
}

void CSpiderThread::RetryPage(const KeptFailure& f) {
    m_strCondition = f.condition;
    BuildKeyword();  // the region filter of that search
    m_nPage = f.page;
    Attempt a = FetchWithRetries(f.address);
    if (a.stopped) {
        return;
    }
    if (!a.result.ok) {
        KeptFailure again = f;
        again.reason = a.result.reason;
        again.tries += a.tries;
        KeepPage(std::move(again));
        NoteOutcome(a.result);
        return;
    }
    NoteOutcome(a.result);
    m_bSkipStored = true;
    const bool whole = ParseListingPage(ListingBlockOf(a.result.body));
    m_bSkipStored = false;
    if (whole) {
        HealPage(f.address);
    }
}

void CSpiderThread::RetryContact(const KeptFailure& f) {
    m_strCondition = f.condition;
    BuildKeyword();  // the region of that search, kept with the company's row
    m_nPage = f.page;
    ParseContactPage(f.title, f.address);
}

CSpiderThread::Gate CSpiderThread::WaitWhilePaused() {
    for (;;) {
        if (StopRequested()) {
            return Gate::Stop;
        }
        RunState word = m_job.pRunControl ? m_job.pRunControl->load() : RunState::Empty;
        if (word == RunState::Stop) {
            return Gate::Stop;
        }
        if (word != RunState::Pause) {
            return Gate::Go;
        }
        if (!KeepLease(std::chrono::milliseconds(kPausePollMs))) {
            return Gate::Stop;  // the page is another collector's now
        }
        m_pStop->WaitFor(std::chrono::milliseconds(kPausePollMs));
    }
}

bool CSpiderThread::ForEachCompany(const std::string& block, const std::function<bool()>& entry,
                                   const std::function<bool(std::string, std::string)>& company) {
    size_t p = text::FindText(block, kEntryMarker);
    if (p == text::npos) {
        return true;
    }
    for (;;) {
        if (!entry()) {
            return false;
        }
        const size_t begin = p + kEntryMarker.size();
        const size_t q = text::FindText(block, kEntryMarker, begin);
        std::string_view e(block);
        e = q == text::npos ? e.substr(begin) : e.substr(begin, q - begin);
        if (text::ContainsText(e, m_strRegion) &&
            !company(CompanyNameOfEntry(e), ContactAddressOfEntry(e))) {
            return false;
        }
        if (q == text::npos) {
            return true;
        }
        p = q;
    }
}

bool CSpiderThread::ParseListingPage(std::string block) {
    return ForEachCompany(
        block, [this] { return KeepLease() && WaitWhilePaused() == Gate::Go; },
        [this](std::string name, std::string address) {
            // False: stopped with this company neither stored nor kept.
            return ParseContactPage(std::move(name), std::move(address));
        });
}

std::string CSpiderThread::CompanyKey(const std::string& name, const std::string& address) {
    // The address alone when it names a page of its own; a link that could not be read leaves
    // only the common prefix, shared by many companies, which their names then tell apart.
    return address + '\x1f' + name;
}

CSpiderThread::Admission CSpiderThread::Admit(const std::string& name, const std::string& address,
                                              const std::string& key, LedgerHold& hold) {
    if (RunLedger* ledger = m_job.pLedger.get()) {
        switch (ledger->Take(key, m_pStop.get())) {
            case RunLedger::Claim::Mine:
                hold = LedgerHold(ledger, key);
                break;
            case RunLedger::Claim::Done:
                return Admission::Skip;
            case RunLedger::Claim::Stopped:
                return Admission::Stop;
        }
    }
    if (AlreadyStored(name, address, key)) {
        hold.MarkDone();
        return Admission::Skip;
    }
    return Admission::Fetch;
}

bool CSpiderThread::AlreadyStored(const std::string& name, const std::string& address,
                                  const std::string& key) {
    // A retried result page may list companies an earlier, interrupted walk of it stored; a
    // run told to skip known companies skips any stored before (a kept row is filled instead).
    const bool keptRow = m_keptContacts.count(key) != 0;
    return (m_bSkipStored && Store().HasContact(address, name)) ||
           (m_job.bSkipKnown && !keptRow && Store().IsKnownCompany(address, name, m_strRegion));
}

bool CSpiderThread::ParseContactPage(std::string name, std::string address) {
    const std::string key = CompanyKey(name, address);
    // Whatever leaves this function, the company is no longer in hand.
    LedgerHold hold;
    switch (Admit(name, address, key, hold)) {
        case Admission::Fetch:
            break;
        case Admission::Skip:
            return true;
        case Admission::Stop:
            return false;
    }
    Attempt a = FetchWithRetries(address);
    if (a.stopped) {
        return false;
    }
    return StoreContact(std::move(name), address, key, a, hold);
}

bool CSpiderThread::StoreContact(std::string name, const std::string& address,
                                 const std::string& key, const Attempt& a, LedgerHold& hold) {
    // Held across the writes below, so a clear of the store waits for them or they are dropped.
    auto gate = m_pStop->StoreGate();
    if (!gate) {
        return false;
    }
    auto kept = m_keptContacts.find(key);
    // A definite answer (404 and the like) still gives the company's row, with its name only.
    if (a.result.ok || a.result.Definite()) {
        MemberRecord record = ExtractContactFields(a.result.ok ? a.result.body : std::string());
        record.title = std::move(name);
        record.contact = address;
        record.region = m_strRegion;
        const bool filled = kept != m_keptContacts.end() && kept->second.rowId != 0;
        std::int64_t rowId = 0;
        if (filled) {
            rowId = Store().FillMemberRecord(kept->second.rowId, record, kept->second.id);
        } else if (m_pShared != nullptr) {
            rowId = m_pShared->AppendForSearch(m_nSearch, record);
            if (rowId == 0) {
                // A page walked again after its collector died: this company is stored.
                hold.MarkDone();
                NoteOutcome(a.result);
                return true;
            }
        } else {
            rowId = Store().AppendMemberRecord(record);
        }
        hold.MarkDone();
        ++m_nRecords;
        Post(ev::RecordSaved{rowId, m_nRecords, address, filled});
        if (filled) {
            Post(ev::FailureHealed{kept->second.id});
            m_keptContacts.erase(kept);
        }
        NoteOutcome(a.result);
        return true;
    }
    // Still failing: the company keeps its place with what is known, and the page is kept.
    KeptFailure f;
    f.kind = KeptFailure::Kind::ContactPage;
    f.page = m_nPage;
    f.address = address;
    f.title = name;
    f.condition = m_strCondition;
    f.reason = a.result.reason;
    f.tries = a.tries;
    MemberRecord placeholder;
    const bool known = kept != m_keptContacts.end() && kept->second.rowId != 0;
    if (known) {
        f.rowId = kept->second.rowId;
        f.tries += kept->second.tries;
    } else {
        placeholder.title = std::move(name);
        placeholder.contact = address;
        placeholder.region = m_strRegion;
    }
    if (m_pShared != nullptr) {
        // The company's row of the search, appended only when the search holds none.
        m_pShared->KeepFailureForSearch(m_nSearch, f, known ? nullptr : &placeholder);
    } else {
        Store().KeepFailure(f, known ? nullptr : &placeholder);
    }
    hold.MarkDone();
    if (!known) {
        ++m_nRecords;
        Post(ev::RecordSaved{f.rowId, m_nRecords, address, false});
    }
    m_keptContacts[key] = f;
    Post(ev::FetchFailed{f});
    NoteOutcome(a.result);
    return true;
}
