#include "store/SavedSearch.h"

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

}  // namespace

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

bool RemoveSavedSearch(IRecordStore& store, const std::string& name) {
    return store.RemoveSetting(kSavedSearchPrefix + name);
}

}  // namespace store
