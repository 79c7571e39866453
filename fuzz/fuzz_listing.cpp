// The listing parser on any bytes: every entry it finds becomes exactly one stored record.

#include <string>

#include "crawl/CSpiderThread.h"
#include "crawl/ListingParser.h"
#include "text/GbkSearch.h"

namespace {

class NoPages : public IPageFetcher {
  public:
    bool OpenSession() override { return true; }
    FetchResult FetchPage(const std::string&) override {
        return FetchResult::Failure("HTTP 404", false, 404);  // each company keeps its name only
    }
};

class CountingStore : public IRecordWriter {
  public:
    explicit CountingStore(int* count) : count_(count) {}
    std::int64_t AppendMemberRecord(const MemberRecord&) override { return ++*count_; }
    std::int64_t FillMemberRecord(std::int64_t, const MemberRecord&, std::int64_t) override {
        __builtin_trap();
    }
    std::int64_t KeepFailure(KeptFailure&, const MemberRecord*) override { __builtin_trap(); }
    std::int64_t DropFailureAt(KeptFailure::Kind, const std::string&) override { __builtin_trap(); }
    bool HasContact(const std::string&, const std::string&) override { __builtin_trap(); }
    bool IsKnownCompany(const std::string&, const std::string&, const std::string&) override {
        __builtin_trap();
    }

  private:
    int* count_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string page(reinterpret_cast<const char*>(data), size);
    int stored = 0;
    CrawlJob job;
    job.strCondition = "x^";  // no region: every entry passes the filter
    CSpiderThread spider(
        job, std::make_unique<NoPages>(),
        [&stored](const std::string&) { return std::make_unique<CountingStore>(&stored); }, nullptr,
        1);
    spider.BuildKeyword();
    const std::string block = ListingBlockOf(page);
    if (!spider.ParseListingPage(block)) {
        __builtin_trap();  // nothing wrote STOP
    }
    int entries = 0;
    for (size_t p = text::FindText(block, kEntryMarker); p != text::npos;
         p = text::FindText(block, kEntryMarker, p + kEntryMarker.size())) {
        ++entries;
    }
    if (entries != stored || spider.m_nRecords != stored) {
        __builtin_trap();
    }
    CompanyNameOfEntry(page);
    ContactAddressOfEntry(page);
    return 0;
}
