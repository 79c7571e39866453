#include "store/Store.h"
#include "text/GbkCodec.h"
#include "text/Number.h"

namespace store {

namespace {

// One setting per search, named after it as typed.
std::string SettingOf(const std::string& condition) {
    return "lastpage:" + text::GbkToUtf8(condition);
}

}  // namespace

std::optional<int> LoadSearchPage(IRecordStore& store, const std::string& condition) {
    const std::optional<std::string> value = store.LoadSetting(SettingOf(condition));
    if (!value) {
        return std::nullopt;
    }
    const int page = text::LeadingInt(*value);
    return page >= 1 ? std::optional<int>(page) : std::nullopt;
}

void SaveSearchPage(IRecordStore& store, const std::string& condition, int page) {
    store.SaveSetting(SettingOf(condition), std::to_string(page));
}

}  // namespace store
