#pragma once
// The lines of an open file as an import reads them: bytes up to each LF (a NUL byte included,
// which the import refuses), read in large pieces so memory does not grow with the file. A line
// longer than kMaxImportRecordBytes is given as its first kMaxImportRecordBytes + 4 bytes (the
// import refuses it, byte-order mark or not), the rest passed over.

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

#include "store/CsvImport.h"

namespace store {

// Thrown out of the lines when the file cannot be read: nothing is imported.
struct ImportUnreadable {};

class FileLines {
  public:
    // `onRead`, when given, is called with the bytes read so far after each piece; it may
    // throw to stop the import.
    explicit FileLines(FILE* file, std::function<void(std::int64_t)> onRead = {});
    // The line source over the file (this object must outlive it).
    ImportLines Lines();

  private:
    bool Next(std::string& line);

    FILE* file_;
    std::function<void(std::int64_t)> onRead_;
    std::string buffer_;
    std::string head_;  // the start of an over-long line while its rest is passed over
    bool overLong_ = false;
    size_t at_ = 0;
    std::int64_t read_ = 0;
};

}  // namespace store
