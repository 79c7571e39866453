#include "store/SavedSearch.h"

#include "platform/FileSystem.h"
#include "store/Store.h"
#include "text/GbkCodec.h"
#include "text/Printable.h"

namespace store {

namespace {

// The value of a saved search's setting: industry and region apart by a unit separator, which
// neither can hold (they are one line each, typed into a field).
constexpr char kApart = '\x1f';

std::optional<SavedSearch> Parse(const std::string& name, const std::string& value) {
    const size_t apart = value.find(kApart);
    if (apart == std::string::npos) {
        return std::nullopt;
    }
    return SavedSearch{name, value.substr(0, apart), value.substr(apart + 1)};
}

// One line of text: no control character (a name and a condition go into the command lines
// of schedules, one per line).
bool OneLine(const std::string& text) {
    for (unsigned char c : text) {
        if (c < 0x20 || c == 0x7f) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool IsSearchName(const std::string& name) {
    return !name.empty() && name[0] != '-' && OneLine(name);
}

std::string SavedSearch::Condition() const {
    return text::Utf8ToGbk(industry) + "^" + text::Utf8ToGbk(region);
}

std::string DefaultSearchName(const std::string& industry, const std::string& region) {
    if (industry.empty() || region.empty()) {
        return industry + region;
    }
    return industry + "-" + region;
}

std::vector<SavedSearch> SavedSearches(IRecordStore& store) {
    std::vector<SavedSearch> found;
    const std::string prefix = kSavedSearchPrefix;
    for (const auto& [key, value] : store.SettingsNamed(prefix)) {
        if (auto search = Parse(key.substr(prefix.size()), value)) {
            found.push_back(std::move(*search));
        }
    }
    return found;
}

std::optional<SavedSearch> FindSavedSearch(IRecordStore& store, const std::string& name) {
    const std::optional<std::string> value = store.LoadSetting(kSavedSearchPrefix + name);
    return value ? Parse(name, *value) : std::nullopt;
}

std::string SaveSearch(IRecordStore& store, const SavedSearch& search) {
    if (search.industry.empty() && search.region.empty()) {
        return "请至少指定一项采集条件！";
    }
    const std::string name =
        search.name.empty() ? DefaultSearchName(search.industry, search.region) : search.name;
    if (!OneLine(search.industry) || !OneLine(search.region)) {
        return "行业和地区应为一行文字。";
    }
    if (!IsSearchName(name)) {
        return "名称应为一行文字，不以 - 开头：" + text::Printable(name);
    }
    if (const auto kept = FindSavedSearch(store, name)) {
        if (kept->industry == search.industry && kept->region == search.region) {
            return {};
        }
        return "已有名为“" + text::Printable(name) + "”的搜索（" +
               text::Printable(DefaultSearchName(kept->industry, kept->region)) +
               "），请换一个名称。";
    }
    store.SaveSetting(kSavedSearchPrefix + name, search.industry + kApart + search.region);
    return {};
}

std::optional<std::string> StoreForSchedule(const std::string& location, std::string& refusal) {
    if (!IsPostgresLocation(location)) {
        return platform::AbsolutePath(location);
    }
    if (!PasswordSpans(location).empty()) {
        refusal =
            "数据库地址中写有密码，不能用于定时任务：请把密码写入 ~/.pgpass（Windows 为 "
            "%APPDATA%\\postgresql\\pgpass.conf）或 PGPASSFILE 所指的文件，地址中不写密码。";
        return std::nullopt;
    }
    return location;
}

RefreshCommand RefreshCommandOf(const std::string& program, bool windowProgram,
                                const std::string& store, const std::string& exportFolder,
                                const std::vector<std::string>& searches) {
    RefreshCommand c;
    c.program = program;
    c.arguments = windowProgram
                      ? std::vector<std::string>{"--refresh", "--store", store}
                      : std::vector<std::string>{"--store", store, "refresh", "--by-schedule"};
    if (!exportFolder.empty()) {
        c.arguments.push_back("--export-new");
        c.arguments.push_back(platform::AbsolutePath(exportFolder));
    }
    c.arguments.insert(c.arguments.end(), searches.begin(), searches.end());
    return c;
}

bool RemoveSavedSearch(IRecordStore& store, const std::string& name) {
    return store.RemoveSetting(kSavedSearchPrefix + name);
}

}  // namespace store
