#pragma once
// The rows an export writes: every stored record as its nine UTF-8 texts, in order. A source
// calls `visit` once per row; the views live until `visit` returns.

#include <array>
#include <functional>
#include <string_view>

#include "store/MemberRecord.h"

using ExportRow = std::array<std::string_view, MemberRecord::kFieldCount>;
using RowSource = std::function<void(const std::function<void(const ExportRow&)>& visit)>;
