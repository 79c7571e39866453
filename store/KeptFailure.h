#pragma once
// A page that still failed after its retries, kept in the store so that a later run can fetch
// it again instead of the company being lost without a word.

#include <cstdint>
#include <string>

namespace store {

struct KeptFailure {
    enum class Kind { ResultPage, ContactPage };

    std::int64_t id = 0;  // set by the store
    Kind kind = Kind::ResultPage;
    int page = 0;            // the result page (for a contact page: the page that listed it)
    std::string address;     // the address that failed
    std::string title;       // GBK: the company name, when known (contact pages)
    std::string condition;   // GBK: industry "^" region of the search, to read the page again
    std::string reason;      // UTF-8: why the last try failed
    int status = 0;          // the HTTP status of the last try, 0 when none came
    int tries = 0;           // fetches made in all, over every run
    std::int64_t rowId = 0;  // contact pages: the row appended in the company's place
    std::string entry;       // contact pages: that row's entry key (UTF-8), when it has one
    std::string time;        // local time of the last try, "YYYY-MM-DD HH:MM:SS"
};

inline const char* KindName(KeptFailure::Kind kind) {
    return kind == KeptFailure::Kind::ResultPage ? "page" : "contact";
}

}  // namespace store
