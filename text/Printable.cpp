#include "text/Printable.h"

namespace text {

namespace {

void Put(std::string& out, unsigned code, Controls how) {
    if (how == Controls::Drop) {
        return;
    }
    static constexpr char kHex[] = "0123456789abcdef";
    out += "\\x";
    out += kHex[(code >> 4) & 0xF];
    out += kHex[code & 0xF];
}

}  // namespace

std::string Printable(std::string_view utf8, Controls how) {
    std::string out;
    out.reserve(utf8.size());
    for (size_t i = 0; i < utf8.size(); ++i) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        if ((c < 0x20 && c != '\t' && c != '\n') || c == 0x7F) {
            Put(out, c, how);
        } else if (c == 0xC2 && i + 1 < utf8.size() &&
                   static_cast<unsigned char>(utf8[i + 1]) >= 0x80 &&
                   static_cast<unsigned char>(utf8[i + 1]) <= 0x9F) {
            // U+0080–U+009F, written in UTF-8 as C2 80 … C2 9F.
            Put(out, static_cast<unsigned char>(utf8[++i]), how);
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

}  // namespace text
