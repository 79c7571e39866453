#pragma once
// The key that hides and shows the window from any program: off, or F1 to F12 with any of
// Ctrl, Alt and Shift held. Written as the window names it, "Ctrl+Alt+F5" ("关闭": none).

#include <optional>
#include <string>
#include <string_view>

struct HotKeySpec {
    int function = 2;  // F1 to F12; 0: off
    bool ctrl = false;
    bool alt = false;
    bool shift = false;

    bool Off() const { return function == 0; }
    bool operator==(const HotKeySpec& o) const {
        return function == o.function && ctrl == o.ctrl && alt == o.alt && shift == o.shift;
    }
    bool operator!=(const HotKeySpec& o) const { return !(*this == o); }
};

inline constexpr const char* kHotKeyOff = "关闭";

// "Ctrl+Alt+F5", "F2", or kHotKeyOff.
std::string HotKeyName(const HotKeySpec& key);
// The key a name gives (modifiers in any order and case, "+" between); nothing for a name
// that is none ("F13", "Ctrl", "Win+F2").
std::optional<HotKeySpec> ParseHotKey(std::string_view name);
