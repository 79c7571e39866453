#pragma once
// A list typed as items between separators ("30,60", "MON,THU"): every item, empty ones too.

#include <string>
#include <string_view>
#include <vector>

namespace text {

inline std::vector<std::string> SplitList(std::string_view list, char separator) {
    std::vector<std::string> items;
    size_t at = 0;
    while (true) {
        const size_t end = list.find(separator, at);
        items.emplace_back(list.substr(at, end == std::string_view::npos ? end : end - at));
        if (end == std::string_view::npos) {
            return items;
        }
        at = end + 1;
    }
}

}  // namespace text
