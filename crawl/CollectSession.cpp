#include "crawl/CollectSession.h"

#include <atomic>
#include <chrono>
#include <set>

#include <algorithm>

#include "platform/FileSystem.h"
#include "store/SharedPages.h"
#include "store/Store.h"
#include "text/GbkCodec.h"
#include "text/GbkSearch.h"

namespace crawl {

int DefaultStartPage(store::IRecordStore& store, const std::string& condition, int lastPage) {
    if (store.SharedPages() != nullptr) {
        return 1;
    }
    const std::optional<store::SearchWalk> walk = store::LoadSearchWalk(store, condition);
    const int page = walk && !walk->finished ? walk->page : 1;
    return lastPage > 0 ? std::min(page, lastPage) : page;
}

std::string OthersAtWork(store::IRecordStore& store) {
    store::ISharedPages* shared = store.SharedPages();
    // A collector renews its registration every few seconds while it works.
    const int working = shared != nullptr ? shared->WorkingCollectors(std::chrono::seconds(30)) : 0;
    if (working == 0) {
        return {};
    }
    return "有 " + std::to_string(working) + " 个采集器正在使用这个共享数据库，";
}

CollectSession::CollectSession(const Clock& clock, std::shared_ptr<IEventSink> sink,
                               RunController::Launcher launch)
    : sink_(std::move(sink)), controller_(clock, std::move(launch)), clock_(clock) {}

std::string OutcomeText(RunEnd::How how, bool keptFailures) {
    switch (how) {
        case RunEnd::How::Finished:
            return keptFailures ? "完成，有失败页面" : "完成";
        case RunEnd::How::Stopped:
            return "已停止";
        case RunEnd::How::NetFailed:
            return "网络中断";
        case RunEnd::How::Challenged:
            return "网站拒绝访问";
        case RunEnd::How::ProxyAuth:
            return "代理需要密码";
        case RunEnd::How::StoreFailed:
            return "数据库错误";
        case RunEnd::How::Crashed:
            return "采集线程异常结束";
    }
    return {};
}

CollectSession::~CollectSession() {
    controller_.Shutdown(std::chrono::milliseconds(0));
}

void CollectSession::Launch(CrawlJob job) {
    job.pNotify = sink_;
    controller_.StartWorker(std::move(job));
}

void CollectSession::NoteCurrentWorker() {
    const int id = controller_.CurrentWorkerId();
    if (id != 0 && runOfWorker_.find(id) == runOfWorker_.end()) {
        runOfWorker_[id] = runSerial_;
    }
}

bool CollectSession::OfThisRun(int worker) const {
    auto it = runOfWorker_.find(worker);
    return runSerial_ != 0 && it != runOfWorker_.end() && it->second == runSerial_;
}

bool CollectSession::StartPreCollect(const std::string& condition, const RetryPolicy& retry) {
    if (running_) {
        return false;
    }
    CrawlJob job;
    job.nMode = CRAWL_MODE_PRECOLLECT;
    job.strCondition = condition;
    job.options.retry = retry;
    Launch(std::move(job));
    precollectWorker_ = controller_.CurrentWorkerId();
    runOfWorker_[precollectWorker_] = 0;  // no run's
    return true;
}

void CollectSession::StartCollect(const CollectRequest& request, store::IRecordStore& store) {
    CrawlJob job;
    job.nMode = CRAWL_MODE_COLLECT;
    job.nStartPage = request.startPage;
    job.nLastPage = request.lastPage;
    job.strCondition = request.condition;
    job.failures = store.KeptFailures();
    if (store.SharedPages() == nullptr) {
        // After a finished walk the search is walked again: a new round, whose entries are new.
        const std::optional<store::SearchWalk> walk =
            store::LoadSearchWalk(store, request.condition);
        job.round = walk ? walk->NextRound() : 1;
    }
    BeginRun(std::move(job), request, store);
}

bool CollectSession::StartRetry(const CollectRequest& request, store::IRecordStore& store) {
    CrawlJob job;
    job.nMode = CRAWL_MODE_RETRY;
    job.failures = store.KeptFailures();
    if (!request.failureIds.empty()) {
        // Only the ones asked for (and still kept).
        const std::set<std::int64_t> wanted(request.failureIds.begin(), request.failureIds.end());
        job.failures.erase(
            std::remove_if(job.failures.begin(), job.failures.end(),
                           [&](const store::KeptFailure& f) { return !wanted.count(f.id); }),
            job.failures.end());
    }
    if (job.failures.empty()) {
        return false;
    }
    // The entries of a kept page are those of its search's walk now.
    for (const store::KeptFailure& f : job.failures) {
        if (job.rounds.count(f.condition) == 0) {
            const std::optional<store::SearchWalk> walk = store::LoadSearchWalk(store, f.condition);
            job.rounds[f.condition] = walk ? walk->round : 1;
        }
    }
    // A kept result page read now lists companies stored meanwhile: skipped as a collect would.
    BeginRun(std::move(job), request, store);
    return true;
}

void CollectSession::BeginRun(CrawlJob job, const CollectRequest& request,
                              store::IRecordStore& store) {
    job.strStorePath = store.Path();
    job.ledger = std::make_shared<RunLedger>();
    job.options = request.options.Bounded();
    // The run's pacing outlives a watchdog restart: the fresh worker keeps the spacing and the
    // lanes the site allowed.
    job.pacer = std::make_shared<LanePacer>(job.options.lanes, job.options.delay);
    static std::atomic<unsigned> runs{0};
    job.claimToken = std::to_string(platform::ProcessId()) + "-" +
                     std::to_string(std::chrono::system_clock::now().time_since_epoch().count()) +
                     "-" + std::to_string(++runs);
    store_ = &store;
    saveProgress_ = job.nMode == CRAWL_MODE_COLLECT;  // a retry keeps no page in progress
    condition_ = job.strCondition;
    round_ = job.round;
    reachesSearchEnd_ = request.searchPages > 0 && request.lastPage >= request.searchPages;
    ++runSerial_;
    records_ = 0;
    page_ = saveProgress_ ? request.startPage : 0;
    lanes_ = job.options.lanes;
    failures_.clear();
    retryTotal_ = job.nMode == CRAWL_MODE_RETRY ? static_cast<int>(job.failures.size()) : 0;
    retried_.clear();
    precollectWorker_ = 0;
    // On record before the first page: a run that dies midway is found and closed as broken.
    run_ = store::RunRecord();
    endedRun_ = store::RunRecord();
    if (job.nMode == CRAWL_MODE_COLLECT) {
        std::string industry;
        std::string region;
        text::SplitCondition(job.strCondition, industry, region);
        run_.industry = text::GbkToUtf8(industry);
        run_.region = text::GbkToUtf8(region);
    }
    run_.how = request.how.empty() ? std::string(store::kByWindow) : request.how;
    run_.id = store.BeginRunRecord(run_);
    runRenewed_ = clock_.Now();
    controller_.BeginRun(request.pacing);
    running_ = true;
    try {
        Launch(std::move(job));
    } catch (...) {
        running_ = false;
        controller_.OnRunEnded();
        RecordRunEnd(RunEnd::How::Crashed, false);
        throw;
    }
    NoteCurrentWorker();
}

std::vector<store::KeptFailure> CollectSession::Failures() const {
    std::vector<store::KeptFailure> out;
    for (const auto& [id, failure] : failures_) {
        out.push_back(failure);
    }
    return out;
}

void CollectSession::RecordRunEnd(RunEnd::How how, bool walkFinished, const char* outcome) {
    if (run_.id == 0 || store_ == nullptr) {
        return;
    }
    run_.kept = static_cast<std::int64_t>(failures_.size());
    run_.outcome = outcome != nullptr ? std::string(outcome) : OutcomeText(how, run_.kept > 0);
    run_.finished = walkFinished;
    if (how == RunEnd::How::Finished && saveProgress_ && store_->SharedPages() != nullptr) {
        // A shared search is finished when its round is: every page done or kept, by whoever.
        try {
            const std::optional<store::SearchWalk> walk =
                store::LoadSearchWalk(*store_, condition_);
            run_.finished = walk && walk->finished;
        } catch (const store::StoreError&) {
            run_.finished = false;
        }
    }
    try {
        store_->EndRunRecord(run_);
        endedRun_ = run_;
    } catch (const store::StoreError&) {
        // Left under way: the next run or window that finds it closes it as broken.
    }
    run_.id = 0;
}

void CollectSession::CountLate(bool stored, bool complete) {
    if (endedRun_.id == 0 || store_ == nullptr) {
        return;
    }
    endedRun_.stored += stored ? 1 : 0;
    endedRun_.newRows += complete ? 1 : 0;
    endedRun_.kept = static_cast<std::int64_t>(failures_.size());
    try {
        store_->UpdateRunCounts(endedRun_);
    } catch (const store::StoreError&) {
        // Only counts: the rows themselves are stored.
    }
}

SessionUpdate CollectSession::End(RunEnd::How how, std::string reason, bool walkFinished) {
    running_ = false;
    controller_.OnRunEnded();
    RecordRunEnd(how, walkFinished);
    SessionUpdate u;
    u.kind = SessionUpdate::Kind::RunEnded;
    u.end.how = how;
    u.end.reason = std::move(reason);
    u.end.failures = Failures();
    return u;
}

std::optional<SessionUpdate> CollectSession::Stop() {
    const bool wasRunning = running_;
    precollectWorker_ = 0;
    controller_.Stop();
    if (!wasRunning) {
        return std::nullopt;
    }
    return End(RunEnd::How::Stopped);
}

void CollectSession::Tick(bool allowRestart) {
    controller_.Tick(allowRestart);
    if (running_ && run_.id != 0 && store_ != nullptr &&
        clock_.Now() - runRenewed_ >= kRunRenewEvery) {
        runRenewed_ = clock_.Now();
        try {
            store_->RenewRunRecord(run_.id);
        } catch (const store::StoreError&) {
            // The run's own writes report a store that is gone.
        }
    }
    if (running_) {
        NoteCurrentWorker();  // a watchdog restart's worker belongs to the same run
    }
}

bool CollectSession::Shutdown(std::chrono::milliseconds timeout) {
    if (running_) {
        // The program ends with the run under way: on record as broken off, not finished.
        RecordRunEnd(RunEnd::How::Stopped, false, store::kRunBroken);
    }
    running_ = false;
    precollectWorker_ = 0;
    return controller_.Shutdown(timeout);
}

void CollectSession::DiscardEarlierWork() {
    if (running_) {
        return;  // the run in progress is not earlier work
    }
    precollectWorker_ = 0;
    saveProgress_ = false;  // nor is a page it still announces saved
    controller_.Stop();
    controller_.DiscardLiveWorkers();
}

SessionUpdate CollectSession::Handle(const CrawlEvent& event) {
    SessionUpdate u;
    const bool current = event.worker == controller_.CurrentWorkerId();
    const bool precollect = precollectWorker_ != 0 && event.worker == precollectWorker_;
    const bool runWorker = current && running_ && OfThisRun(event.worker);

    if (const auto* e = event.As<ev::PreCollected>()) {
        if (precollect) {
            precollectWorker_ = 0;
            u.kind = SessionUpdate::Kind::PreCollected;
            u.pages = e->pages;
            u.matches = e->matches;
        }
    } else if (const auto* e = event.As<ev::NetFailed>()) {
        if (precollect) {
            precollectWorker_ = 0;
            u.kind = SessionUpdate::Kind::PreCollectFailed;
            u.reason = e->reason;
            u.status = e->status;
        } else if (runWorker) {
            const RunEnd::How how = e->proxy        ? RunEnd::How::ProxyAuth
                                    : e->challenged ? RunEnd::How::Challenged
                                                    : RunEnd::How::NetFailed;
            return End(how, e->reason);
        }
    } else if (const auto* e = event.As<ev::PageStarted>()) {
        // A worker with several lanes that is told to stop still stores what it has in hand,
        // and says so when that completes a page: the run then resumes after it.
        if (runWorker || (current && !running_ && OfThisRun(event.worker))) {
            page_ = e->page;
            if (running_) {
                controller_.OnPageStarted(e->page);
            }
            if (saveProgress_ && store_ != nullptr) {
                try {
                    // The search keeps its own page; the old single page is kept up to date
                    // for older readers of the file, and never read for a search.
                    store::SaveSearchPage(*store_, condition_, e->page, round_);
                    store_->SaveLastPageIndex(e->page);
                } catch (const store::StoreError& err) {
                    if (!running_) {
                        return u;  // the run has ended: it resumes at the page saved before
                    }
                    controller_.Stop();
                    return End(RunEnd::How::StoreFailed, err.what());
                }
            }
            u.kind = SessionUpdate::Kind::PageStarted;
            u.page = e->page;
        }
    } else if (const auto* e = event.As<ev::RecordSaved>()) {
        // Stored whatever worker stored it; only this run's records count and pace the run.
        u.kind = SessionUpdate::Kind::RecordSaved;
        u.rowId = e->rowId;
        u.record = e->record;
        u.httpStatus = e->status;
        if (OfThisRun(event.worker)) {
            u.counted = true;
            ++records_;
            ++run_.stored;
            run_.newRows += e->complete ? 1 : 0;
            if (!running_) {
                CountLate(true, e->complete);
            }
            if (running_) {
                controller_.OnRecordSaved(records_);
            }
        }
    } else if (const auto* e = event.As<ev::FetchFailed>()) {
        if (OfThisRun(event.worker)) {
            failures_[e->failure.id] = e->failure;
            if (retryTotal_ > 0) {
                retried_.insert(e->failure.id);
            }
            if (!running_) {
                CountLate(false, false);
            }
            u.kind = SessionUpdate::Kind::FetchFailed;
            u.failure = e->failure;
        }
    } else if (const auto* e = event.As<ev::FailureHealed>()) {
        if (OfThisRun(event.worker)) {
            failures_.erase(e->failureId);
            if (retryTotal_ > 0) {
                retried_.insert(e->failureId);
            }
        }
    } else if (const auto* e = event.As<ev::PagesDone>()) {
        // A shared search: the progress is the pages done by every collector; the store keeps
        // the highest of them itself.
        if (runWorker) {
            page_ = e->done;
            controller_.OnProgress();
            u.kind = SessionUpdate::Kind::PageStarted;
            u.page = e->done;
        }
    } else if (const auto* e = event.As<ev::LanesChanged>()) {
        if (runWorker) {
            lanes_ = e->lanes;
            u.kind = SessionUpdate::Kind::LanesChanged;
            u.lanes = e->lanes;
        }
    } else if (const auto* e = event.As<ev::BackingOff>()) {
        if (runWorker) {
            controller_.OnBackingOff(std::chrono::milliseconds(e->ms));
        }
    } else if (const auto* e = event.As<ev::Finished>()) {
        if (runWorker) {
            // A walk that committed the search's last page finishes the search: its next
            // collect starts again at page 1. A shared store keeps the walk in its rounds.
            const bool finished = saveProgress_ && (e->searchEnded || reachesSearchEnd_);
            if (finished && store_ != nullptr && store_->SharedPages() == nullptr) {
                try {
                    store::SaveSearchFinished(*store_, condition_, round_);
                } catch (const store::StoreError& err) {
                    return End(RunEnd::How::StoreFailed, err.what());
                }
            }
            SessionUpdate end = End(RunEnd::How::Finished, {}, finished);
            end.end.walkFinished = finished;
            return end;
        }
    } else if (const auto* e = event.As<ev::StoreFailed>()) {
        if (runWorker) {
            controller_.Stop();
            return End(RunEnd::How::StoreFailed, e->reason);
        }
    } else if (const auto* e = event.As<ev::WorkerEnded>()) {
        // A worker that ends without having said how is a crash of the run or pre-collect.
        if (precollect) {
            precollectWorker_ = 0;
            u.kind = SessionUpdate::Kind::PreCollectFailed;
            u.reason = e->crashed ? e->reason : "采集线程没有回答就结束了";
        } else if (runWorker) {
            controller_.Stop();
            return End(RunEnd::How::Crashed,
                       e->crashed ? e->reason : "the worker ended without finishing");
        }
        runOfWorker_.erase(event.worker);
    }
    return u;
}

}  // namespace crawl
