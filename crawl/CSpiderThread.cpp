#include "crawl/CSpiderThread.h"

#include "crawl/CrawlEngine.h"
#include "crawl/EntrySink.h"
#include "crawl/PageCheck.h"
#include "crawl/SearchAddress.h"
#include "store/SharedPages.h"
#include "store/Store.h"
#include "store/StoreError.h"
#include "text/GbkCodec.h"
#include "text/GbkSearch.h"
#include "text/Number.h"

namespace crawl {

CSpiderThread::CSpiderThread(CrawlJob job, std::unique_ptr<IPageFetcher> fetcher,
                             RecordWriterFactory openStore, std::shared_ptr<StopToken> stop,
                             int workerId, BackoffWaiter wait, LaneFetcherFactory makeLanes,
                             const Clock& clock)
    : m_job(std::move(job)),
      m_pFetcher(std::move(fetcher)),
      m_openStore(std::move(openStore)),
      m_pStop(stop ? std::move(stop) : std::make_shared<StopToken>()),
      m_nWorkerId(workerId),
      m_wait(wait ? std::move(wait) : RealTimeWaiter()),
      m_makeLanes(std::move(makeLanes)),
      m_clock(clock),
      m_pacer(m_job.pacer ? m_job.pacer
                          : std::make_shared<LanePacer>(m_job.options.lanes, m_job.options.delay)) {
}

void CSpiderThread::Post(CrawlEventBody body) {
    if (m_job.pNotify) {
        m_job.pNotify->Post(CrawlEvent{m_nWorkerId, std::move(body)});
    }
}

store::IRecordWriter& CSpiderThread::Store() {
    if (!m_pStore) {
        m_pStore = m_openStore(m_job.strStorePath, &m_pStop->Flag());
    }
    return *m_pStore;
}

int CSpiderThread::RunJob() {
    if (!m_pFetcher->OpenSession()) {
        Post(ev::NetFailed{"无法建立网络会话"});
        return 0;
    }
    // A worker whose run ends without it gives up the fetch in progress: it never outlives
    // its run inside a transfer.
    m_pFetcher->WatchStop(&m_pStop->AbandonFlag());
    try {
        if (m_job.nMode == CRAWL_MODE_PRECOLLECT) {
            PreCollect();
        } else if (m_job.nMode == CRAWL_MODE_COLLECT) {
            CollectPages();
        } else if (m_job.nMode == CRAWL_MODE_RETRY) {
            RetryFailures();
        }
    } catch (const store::StoreError& e) {
        // The record was not stored: it is neither counted nor reported, and the crawl ends.
        Post(ev::StoreFailed{e.what()});
    } catch (const RunBroken& e) {
        Post(ev::NetFailed{e.reason, e.challenged, e.proxy});
    }
    return 1;
}

std::string CSpiderThread::BuildKeyword() {
    if (m_job.nKind != CRAWL_KIND_MEMBER) {
        return {};
    }
    SplitCondition(m_job.strCondition, m_strIndustry, m_strRegion);
    return KeywordFor(m_strIndustry, m_strRegion);
}

void CSpiderThread::PreCollect() {
    if (m_job.nKind != CRAWL_KIND_MEMBER) {
        return;
    }
    const std::string address = PreCollectAddress(BuildKeyword());
    FetchResult result;
    for (int tries = 1;; ++tries) {
        // A verification page instead of the totals is no "0 matches": it is retried, then
        // reported as the failure it is.
        result = CheckResultPage(m_pFetcher->FetchPage(address), 0);
        if (result.answer == Answer::Proxy) {
            Post(ev::NetFailed{std::string(kProxyAuthMessage), false, true});
            return;
        }
        if (result.ok || !result.retryable || tries > m_job.options.retry.maxRetries) {
            break;
        }
        const std::chrono::milliseconds wait = m_job.options.retry.WaitBefore(tries, result);
        Post(ev::BackingOff{wait.count()});
        if (m_wait(wait, *m_pStop)) {
            return;
        }
    }
    if (!result.ok) {
        // Without the first page nothing is known: never report it as "no matches".
        Post(ev::NetFailed{result.reason, false, false, result.status});
        return;
    }
    const SearchTotals totals = ReadTotals(result.body);
    const std::int64_t matches = totals.matches;
    int pages = totals.pages;
    if (pages == 0) {
        pages = 1;
    }
    Post(ev::PreCollected{pages, matches});
}

void CSpiderThread::Walk(IPageSource& source) {
    // Several lanes on their own session; one lane fetches on the worker's, a page at a time.
    std::unique_ptr<ILaneFetcher> lanes;
    if (m_job.options.lanes > 1 && m_makeLanes) {
        lanes = m_makeLanes();
        if (!lanes || !lanes->OpenSession(m_job.options.lanes)) {
            Post(ev::NetFailed{"无法建立网络会话"});
            return;
        }
    } else {
        lanes = std::make_unique<SerialLanes>(*m_pFetcher);
    }
    auto post = [this](CrawlEventBody body) { Post(std::move(body)); };
    EntrySink sink(
        m_job, [this]() -> store::IRecordWriter& { return Store(); }, *m_pStop, post,
        m_job.options.lanes > 1);
    CrawlEngine engine({m_job, *lanes, source, sink, *m_pacer, *m_pStop, m_wait, post, m_clock});
    if (engine.Run() != CrawlEngine::End::Finished || m_pStop->StopRequested()) {
        return;
    }
    // The search is not complete while a page of it is kept, whoever kept it and whenever, nor
    // is a retry while a failure is left (another retry held it): the end names them all.
    for (const store::KeptFailure& f : Store().KeptFailures()) {
        if (m_job.nMode == CRAWL_MODE_RETRY || f.condition == m_job.strCondition) {
            Post(ev::FetchFailed{f});
        }
    }
    Post(ev::Finished{engine.SearchEnded()});
}

void CSpiderThread::CollectPages() {
    if (m_job.nKind != CRAWL_KIND_MEMBER) {
        return;
    }
    const std::string keyword = BuildKeyword();
    // A store several collectors share hands out the pages (opened now only then: a file
    // is opened at the first record).
    if (store::IsPostgresLocation(m_job.strStorePath)) {
        if (store::ISharedPages* shared = Store().SharedPages()) {
            const std::int64_t search =
                shared->RegisterSearch(m_strIndustry, m_strRegion, m_job.nLastPage);
            Post(ev::PagesDone{shared->PagesDone(search)});
            SharedClaimPages source(
                *shared, search, keyword, m_job.strCondition, m_job.nStartPage, m_job.nLastPage,
                m_job.options.lease, [this](CrawlEventBody body) { Post(std::move(body)); },
                m_clock);
            m_job.round = source.Round();  // its entries are this round's
            Walk(source);
            return;
        }
    }
    RangePages source(keyword, m_job.strCondition, m_job.nStartPage, m_job.nLastPage);
    Walk(source);
}

void CSpiderThread::RetryFailures() {
    KeptFailurePages source(
        m_job.failures, [this]() -> store::IRecordWriter& { return Store(); }, m_job.claimToken);
    Walk(source);
}

}  // namespace crawl
