#pragma once
// Reading records from a CSV file in the export's format, or in the shape mdb-export gives a
// table of the old program's data.mdb: GBK or UTF-8; fields as RFC 4180 quotes them (a quoted
// field may hold commas, quotes and line breaks); an optional header line naming the nine
// columns in any order (title ... zip, or the window's headers 公司名称 ... 邮编), other columns
// such as id ignored. Without a header a line holds the nine fields in the export's order. A
// header line further down (files joined with cat) starts a part with its own column order.
//
// The encoding is never guessed wrong: the one asked for, else a byte-order mark (UTF-8), else
// the one of the two in which the whole file is valid. A file with non-ASCII text valid in
// both, or in neither, is refused, naming the choice or the first bad line: rows are never
// stored garbled. A file with any bad line is not imported at all. The file is read line by
// line, so memory does not grow with it.

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "store/Store.h"

namespace store {

enum class ImportEncoding { Detect, Gbk, Utf8 };

struct ImportLineError {
    int line = 0;     // where the record starts, from 1
    std::string why;  // UTF-8
};

struct ImportReport {
    std::string refusal;  // the file as a whole cannot be read (UTF-8)
    // Its Chinese reads as GBK and as UTF-8: its first line of Chinese read as GBK, then as
    // UTF-8 (UTF-8 texts, cut to 60 characters), for the user to choose between.
    std::optional<std::pair<std::string, std::string>> readings;
    std::vector<ImportLineError> errors;  // the first kNamedErrors bad lines
    std::int64_t moreErrors = 0;          // bad lines beyond those
    IRecordStore::ImportCount count;      // what was stored (nothing when anything is wrong)

    static constexpr size_t kNamedErrors = 20;
    bool Failed() const { return !refusal.empty() || !errors.empty(); }
};

// The longest line, and the longest record a quoted field may spread over: beyond it the
// import stops with the line where the quote opened, so no file makes memory grow with it.
inline constexpr size_t kMaxImportRecordBytes = 1 << 20;

// Gives the next line of the input (without its line end) and true, or false at its end;
// `rewind` starts over. A line source is read more than once: the encoding is decided first.
struct ImportLines {
    std::function<bool(std::string&)> next;
    std::function<void()> rewind;
};

// Imports the rows of `lines` into `store` in one transaction (see ImportRows). Throws
// StoreError; an exception out of `lines` (a stop) imports nothing.
ImportReport ImportCsv(const ImportLines& lines, IRecordStore& store, ImportEncoding encoding,
                       bool skipKnown);

// The rows the text holds, read as ImportCsv reads them (for tests and small texts).
struct ParsedImport {
    std::vector<IRecordStore::Utf8Row> rows;
    std::vector<ImportLineError> errors;  // a refusal is an error of line 1
};
ParsedImport ParseImportCsv(std::string_view bytes,
                            ImportEncoding encoding = ImportEncoding::Detect);

}  // namespace store
