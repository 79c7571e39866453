#include "crawl/CrawlWorker.h"

#include <atomic>
#include <condition_variable>
#include <mutex>

#include "crawl/CurlFetcher.h"
#include "crawl/CurlLanes.h"
#include "store/Store.h"

namespace crawl {

struct CrawlWorker::State {
    std::shared_ptr<StopToken> stop = std::make_shared<StopToken>();
    std::mutex mutex;
    std::condition_variable ended;
    bool done = false;
};

CrawlDeps DefaultCrawlDeps() {
    CrawlDeps deps;
    deps.makeFetcher = [] { return std::make_unique<CurlFetcher>(); };
    deps.openStore = [](const std::string& path, const std::atomic<bool>* interrupt) {
        return store::OpenStore(path, interrupt);
    };
    deps.makeLanes = [] { return std::make_unique<CurlLanes>(); };
    return deps;
}

std::unique_ptr<CrawlWorker> CrawlWorker::Start(CrawlJob job, const CrawlDeps& deps) {
    static std::atomic<int> serial{0};
    std::unique_ptr<CrawlWorker> worker(new CrawlWorker());
    worker->state_ = std::make_shared<State>();
    worker->id_ = ++serial;
    std::shared_ptr<IEventSink> sink = job.pNotify;
    LaneFetcherFactory makeLanes = deps.makeLanes;
    if (!makeLanes) {
        auto makeFetcher = deps.makeFetcher;
        makeLanes = [makeFetcher] { return std::make_unique<SerialLanes>(makeFetcher()); };
    }
    auto spider = std::make_shared<CSpiderThread>(
        std::move(job), deps.makeFetcher(), deps.openStore, worker->state_->stop, worker->id_,
        deps.wait, std::move(makeLanes), deps.clock != nullptr ? *deps.clock : RealTime());
    worker->thread_ = std::thread([spider, sink, id = worker->id_,
                                   state = worker->state_]() mutable {
        ev::WorkerEnded end;
        try {
            spider->RunJob();
        } catch (const std::exception& e) {
            end = {true, e.what()};
        } catch (...) {
            end = {true, "unknown exception"};
        }
        try {
            spider.reset();  // closes the HTTP session and the store before the end is announced
        } catch (...) {
        }
        if (sink) {
            sink->Post(CrawlEvent{id, std::move(end)});
        }
        {
            std::lock_guard<std::mutex> lock(state->mutex);
            state->done = true;
        }
        state->ended.notify_all();
    });
    return worker;
}

void CrawlWorker::RequestStop() {
    state_->stop->RequestStop();
}

void CrawlWorker::Discard() {
    state_->stop->Discard();
}

void CrawlWorker::Abandon() {
    state_->stop->Abandon();
}

bool CrawlWorker::Join(std::chrono::milliseconds timeout) {
    {
        std::unique_lock<std::mutex> lock(state_->mutex);
        if (!state_->ended.wait_for(lock, timeout, [this] { return state_->done; })) {
            return false;
        }
    }
    if (thread_.joinable()) {
        thread_.join();
    }
    return true;
}

bool CrawlWorker::Finished() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->done;
}

CrawlWorker::~CrawlWorker() {
    if (!thread_.joinable()) {
        return;
    }
    if (Finished()) {
        thread_.join();
    } else {
        thread_.detach();  // it owns everything it uses and ends on its own
    }
}

}  // namespace crawl
