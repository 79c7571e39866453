// What the window says of the store and the run beyond the two counters: the progress line,
// the kept failures behind 重试失败页面, and why 开始采集 is greyed.

#include <cmath>
#include <cstdio>

#include "app/model/WindowModel.h"
#include "crawl/SearchAddress.h"
#include "store/Store.h"
#include "text/GbkCodec.h"

using namespace crawl;
using namespace store;

namespace {

// "5 分钟", "2 小时 5 分钟".
std::string Minutes(long long minutes) {
    if (minutes < 60) {
        return std::to_string(minutes) + " 分钟";
    }
    return std::to_string(minutes / 60) + " 小时 " + std::to_string(minutes % 60) + " 分钟";
}

}  // namespace

RowSelection WindowModel::SearchSelection() const {
    std::string industry;
    std::string region;
    SplitCondition(condition_, industry, region);
    RowSelection search;
    search.industry = text::GbkToUtf8(industry);
    search.region = text::GbkToUtf8(region);
    return search;
}

void WindowModel::BeginRunCounts(std::optional<RowSelection> search) {
    runSearch_ = std::move(search);
    runStarted_ = clock_.Now();
    searchStored_ = -1;
    recordsAtCount_ = 0;
    recordsDone_ = 0;
    shared_ = store_ && store_->SharedPages() != nullptr;
    RefreshCounts();
}

void WindowModel::RefreshCounts() {
    if (!store_) {
        return;
    }
    try {
        keptFailures_ = store_->CountKeptFailures();
        if (runSearch_ && runStarted_) {
            searchStored_ = store_->CountSelectedRows(*runSearch_);
            recordsAtCount_ = recordsDone_;
        }
    } catch (const store::StoreError&) {
        // Only counts: the run itself reports what goes wrong with the store.
    }
}

int WindowModel::KeptFailuresOfSearch() {
    if (!store_) {
        return 0;
    }
    try {
        int kept = 0;
        for (const KeptFailure& f : store_->KeptFailures()) {
            // A retry's own are all of them; a collect's, those of its search.
            kept += !runSearch_ || f.condition == condition_;
        }
        return kept;
    } catch (const store::StoreError&) {
        return 0;
    }
}

std::string WindowModel::StartTip() const {
    if (running_) {
        return "采集进行中";
    }
    if (session_->PreCollecting()) {
        return "正在预采集，请稍候";
    }
    if (searchEdited_) {
        return "搜索条件已修改，请先点击 预采集";
    }
    if (answered_ && recordsTotal_ == 0) {
        return "没有找到符合条件的记录，无需采集";
    }
    return "请先点击 预采集，查询这次搜索的页数";
}

void WindowModel::ShowCounts() {
    state_.failures = keptFailures_;
    state_.retryText = "重试失败页面 (" + std::to_string(keptFailures_) + ")";
    state_.retryEnabled = keptFailures_ > 0 && !running_;
    state_.clearEnabled = !running_;
    state_.importEnabled = !running_;
    state_.startTip = state_.startEnabled ? std::string() : StartTip();
    if (!runStarted_) {
        state_.progress.clear();
        return;
    }
    // Records of this run, of its search in the store (on a shared store: by everyone), pages
    // done by all on a shared store, the rate and what is left.
    std::string line = "本次 " + std::to_string(recordsDone_) + " 条";
    const std::int64_t stored =
        searchStored_ < 0 ? -1 : searchStored_ + (recordsDone_ - recordsAtCount_);
    if (stored >= 0) {
        line += (shared_ ? "，全体已存 " : "，本搜索库中 ") + std::to_string(stored) + " 条";
    }
    if (shared_) {
        line += "，全体已完成 " + std::to_string(pagesDone_) + "/" + std::to_string(pagesTotal_) +
                " 页";
    }
    const double seconds = std::chrono::duration<double>(clock_.Now() - *runStarted_).count();
    if (running_ && recordsDone_ > 0 && seconds >= 1) {
        const double perMinute = recordsDone_ * 60.0 / seconds;
        char rate[32];
        std::snprintf(rate, sizeof rate, "%.1f", perMinute);
        line += std::string("，每分钟 ") + rate + " 条";
        if (recordsTotal_ > 0 && stored >= 0) {
            const double left = std::max<double>(0, recordsTotal_ - stored);
            line += "，约剩 " + Minutes(static_cast<long long>(std::ceil(left / perMinute)));
        }
    }
    state_.progress = line;
}
