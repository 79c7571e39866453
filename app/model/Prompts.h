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
    // OfRun: what the scheduled runs the window told of on opening brought.
    enum class Period { All, Today, Since, SinceLastRun, Imported, OfRun };
    Period period = Period::All;
    bool runOffered = false;  // there are such runs: OfRun can be chosen
    std::string search;       // the search offered ("化工-浙江"); empty: none to offer
    std::string since;        // "YYYY-MM-DD", for Since
    bool completeOnly = false;
    bool allColumns = false;
};

// 定时采集…: the saved searches to choose from, the schedules there are, and what the user
// chose last (offered again).
struct ScheduleChoice {
    bool remove = false;  // remove the schedule `removeId`; otherwise add the one below
    int removeId = 0;
    bool daily = true;
    std::vector<int> weekdays;  // 1 (Monday) to 7 (Sunday), for a weekly one
    std::string time = "08:00";
    std::vector<std::string> searches;  // the saved searches chosen; none: all
    bool exportNew = false;
    std::string exportFolder;
};
struct ScheduleOffer {
    std::vector<std::string> searches;  // saved, by name
    struct Listed {
        int id = 0;
        std::string when;
        std::string command;
    };
    std::vector<Listed> schedules;
    ScheduleChoice last;
};

// A file to read (an import).
struct OpenRequest {
    std::string title;
    std::vector<FileType> types;
};
