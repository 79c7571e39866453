#include "app/model/HotKey.h"

#include <cctype>

std::string HotKeyName(const HotKeySpec& key) {
    if (key.Off()) {
        return kHotKeyOff;
    }
    std::string name;
    name += key.ctrl ? "Ctrl+" : "";
    name += key.alt ? "Alt+" : "";
    name += key.shift ? "Shift+" : "";
    return name + "F" + std::to_string(key.function);
}

std::optional<HotKeySpec> ParseHotKey(std::string_view name) {
    if (name == kHotKeyOff || name == "off") {
        return HotKeySpec{0};
    }
    HotKeySpec key{0};
    while (!name.empty()) {
        const size_t plus = name.find('+');
        std::string part(name.substr(0, plus));
        name = plus == std::string_view::npos ? std::string_view() : name.substr(plus + 1);
        for (char& c : part) {
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
        if (key.function != 0) {
            return std::nullopt;  // the key comes last
        }
        if (part == "ctrl" && !key.ctrl) {
            key.ctrl = true;
        } else if (part == "alt" && !key.alt) {
            key.alt = true;
        } else if (part == "shift" && !key.shift) {
            key.shift = true;
        } else if (part.size() >= 2 && part.size() <= 3 && part[0] == 'f' &&
                   std::isdigit(static_cast<unsigned char>(part[1])) &&
                   (part.size() == 2 || std::isdigit(static_cast<unsigned char>(part[2]))) &&
                   part[1] != '0') {
            const int n = std::stoi(part.substr(1));
            if (n < 1 || n > 12) {
                return std::nullopt;
            }
            key.function = n;
        } else {
            return std::nullopt;
        }
    }
    if (key.function == 0) {
        return std::nullopt;
    }
    return key;
}
