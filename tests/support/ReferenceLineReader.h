#pragma once
// The line reader's rules byte by byte: CR left out, LF written as CR LF, and a NUL ending its
// piece (pieces end after an LF or after 4094 bytes). The fetcher's faster reader must match it.

#include <string>

#include "crawl/CurlFetcher.h"

inline std::string ReferenceLineReader(const std::string& body) {
    std::string out;
    size_t piece = 0;
    bool nul = false;
    for (char c : body) {
        if (c == '\r') {
            continue;
        }
        ++piece;
        if (!nul) {
            if (c == '\0') {
                nul = true;
            } else if (c == '\n') {
                out += "\r\n";
            } else {
                out += c;
            }
        }
        if (c == '\n' || piece == crawl::CurlFetcher::kPieceBytes) {
            piece = 0;
            nul = false;
        }
    }
    return out;
}
