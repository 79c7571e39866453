#pragma once
// The rows an export writes: every selected record as its nine UTF-8 texts, in order, and with
// every column also when it was first stored (采集时间) and for which search (搜索条件). A
// source calls `visit` once per row; the views live until `visit` returns.

#include <array>
#include <cstddef>
#include <functional>
#include <string_view>

#include "store/MemberRecord.h"

namespace store {

struct ExportRow {
    static constexpr size_t kNineColumns = MemberRecord::kFieldCount;
    static constexpr size_t kAllColumns = kNineColumns + 2;

    std::array<std::string_view, kAllColumns> cells{};
    size_t count = kNineColumns;

    std::string_view& operator[](size_t i) { return cells[i]; }
    const std::string_view& operator[](size_t i) const { return cells[i]; }
    size_t size() const { return count; }
    const std::string_view* begin() const { return cells.data(); }
    const std::string_view* end() const { return cells.data() + count; }
};
using RowSource = std::function<void(const std::function<void(const ExportRow&)>& visit)>;

// The headers of the columns, in order (UTF-8).
inline constexpr const char* kExportHeaders[ExportRow::kAllColumns] = {
    "公司名称", "联系人", "性别", "职务",     "手机",    "电话",
    "传真",     "地址",   "邮编", "采集时间", "搜索条件"};

}  // namespace store
