#include "text/GbkCodec.h"

namespace text {

bool IsAscii(std::string_view s) {
    for (unsigned char c : s) {
        if (c >= 0x80) {
            return false;
        }
    }
    return true;
}

}  // namespace text
