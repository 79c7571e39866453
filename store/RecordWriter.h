#pragma once

#include <cstdint>

#include "store/MemberRecord.h"

// What the crawl needs of the store: append one row and learn its id. A failure throws
// StoreError; when the call returns, the row is committed.
class IRecordWriter {
  public:
    virtual ~IRecordWriter() = default;
    virtual std::int64_t AppendMemberRecord(const MemberRecord& record) = 0;
};
