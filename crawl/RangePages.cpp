#include "crawl/PageSource.h"
#include "crawl/SearchAddress.h"

namespace crawl {

RangePages::RangePages(std::string keyword, std::string condition, int first, int last)
    : keyword_(std::move(keyword)),
      condition_(std::move(condition)),
      next_(first),
      first_(first),
      last_(last) {}

IPageSource::Offer RangePages::Next(WorkPage& page) {
    if (next_ > last_) {
        return Offer::End;
    }
    page = WorkPage{};
    page.page = static_cast<int>(next_);
    page.address = ResultPageAddress(keyword_, page.page);
    page.condition = condition_;
    page.unkeyedRowsCount = next_ == first_;
    ++next_;
    return Offer::Page;
}

void RangePages::EndsAt(int page) {
    last_ = std::min(last_, page);
}

}  // namespace crawl
