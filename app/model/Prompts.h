#pragma once
// What the window model asks the user, as requests a view answers: a message box, or the
// choice of a file to write. Texts are UTF-8.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

enum class PromptIcon { None, Information, Warning, Critical, Question };
enum class PromptAnswer { Ok, Yes, No };

// A message box. With `yesNo` it offers 是 and 否, otherwise 确定 alone.
struct Question {
    std::string text;
    std::string caption;
    PromptIcon icon = PromptIcon::None;
    bool yesNo = false;
    PromptAnswer defaultAnswer = PromptAnswer::Ok;
};

// One entry of a save dialog's file types: its name and the pattern of its files ("*.xlsx",
// "*" for all files).
struct FileType {
    std::string name;
    std::string pattern;
};

// A save dialog. The suffix is added to a name typed without one, and an existing file is only
// chosen after the user agreed to replace it. An initial name with a folder opens the dialog in
// that folder; a bare name opens it in the user's home folder.
struct SaveRequest {
    std::string initialName;
    std::vector<FileType> types;
    std::string defaultSuffix;
};

struct SaveAnswer {
    std::string path;
    std::size_t type = 0;  // the index in `types` the user picked
};

// One kept failure as the failures list shows it (UTF-8).
struct FailureRow {
    std::int64_t id = 0;
    std::string what;     // "第 3 页" or the company's name
    std::string address;  // the page that failed
    std::string reason;
    int tries = 0;
    std::string time;  // of the last try

    // The cells in the order of the list's columns (kFailureColumns).
    std::array<std::string, 5> Cells() const {
        return {what, reason, std::to_string(tries), time, address};
    }
};

// What an export writes, as the user chooses it before the file.
// Which rows an export writes: the search, the period and complete rows only, each chosen on
// its own, so that one search's new leads can be written alone.
struct ExportChoice {
    bool ofSearch = false;  // the search of the last pre-collect only
    // Today, Since and SinceLastRun take collected rows by when they became complete;
    // Imported takes what imports wrote, which is never new.
    enum class Period { All, Today, Since, SinceLastRun, Imported };
    Period period = Period::All;
    std::string search;  // the search offered ("化工-浙江"); empty: none to offer
    std::string since;   // "YYYY-MM-DD", for Since
    bool completeOnly = false;
    bool allColumns = false;
};

// A file to read (an import).
struct OpenRequest {
    std::string title;
    std::vector<FileType> types;
};
