#include "crawl/RunSettings.h"

#include <algorithm>
#include <climits>
#include <stdexcept>

#include "store/SharedPages.h"
#include "store/Store.h"

namespace crawl {

SettingBounds StartPageBounds(int pages) {
    return {"起始页面", 1, std::max(1, pages)};
}

std::optional<long long> ParseWholeNumber(const std::string& text) {
    const size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos) {
        return std::nullopt;
    }
    const size_t last = text.find_last_not_of(' ');
    long long value = 0;
    for (size_t i = first; i <= last; ++i) {
        const char c = text[i];
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        if (value > (LLONG_MAX - (c - '0')) / 10) {
            return std::nullopt;  // more digits than any setting could mean
        }
        value = value * 10 + (c - '0');
    }
    return value;
}

std::optional<int> ReadBounded(const std::string& text, const SettingBounds& bounds) {
    const auto value = ParseWholeNumber(text);
    if (value && *value >= bounds.low && *value <= bounds.high) {
        return static_cast<int>(*value);
    }
    return std::nullopt;
}

std::string BoundsMessage(std::string_view who, const SettingBounds& bounds) {
    return std::string(who) + "应为 " + std::to_string(bounds.low) + " 到 " +
           std::to_string(bounds.high) + " 之间的整数";
}

std::string OutOfBoundsMessage(const SettingBounds& bounds) {
    return BoundsMessage(bounds.name, bounds) + "！";
}

const SettingSpec& Setting(std::string_view key) {
    for (const SettingSpec& setting : kSettings) {
        if (key == setting.key) {
            return setting;
        }
    }
    throw std::logic_error("no setting " + std::string(key));
}

std::optional<std::string> ValidSetting(const SettingSpec& setting, const std::string& value) {
    switch (setting.kind) {
        case SettingKind::Number:
            if (const auto n = ReadBounded(value, setting.bounds)) {
                return std::to_string(*n);
            }
            return std::nullopt;
        case SettingKind::Check:
            if (value == "0" || value == "1") {
                return value;
            }
            return std::nullopt;
        case SettingKind::Text:
            return value;
    }
    return std::nullopt;
}

CollectRequest DefaultRequest() {
    CollectRequest request;
    for (const SettingSpec& setting : kSettings) {
        if (setting.field != nullptr) {
            setting.field(request) = *ReadBounded(setting.first, setting.bounds);
        }
    }
    return request;
}

void RegisterSharedSearch(store::IRecordStore& store, const std::string& industry,
                          const std::string& region, long long pages, long long matches) {
    if (matches <= 0) {
        return;
    }
    if (store::ISharedPages* shared = store.SharedPages()) {
        shared->RegisterSearch(industry, region,
                               static_cast<int>(std::min<long long>(pages, INT_MAX)));
    }
}

}  // namespace crawl
