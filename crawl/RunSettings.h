#pragma once
// The settings a user gives, and their checks: one table for the window and collector-cli.
// A setting is a row of kSettings (where it is kept, its first value, its bounds, the option
// that takes it on the command line and the field of a run it goes into); loading, saving,
// the window's checks and collector-cli's options are loops over that table.

#include <optional>
#include <string>
#include <string_view>

#include "crawl/CollectRequest.h"

namespace store {
class IRecordStore;
}  // namespace store

namespace crawl {

// A setting typed as digits and the whole numbers it may hold.
struct SettingBounds {
    const char* name;  // UTF-8, as the window's messages name it
    int low;
    int high;
};

// Where a setting is kept: the user's settings file on this machine (collectors sharing a
// store keep their own), or the store.
enum class SettingHome { User, Store };
enum class SettingKind { Number, Check, Text };

struct SettingSpec {
    const char* key;  // its name where it is kept
    SettingHome home;
    SettingKind kind;
    const char* first;     // its value until the user gives one
    SettingBounds bounds;  // a number: its name in the window's messages and its range
    const char* option;    // the collector-cli option that takes it, or null
    // A number of a run: where a collect request takes it (null: none).
    int& (*field)(CollectRequest&);
};

// clang-format off
inline constexpr SettingSpec kSettings[] = {
    {"every", SettingHome::User, SettingKind::Number, "30", {"每采集的个数", 0, 100000}, "--every",
     [](CollectRequest& r) -> int& { return r.pacing.nPagesPerPause; }},
    {"wait", SettingHome::User, SettingKind::Number, "10", {"等待秒数", 0, 86400}, "--wait",
     [](CollectRequest& r) -> int& { return r.pacing.nPauseSeconds; }},
    {"timeout", SettingHome::User, SettingKind::Number, "50", {"超时秒数", 0, 86400}, "--timeout",
     [](CollectRequest& r) -> int& { return r.pacing.nTimeoutSeconds; }},
    {"parallel", SettingHome::User, SettingKind::Number, "1", {"并发数", 1, kMaxLanes},
     "--parallel", [](CollectRequest& r) -> int& { return r.options.lanes; }},
    {"skipknown", SettingHome::User, SettingKind::Check, "1", {}, nullptr, nullptr},
    // The proxy's address without its password, which is kept apart, protected by the system.
    {"proxy", SettingHome::User, SettingKind::Text, "", {}, nullptr, nullptr},
    {"proxysecret", SettingHome::User, SettingKind::Text, "", {}, nullptr, nullptr},
    {"exportfolder", SettingHome::User, SettingKind::Text, "", {}, nullptr, nullptr},
    // The key that hides and shows the window ("Ctrl+Alt+F5"; "关闭": none).
    {"hotkey", SettingHome::User, SettingKind::Text, "F2", {}, nullptr, nullptr},
    // The newest run a window has seen on a store ("<store key> <run id>"): the scheduled runs
    // after it are told when the window opens.
    {"seenrun", SettingHome::User, SettingKind::Text, "", {}, nullptr, nullptr},
    // The search of the last pre-collect, which the window shows again.
    {"lastindustry", SettingHome::Store, SettingKind::Text, "", {}, nullptr, nullptr},
    {"lastregion", SettingHome::Store, SettingKind::Text, "", {}, nullptr, nullptr},
};
// clang-format on

// The row of `key`; throws std::logic_error for a key no row has (a slip in the code).
const SettingSpec& Setting(std::string_view key);
// `value` as `setting` keeps it, when it is a valid one (a number within its bounds, a check
// "0" or "1", any text).
std::optional<std::string> ValidSetting(const SettingSpec& setting, const std::string& value);
// A request with every number of a run at its first value.
CollectRequest DefaultRequest();
// The start page of a search of `pages` pages (a search that found nothing: 1).
SettingBounds StartPageBounds(int pages);

inline constexpr const char* kStartPastTotal = "起始采集页码不能大于总页面个数!";

// The whole number `text` holds (blanks around it allowed); nothing for anything else.
std::optional<long long> ParseWholeNumber(const std::string& text);
// The number in `text` when it is one within `bounds`.
std::optional<int> ReadBounded(const std::string& text, const SettingBounds& bounds);
// What a value out of `bounds` is told, `who` naming the setting as the user knows it (the
// window's label, collector-cli's option): "<who>应为 0 到 100000 之间的整数".
std::string BoundsMessage(std::string_view who, const SettingBounds& bounds);
// The window's: "每采集的个数应为 0 到 100000 之间的整数！"
std::string OutOfBoundsMessage(const SettingBounds& bounds);

// After a pre-collect of `industry` and `region` (GBK) found `matches` companies on `pages`
// pages: a shared store learns the search's pages now, for every collector that joins it.
// Nothing for a store of one collector or a search without matches. Throws StoreError.
void RegisterSharedSearch(store::IRecordStore& store, const std::string& industry,
                          const std::string& region, long long pages, long long matches);

}  // namespace crawl
