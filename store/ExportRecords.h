#pragma once
// Writing every stored record to a comma-separated file for Excel.
//
// One line per row in id order, the nine fields separated by ",", every line ended by CR LF, no
// header. A value holding a comma, a double quote, CR or LF is put in double quotes with its
// quotes doubled, so it stays one cell; every other value is written exactly as stored. The
// text and CSV formats give the same bytes; they differ only in how the window names the file.

#include <atomic>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "store/RowSource.h"
#include "store/Store.h"

namespace store {

class IByteSink;
class IRecordStore;

enum ExportFormat { EXPORT_FORMAT_TEXT = 0, EXPORT_FORMAT_CSV = 1, EXPORT_FORMAT_XLSX = 2 };

enum class ExportEncoding {
    Gbk,      // the default: what Excel on a Chinese system reads
    Utf8Bom,  // UTF-8 with a byte-order mark, for Excel elsewhere
};

// A file that could not be created or written; what() names the file and the cause (UTF-8).
class ExportError : public std::runtime_error {
  public:
    explicit ExportError(const std::string& message) : std::runtime_error(message) {}
};

// A GBK export of rows holding characters GBK lacks: nothing was written (a file target keeps
// its old content); what() names the first rows, how many there are, and suggests UTF-8.
class ExportNotEncodable : public ExportError {
  public:
    explicit ExportNotEncodable(const std::string& message) : ExportError(message) {}
};

// The export was stopped (Ctrl+C); the target is as it was before.
class ExportCancelled : public std::runtime_error {
  public:
    ExportCancelled() : std::runtime_error("导出已停止") {}
};

// What an export writes beyond the format: which rows, and whether 采集时间 and 搜索条件 follow
// the nine columns (in every format).
struct ExportOptions {
    ExportEncoding encoding = ExportEncoding::Gbk;
    RowSelection selection;
    bool allColumns = false;
    const std::atomic<bool>* cancel = nullptr;
};

// The 搜索条件 cell of a row: its industry and region joined by "-", or empty for a row that
// came from no search.
std::string SearchCell(std::string_view industry, std::string_view region);

// Writes the file at `path` (UTF-8 file name; "-" is standard output) in `format`: text and
// CSV as above, or an Excel workbook (see XlsxWriter.h). Returns the number of records
// written. The file is written beside the target under a temporary name and renamed into
// place when complete,
// so a failure or a stop never leaves half a file and never destroys the file it was to
// replace. A target that is the store itself (or its -wal, -shm or -journal file) is refused.
// `cancel`, when given, is looked at after every row. `unique` writes each company once (its
// newest row). Throws ExportError for the file,
// ExportCancelled, and StoreError for the store; the store is never changed.
std::int64_t ExportRecords(IRecordStore& store, const std::string& path, ExportFormat format,
                           const ExportOptions& options);
std::int64_t ExportRecords(IRecordStore& store, const std::string& path, ExportFormat format,
                           ExportEncoding encoding = ExportEncoding::Gbk,
                           const std::atomic<bool>* cancel = nullptr, bool unique = false);

// The text and CSV writer: rows as lines into `sink` (not finished). In GBK, a row with a
// character GBK lacks is never written with a "?" in its place: the rows are read to the end
// and ExportNotEncodable is thrown (the sink then holds part of the file: never finish it).
std::int64_t WriteDelimited(const RowSource& rows, IByteSink& sink, ExportEncoding encoding,
                            const std::atomic<bool>* cancel);

// Reads the rows and throws ExportNotEncodable when GBK cannot hold one of them.
void CheckGbkExport(const RowSource& rows, const std::atomic<bool>* cancel);

// Appends one field to a line, quoted only when it must be.
void AppendExportField(std::string& line, std::string_view value);

}  // namespace store
