#pragma once
// One collected company: the nine texts in the order in which a row is written, shown and
// exported. Texts are GBK byte strings, as the pages deliver them.

#include <array>
#include <cstdint>
#include <ostream>
#include <string>

namespace store {

struct MemberRecord {
    std::string title{};  // company name
    std::string person{};
    std::string sex{};
    std::string job{};
    std::string mobile{};
    std::string phone{};
    std::string fax{};
    std::string address{};
    std::string zip{};
    // The contact page the details came from: stored with the row (not one of the nine texts),
    // so a company is known again by it.
    std::string contact{};
    // The region of the search that found the company (GBK), to tell namesakes apart, and its
    // industry (GBK): where the row came from.
    std::string region{};
    std::string industry{};
    // The listing entry the row stands for (UTF-8, see crawl/EntryKey.h); empty for rows that
    // came from no listing (imported, or stored before rows knew their entry). The store holds
    // at most one row per entry.
    std::string entry{};
    // Set when read for a list: the row stands for a contact page kept as a failure (it holds
    // the company's name only until a retry fills it).
    bool waiting = false;

    static constexpr int kFieldCount = 9;

    std::array<const std::string*, kFieldCount> Fields() const {
        return {&title, &person, &sex, &job, &mobile, &phone, &fax, &address, &zip};
    }
    std::array<std::string*, kFieldCount> Fields() {
        return {&title, &person, &sex, &job, &mobile, &phone, &fax, &address, &zip};
    }
    // Whether the row reaches someone: a person, a number, an address or a postal code (a sex
    // or a job title alone does not). A row without one is not a lead yet: it is "complete"
    // from the moment it first holds one.
    bool HasContactField() const {
        for (const std::string* f : {&person, &mobile, &phone, &fax, &address, &zip}) {
            if (!f->empty()) {
                return true;
            }
        }
        return false;
    }
    bool operator==(const MemberRecord& o) const {
        return title == o.title && person == o.person && sex == o.sex && job == o.job &&
               mobile == o.mobile && phone == o.phone && fax == o.fax && address == o.address &&
               zip == o.zip;
    }
};

// For test failure messages: the nine texts, separated by " | ".
inline std::ostream& operator<<(std::ostream& os, const MemberRecord& r) {
    const char* sep = "";
    for (const std::string* f : r.Fields()) {
        os << sep << *f;
        sep = " | ";
    }
    return os;
}

}  // namespace store
