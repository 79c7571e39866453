#pragma once
// Reading records from a CSV file in the export's format, or in the shape mdb-export gives a
// table of the old program's data.mdb: GBK, or UTF-8 with or without a byte-order mark;
// fields as RFC 4180 quotes them (a quoted field may hold commas, quotes and line breaks);
// an optional header line naming the nine columns in any order (title ... zip, or the
// window's headers 公司名称 ... 邮编), other columns such as id ignored. Without a header a
// line holds the nine fields in the export's order.

#include <string>
#include <string_view>
#include <vector>

#include "store/Store.h"

struct ImportLineError {
    int line = 0;     // where the record starts, from 1
    std::string why;  // UTF-8
};

struct ParsedImport {
    std::vector<IRecordStore::Utf8Row> rows;
    std::vector<ImportLineError> errors;  // a file with any is not imported at all
};

ParsedImport ParseImportCsv(std::string_view bytes);
