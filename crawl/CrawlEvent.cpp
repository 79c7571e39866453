#include "crawl/CrawlEvent.h"

namespace crawl {

namespace {

template <class... F>
struct Overloaded : F... {
    using F::operator()...;
};
template <class... F>
Overloaded(F...) -> Overloaded<F...>;

}  // namespace

ClassicMessage ClassicMessageOf(const CrawlEvent& event) {
    return std::visit(Overloaded{
                          [](const ev::PreCollected& e) {
                              return ClassicMessage{WM_CRAWL_PRECOLLECTED, e.pages, e.matches};
                          },
                          [](const ev::PageStarted& e) {
                              return ClassicMessage{WM_CRAWL_PAGE_STARTED, 0, e.page};
                          },
                          [](const ev::RecordSaved& e) {
                              return ClassicMessage{WM_CRAWL_RECORD_SAVED, 0, e.count};
                          },
                          [](const ev::FetchFailed& e) {
                              return ClassicMessage{WM_CRAWL_FETCH_FAILED, 0, e.failure.page};
                          },
                          [](const ev::FailureHealed& e) {
                              return ClassicMessage{WM_CRAWL_FAILURE_HEALED, 0, e.failureId};
                          },
                          [](const ev::BackingOff& e) {
                              return ClassicMessage{WM_CRAWL_BACKING_OFF, 0, e.ms};
                          },
                          [](const ev::LanesChanged& e) {
                              return ClassicMessage{WM_CRAWL_LANES_CHANGED, 0, e.lanes};
                          },
                          [](const ev::PagesDone& e) {
                              return ClassicMessage{WM_CRAWL_PAGES_DONE, 0, e.done};
                          },
                          [](const ev::Finished&) {
                              return ClassicMessage{WM_CRAWL_FINISHED, 0, 0};
                          },
                          [](const ev::NetFailed&) {
                              return ClassicMessage{WM_CRAWL_NET_FAILED, 0, -2};
                          },
                          [](const ev::StoreFailed&) {
                              return ClassicMessage{WM_CRAWL_STORE_FAILED, 0, 0};
                          },
                          [](const ev::WorkerEnded& e) {
                              return ClassicMessage{WM_CRAWL_WORKER_ENDED, e.crashed ? 1 : 0, 0};
                          },
                      },
                      event.body);
}

}  // namespace crawl
