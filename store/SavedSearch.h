#pragma once
// Searches a user keeps by name, to be refreshed later (by hand or on a schedule): kept in the
// store, so collectors sharing a PostgreSQL store see the team's list. How a search is collected
// (lanes, pauses, proxy) is not kept with it: that stays each user's own setting.

#include <optional>
#include <string>
#include <vector>

namespace store {

class IRecordStore;

struct SavedSearch {
    std::string name;  // UTF-8, as shown and as refresh names it
    std::string industry;
    std::string region;

    // GBK "industry^region", as a collect takes it.
    std::string Condition() const;
};

// The name a search gets when none is given: "行业-地区", or the one that is given of the two.
std::string DefaultSearchName(const std::string& industry, const std::string& region);

// Every saved search, by name.
std::vector<SavedSearch> SavedSearches(IRecordStore& store);
std::optional<SavedSearch> FindSavedSearch(IRecordStore& store, const std::string& name);
// Keeps `search`; an empty reason when it was kept, or the same search was kept under that name
// already; else why not (the name is taken by another search, it has no condition).
std::string SaveSearch(IRecordStore& store, const SavedSearch& search);
// False when no search had that name.
bool RemoveSavedSearch(IRecordStore& store, const std::string& name);

inline constexpr const char* kSavedSearchPrefix = "search:";

}  // namespace store
