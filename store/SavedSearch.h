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
// A name a search can be kept under: one line, not taken for an option of collector-cli.
bool IsSearchName(const std::string& name);

// Keeps `search`; an empty reason when it was kept, or the same search was kept under that name
// already; else why not (the name is taken by another search, it has no condition).
std::string SaveSearch(IRecordStore& store, const SavedSearch& search);
// False when no search had that name.
bool RemoveSavedSearch(IRecordStore& store, const std::string& name);

// The store as a scheduled refresh names it: a file by its absolute path, a PostgreSQL store by
// its URI, which must hold no password (a task's command line is kept in the clear: the
// password comes from pgpass). Nothing, with `refusal`, when it cannot be scheduled.
std::optional<std::string> StoreForSchedule(const std::string& location, std::string& refusal);

// The refresh a schedule starts: the window's program with --refresh (no window opens) or
// collector-cli's refresh, with the store, the folder of new companies and the searches.
struct RefreshCommand {
    std::string program;
    std::vector<std::string> arguments;
};
RefreshCommand RefreshCommandOf(const std::string& program, bool windowProgram,
                                const std::string& store, const std::string& exportFolder,
                                const std::vector<std::string>& searches);

inline constexpr const char* kSavedSearchPrefix = "search:";

}  // namespace store
