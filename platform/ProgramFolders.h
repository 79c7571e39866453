#pragma once
// Where the program is and where it may keep its store.

#include <functional>
#include <string>

// The directory of the running executable, ending with a separator.
std::string ModuleDirectory();

namespace platform {

// The user's folder for this program's data, ending with a separator:
// $XDG_DATA_HOME/collector/ (by default ~/.local/share/collector/), on Windows
// %LOCALAPPDATA%\collector\. Not created here.
std::string DataFolder();

// The user's folder for this program's settings, ending with a separator:
// $XDG_CONFIG_HOME/collector/ (by default ~/.config/collector/), on Windows
// %APPDATA%\collector\. Not created here.
std::string ConfigFolder();

// Where the store is kept when none is named, and a store beside the program that is not.
struct StoreLocation {
    std::string path;          // empty when no folder can be had
    std::string unusedBeside;  // a data.db beside the program this user cannot write
};

// The one rule, whoever starts the program and however: data.db beside the program when it
// is there already and this user can write it (a portable copy, an older program's layout);
// otherwise data.db in `dataFolder`, which is then created, whether or not the program's
// folder could be written (an administrator's run, a build tree). `exists` and `writable`
// tell of a file.
StoreLocation ChooseStorePath(const std::string& programFolder, const std::string& dataFolder,
                              const std::function<bool(const std::string&)>& exists,
                              const std::function<bool(const std::string&)>& writable);

// What to say of a store beside the program that is not the one in use; empty when none.
std::string UnusedStoreNotice(const StoreLocation& location);

// Creates `folder` and its missing parents (private to the user where that can be said).
bool MakeFolders(const std::string& folder);

// Whether the calling user may create files in `folder`.
bool FolderWritable(const std::string& folder);
// Whether the calling user may write the file `path` and create files beside it (a SQLite
// store writes its journal there).
bool FileWritable(const std::string& path);

}  // namespace platform

// The store used when none is named: ChooseStorePath for this program and user.
platform::StoreLocation DefaultStoreLocation();
