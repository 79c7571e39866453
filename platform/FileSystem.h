#pragma once
// The file operations that differ between operating systems. Paths are UTF-8 everywhere; an
// operation that fails leaves an errno value in `errno` (platform::ErrorText words it).

#include <cstdio>
#include <string>

namespace platform {

#ifdef _WIN32
constexpr char kPathSeparator = '\\';
#else
constexpr char kPathSeparator = '/';
#endif

enum class FileKind { Missing, Regular, Folder, Other };

// What `path` names, links followed: a device or a pipe is Other.
FileKind KindOf(const std::string& path);

// `path` from the root: a relative one is taken from the current folder (UTF-8).
std::string AbsolutePath(const std::string& path);

// The file a symbolic link leads to; `path` itself when it is no link.
std::string FollowLink(const std::string& path);

// A new file beside `stem` (its name is `stem` and a unique suffix), open for writing bytes.
// It gets the permissions of the file `likeFile` when that exists, an ordinary file's when it
// does not, and stays private to the user when `likeFile` is empty (a temporary file).
// Nothing (and errno) when it cannot be made.
FILE* CreateUniqueFile(const std::string& stem, const std::string& likeFile, std::string& path);

// A file of no name for reading and writing back, in the temporary folder, gone when closed.
// (The C library's tmpfile() writes to the root of the disk on Windows.)
FILE* AnonymousTempFile();

// Writes what the system holds of an open file to the disk.
bool SyncFile(FILE* file);

// Puts `from` in the place of `to`, replacing a file there in one step.
bool MoveIntoPlace(const std::string& from, const std::string& to);

bool RemoveFile(const std::string& path);

// The folder for temporary files, without a separator at the end.
std::string TempFolder();

// This process's number, for telling owners apart.
unsigned long ProcessId();

}  // namespace platform
