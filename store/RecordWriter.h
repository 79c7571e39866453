#pragma once

#include <cstdint>
#include <string>

#include "store/KeptFailure.h"
#include "store/MemberRecord.h"

// What the crawl needs of the store. A failure throws StoreError; when a call returns, its
// change is committed.
class IRecordWriter {
  public:
    virtual ~IRecordWriter() = default;
    // Appends one row (with its contact address) and gives its id.
    virtual std::int64_t AppendMemberRecord(const MemberRecord& record) = 0;
    // Writes the contact details into a row kept for a failed contact page; the company name
    // stays as it is.
    virtual void FillMemberRecord(std::int64_t rowId, const MemberRecord& record) = 0;
    // Keeps a failure (or, when one with the same kind and address is kept, updates it) and
    // gives its id.
    virtual std::int64_t KeepFailure(const KeptFailure& failure) = 0;
    virtual void DropFailure(std::int64_t failureId) = 0;
};
