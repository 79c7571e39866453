#include "store/Store.h"

#include <algorithm>
#include <string_view>

#include "store/SharedPages.h"
#include "text/GbkCodec.h"
#include "text/GbkSearch.h"
#include "text/Number.h"

namespace store {

namespace {

// One setting per search, named after it as typed. The value is the page of a walk in progress,
// or kFinished, each followed by the walk's round after the first; earlier versions read only a
// leading page number, so to them a finished search has none and starts at page 1 as well.
std::string SettingOf(const std::string& condition) {
    return kSearchWalkPrefix + text::GbkToUtf8(condition);
}

constexpr std::string_view kFinished = "finished";

std::string WithRound(std::string value, int round) {
    return round > 1 ? value + " " + std::to_string(round) : value;
}

}  // namespace

std::optional<SearchWalk> LoadSearchWalk(IRecordStore& store, const std::string& condition) {
    if (ISharedPages* shared = store.SharedPages()) {
        std::string industry;
        std::string region;
        text::SplitCondition(condition, industry, region);
        return shared->RoundOf(industry, region);
    }
    const std::optional<std::string> value = store.LoadSetting(SettingOf(condition));
    if (!value) {
        return std::nullopt;
    }
    SearchWalk walk;
    std::string_view rest = *value;
    if (rest.substr(0, kFinished.size()) == kFinished) {
        walk.finished = true;
        rest.remove_prefix(kFinished.size());
    } else {
        walk.page = text::LeadingInt(rest);
        if (walk.page < 1) {
            return std::nullopt;
        }
        rest.remove_prefix(std::min(rest.size(), rest.find(' ')));
    }
    if (!rest.empty()) {
        walk.round = std::max(1, text::LeadingInt(rest.substr(1)));
    }
    return walk;
}

void SaveSearchPage(IRecordStore& store, const std::string& condition, int page, int round) {
    store.SaveSetting(SettingOf(condition), WithRound(std::to_string(page), round));
}

void SaveSearchFinished(IRecordStore& store, const std::string& condition, int round) {
    store.SaveSetting(SettingOf(condition), WithRound(std::string(kFinished), round));
}

}  // namespace store
