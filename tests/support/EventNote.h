#pragma once
// An event flattened for assertions: its classic message form and the fields tests look at.

#include <cstdint>
#include <string>

#include "crawl/CrawlEvent.h"

struct EventNote {
    int message = 0;
    std::int64_t wParam = 0;
    std::int64_t lParam = 0;
    int worker = 0;
    std::int64_t rowId = 0;  // RecordSaved
    std::string error;       // the reason of NetFailed, StoreFailed, WorkerEnded
    crawl::CrawlEvent event;

    explicit EventNote(const crawl::CrawlEvent& e) : worker(e.worker), event(e) {
        const crawl::ClassicMessage m = crawl::ClassicMessageOf(e);
        message = m.message;
        wParam = m.wParam;
        lParam = m.lParam;
        if (const auto* r = e.As<crawl::ev::RecordSaved>()) {
            rowId = r->rowId;
        } else if (const auto* n = e.As<crawl::ev::NetFailed>()) {
            error = n->reason;
        } else if (const auto* s = e.As<crawl::ev::StoreFailed>()) {
            error = s->reason;
        } else if (const auto* w = e.As<crawl::ev::WorkerEnded>()) {
            error = w->reason;
        }
    }
};
