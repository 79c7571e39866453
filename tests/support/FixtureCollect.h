#pragma once
// A collect run of the fixture search through a CollectSession, as a window drives it, pumped
// to its end: how it ended, or nothing when it did not end within `limit`.

#include <chrono>
#include <memory>
#include <optional>

#include "DirectorySite.h"
#include "crawl/Clock.h"
#include "crawl/CollectSession.h"
#include "crawl/EventQueue.h"

namespace standin {

inline std::optional<crawl::RunEnd> CollectFixtureSearch(store::IRecordStore& store, int lastPage,
                                                         std::chrono::seconds limit) {
    crawl::SteadyClock clock;
    auto queue = std::make_shared<crawl::EventQueue>();
    crawl::CollectSession session(clock, queue);
    crawl::CollectRequest request;
    request.condition = FixtureCondition();
    request.lastPage = lastPage;
    request.pacing = {0, 0, 0};
    session.StartCollect(request, store);
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        if (auto event = queue->Take(std::chrono::milliseconds(50))) {
            crawl::SessionUpdate u = session.Handle(*event);
            if (u.kind == crawl::SessionUpdate::Kind::RunEnded) {
                return u.end;
            }
        }
    }
    return std::nullopt;
}

}  // namespace standin
