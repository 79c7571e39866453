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

// Where the store is kept: data.db beside the program when that folder can be written (the
// portable way, and the build tree's), else data.db in `dataFolder`, which is then created.
// Gives the empty text when neither can be had.
std::string ChooseStorePath(const std::string& programFolder, const std::string& dataFolder,
                            const std::function<bool(const std::string&)>& writable);

// Creates `folder` and its missing parents (private to the user where that can be said).
bool MakeFolders(const std::string& folder);

// Whether the calling user may create files in `folder`.
bool FolderWritable(const std::string& folder);

}  // namespace platform

// The store used when none is named: ChooseStorePath for this program and user.
std::string DefaultStorePath();
