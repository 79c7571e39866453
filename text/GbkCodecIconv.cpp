// GBK conversions by iconv (glibc's CP936).

#include "text/GbkCodec.h"

#include <errno.h>
#include <iconv.h>

#include <cstring>
#include <stdexcept>

namespace text {
namespace {

// One conversion descriptor per thread and direction: iconv_open is costly and a descriptor
// must not be used by two threads at once.
class Converter {
  public:
    Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {
        if (cd_ == reinterpret_cast<iconv_t>(-1)) {
            throw std::runtime_error(std::string("iconv_open failed: ") + from + " -> " + to);
        }
    }
    ~Converter() { iconv_close(cd_); }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    iconv_t get() {
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);  // back to the initial state
        return cd_;
    }

  private:
    iconv_t cd_;
};

// Converts `in` with `cd`; on a byte sequence that does not convert, appends `replacement`,
// lets `skip` say how many input bytes to pass over, and carries on.
template <typename Skip>
std::string Convert(iconv_t cd, std::string_view in, std::string_view replacement, Skip skip) {
    std::string out;
    out.resize(in.size() * 2 + 16);
    char* src = const_cast<char*>(in.data());
    size_t srcLeft = in.size();
    size_t used = 0;
    while (srcLeft > 0) {
        char* dst = out.data() + used;
        size_t dstLeft = out.size() - used;
        size_t r = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
        used = out.size() - dstLeft;
        if (r != static_cast<size_t>(-1)) {
            break;
        }
        if (errno == E2BIG) {
            out.resize(out.size() * 2);
            continue;
        }
        // EILSEQ (invalid or unmappable) or EINVAL (cut off at the end).
        const bool cutOff = errno == EINVAL;
        out.resize(used);
        out.append(replacement);
        used = out.size();
        out.resize(used + srcLeft * 2 + 16);
        size_t n = skip(reinterpret_cast<const unsigned char*>(src), srcLeft);
        if (cutOff) {
            n = srcLeft;
        }
        src += n;
        srcLeft -= n;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    out.resize(used);
    return out;
}

}  // namespace

std::string GbkToUtf8(std::string_view gbk) {
    if (IsAscii(gbk)) {
        return std::string(gbk);
    }
    thread_local Converter conv("UTF-8", "CP936");
    // A bad double-byte pair loses its lead byte; the next byte is kept when it is ASCII, so
    // markup behind a broken character survives.
    return Convert(conv.get(), gbk, "\xEF\xBF\xBD", [](const unsigned char* p, size_t left) {
        if (left >= 2 && p[0] >= 0x81 && p[0] <= 0xFE && p[1] >= 0x80) {
            return size_t{2};
        }
        return size_t{1};
    });
}

std::string Utf8ToGbk(std::string_view utf8) {
    if (IsAscii(utf8)) {
        return std::string(utf8);
    }
    thread_local Converter conv("CP936", "UTF-8");
    // Skip the whole UTF-8 character that has no GBK form (or one stray byte).
    return Convert(conv.get(), utf8, "?", Utf8CharLength);
}

namespace {

// `in` converted with `cd`, or nothing when a byte sequence does not convert.
std::optional<std::string> ConvertExact(iconv_t cd, std::string_view in) {
    if (IsAscii(in)) {
        return std::string(in);
    }
    bool lost = false;
    std::string out = Convert(cd, in, "", [&lost](const unsigned char*, size_t) {
        lost = true;
        return size_t{1};
    });
    return lost ? std::nullopt : std::optional<std::string>(std::move(out));
}

}  // namespace

std::optional<std::string> GbkToUtf8Exact(std::string_view gbk) {
    thread_local Converter conv("UTF-8", "CP936");
    return ConvertExact(conv.get(), gbk);
}

std::optional<std::string> Utf8ToGbkExact(std::string_view utf8) {
    thread_local Converter conv("CP936", "UTF-8");
    return ConvertExact(conv.get(), utf8);
}

}  // namespace text
