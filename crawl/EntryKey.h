#pragma once
// The identity of one listing entry, which the store keeps beside the entry's row so that no
// entry is ever stored twice, whatever ends a run and however often a page is walked again:
// the search (industry and region as typed), the result page, the company (its contact address
// when that names a company of its own, else its normalised name) and how many earlier entries
// of the same page name the same company. A company listed on two pages is two entries; an
// entry that moves to another page between runs is a new one. Each walk of a search that
// starts after the last one finished is a round of its own: its entries are new ones.

#include <string>

namespace crawl {

// The company an entry names (UTF-8), as the key counts it.
std::string CompanyOfEntry(const std::string& name, const std::string& address);

// What the keys of every entry of one result page of round `round` begin with (UTF-8).
std::string EntryPagePrefix(const std::string& condition, int page, int round = 1);

// The key of an entry (UTF-8). `condition` is the GBK "industry^region" of its search.
std::string EntryKeyOf(const std::string& condition, int page, const std::string& name,
                       const std::string& address, int occurrence, int round = 1);

}  // namespace crawl
