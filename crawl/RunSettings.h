#pragma once
// The settings of a run as a user gives them, and their checks: one copy for the window and
// collector-cli.

#include <optional>
#include <string>

#include "crawl/CrawlJob.h"

class IRecordStore;

// A setting typed as digits and the whole numbers it may hold.
struct SettingBounds {
    const char* name;  // UTF-8, as the window's messages name it
    int low;
    int high;
};

inline constexpr SettingBounds kEveryBounds{"每采集的个数", 0, 100000};
inline constexpr SettingBounds kWaitBounds{"等待秒数", 0, 86400};
inline constexpr SettingBounds kTimeoutBounds{"超时秒数", 0, 86400};
inline constexpr SettingBounds kLanesBounds{"并发数", 1, kMaxLanes};
// The start page of a search of `pages` pages (a search that found nothing: 1).
SettingBounds StartPageBounds(int pages);

inline constexpr const char* kStartPastTotal = "起始采集页码不能大于总页面个数!";

// The whole number `text` holds (blanks around it allowed); nothing for anything else.
std::optional<long long> ParseWholeNumber(const std::string& text);
// The number in `text` when it is one within `bounds`.
std::optional<int> ReadBounded(const std::string& text, const SettingBounds& bounds);
// "每采集的个数应为 0 到 100000 之间的整数！"
std::string OutOfBoundsMessage(const SettingBounds& bounds);

// After a pre-collect of `industry` and `region` (GBK) found `matches` companies on `pages`
// pages: a shared store learns the search's pages now, for every collector that joins it.
// Nothing for a store of one collector or a search without matches. Throws StoreError.
void RegisterSharedSearch(IRecordStore& store, const std::string& industry,
                          const std::string& region, long long pages, long long matches);
