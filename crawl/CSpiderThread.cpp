#include "crawl/CSpiderThread.h"

#include <thread>

#include "crawl/ContactParser.h"
#include "crawl/ListingParser.h"
#include "crawl/SearchAddress.h"
#include "store/StoreError.h"
#include "text/GbkCodec.h"
#include "text/GbkSearch.h"
#include "text/Number.h"

CSpiderThread::CSpiderThread(CrawlJob job, std::unique_ptr<IPageFetcher> fetcher,
                             RecordWriterFactory openStore, std::shared_ptr<StopToken> stop,
                             int workerId)
    : m_nKind(job.nKind),
      m_nMode(job.nMode),
      m_nStartPage(job.nStartPage),
      m_nLastPage(job.nLastPage),
      m_strCondition(job.strCondition),
      m_strStorePath(job.strStorePath),
      m_job(std::move(job)),
      m_pFetcher(std::move(fetcher)),
      m_openStore(std::move(openStore)),
      m_pStop(std::move(stop)),
      m_nWorkerId(workerId) {}

void CSpiderThread::Post(int message, std::int64_t wParam, std::int64_t lParam, std::int64_t rowId,
                         std::string error) {
    if (m_job.pNotify) {
        m_job.pNotify->Post(
            CrawlNotification{message, wParam, lParam, m_nWorkerId, rowId, std::move(error)});
    }
}

bool CSpiderThread::StopRequested() const {
    return m_pStop && m_pStop->StopRequested();
}

int CSpiderThread::RunJob() {
    if (!m_pFetcher->OpenSession()) {
        Post(WM_CRAWL_NET_FAILED, 0, -2);
        return 0;
    }
    if (m_nMode == CRAWL_MODE_PRECOLLECT) {
        PreCollect();
    } else if (m_nMode == CRAWL_MODE_COLLECT) {
        try {
            CollectPages();
        } catch (const StoreError& e) {
            // The record was not stored: it is neither counted nor reported, and the crawl ends.
            Post(WM_CRAWL_STORE_FAILED, 0, m_nRecords, 0, e.what());
        }
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

void CSpiderThread::PreCollect() {
    if (m_nKind != CRAWL_KIND_MEMBER) {
        return;
    }
    std::string page = m_pFetcher->FetchPage(PreCollectAddress(BuildKeyword()));
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
    Post(WM_CRAWL_PRECOLLECTED, pages, matches);
}

void CSpiderThread::CollectPages() {
    if (m_nKind != CRAWL_KIND_MEMBER) {
        return;
    }
    const std::string keyword = BuildKeyword();
    m_nRecords = 0;
    for (long long p = m_nStartPage; p <= m_nLastPage; ++p) {
        if (StopRequested()) {
            return;
        }
        Post(WM_CRAWL_PAGE_STARTED, 0, p);
        std::string page = m_pFetcher->FetchPage(ResultPageAddress(keyword, static_cast<int>(p)));
        if (!ParseListingPage(ListingBlockOf(page))) {
            return;
        }
    }
    if (!StopRequested()) {
        Post(WM_CRAWL_FINISHED, 0, 0);
    }
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
        if (m_pStop) {
            m_pStop->WaitFor(std::chrono::milliseconds(kPausePollMs));
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(kPausePollMs));
        }
    }
}

bool CSpiderThread::ParseListingPage(std::string block) {
    size_t p = text::FindText(block, kEntryMarker);
    if (p == text::npos) {
        return true;
    }
    for (;;) {
        if (WaitWhilePaused() == Gate::Stop) {
            return false;
        }
        const size_t begin = p + kEntryMarker.size();
        const size_t q = text::FindText(block, kEntryMarker, begin);
        std::string_view entry(block);
        entry = q == text::npos ? entry.substr(begin) : entry.substr(begin, q - begin);

        std::string name = CompanyNameOfEntry(entry);
        if (text::ContainsText(entry, m_strRegion)) {
            ParseContactPage(std::move(name), ContactAddressOfEntry(entry));
        }
        if (q == text::npos) {
            return true;
        }
        p = q;
    }
}

void CSpiderThread::ParseContactPage(std::string name, std::string address) {
    std::string page = m_pFetcher->FetchPage(address);
    MemberRecord record = ExtractContactFields(page);
    record.title = std::move(name);
    if (!m_pStore) {
        m_pStore = m_openStore(m_strStorePath);
    }
    std::int64_t rowId = m_pStore->AppendMemberRecord(record);
    ++m_nRecords;
    Post(WM_CRAWL_RECORD_SAVED, 0, m_nRecords, rowId);
}
