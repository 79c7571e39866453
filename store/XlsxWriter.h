#pragma once
// Rows to an Excel workbook (.xlsx, libxlsxwriter in constant-memory mode): one sheet 数据 with
// a frozen header row and filter arrows, every cell text (number format "@") so that mobiles,
// area codes and postal codes keep their digits, columns as wide as their widest text (a CJK
// character counts as two). Past `rowsPerSheet` rows the export goes on in 数据2, 数据3 ...
// with the same header. Control characters other than tab and line breaks are dropped and a
// text is cut at Excel's 32,767 characters, so the file opens without a repair prompt.

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

#include "store/ByteSink.h"
#include "store/RowSource.h"

namespace store {

inline constexpr std::int64_t kXlsxRowsPerSheet = 1048575;  // under the header row
inline constexpr size_t kXlsxMaxCellChars = 32767;

// Writes the workbook into `sink` (not finished): a header row, then the first `columns` cells
// of every row. Returns the rows written; throws ExportError and ExportCancelled.
std::int64_t WriteXlsx(const RowSource& rows, IByteSink& sink, const std::atomic<bool>* cancel,
                       std::int64_t rowsPerSheet = kXlsxRowsPerSheet,
                       size_t columns = ExportRow::kNineColumns);

// A cell's text as the workbook holds it.
std::string XlsxCellText(std::string_view utf8);
// How many columns of a fixed-width font a text takes: wide (CJK) characters two, others one.
int DisplayWidth(std::string_view utf8);

}  // namespace store
