#pragma once
// Runs one job of the fixture search on a real worker (by default, with real waits) to its end
// and collects what it posted.

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "DirectorySite.h"
#include "EventNote.h"
#include "crawl/CrawlWorker.h"
#include "crawl/EventQueue.h"

namespace standin {

inline std::vector<EventNote> RunFixtureJob(
    int mode, int start, int last, const std::string& storePath,
    std::shared_ptr<crawl::RunControlWord> word =
        std::make_shared<crawl::RunControlWord>(crawl::RunState::Empty),
    std::chrono::seconds limit = std::chrono::seconds(60),
    const crawl::CrawlDeps& deps = crawl::DefaultCrawlDeps()) {
    auto queue = std::make_shared<crawl::EventQueue>();
    crawl::CrawlJob job;
    job.pNotify = queue;
    job.pRunControl = std::move(word);
    job.nMode = mode;
    job.nStartPage = start;
    job.nLastPage = last;
    job.strCondition = FixtureCondition();
    job.strStorePath = storePath;
    auto worker = crawl::CrawlWorker::Start(job, deps);
    if (!worker->Join(limit)) {
        worker->RequestStop();
        worker->Join(std::chrono::seconds(30));
    }
    std::vector<EventNote> notes;
    while (auto n = queue->Take(std::chrono::milliseconds(0))) {
        // Every worker ends with WorkerEnded; tests see it only when something escaped.
        const auto* end = n->As<crawl::ev::WorkerEnded>();
        if (end == nullptr || end->crashed) {
            notes.emplace_back(*n);
        }
    }
    return notes;
}

}  // namespace standin
