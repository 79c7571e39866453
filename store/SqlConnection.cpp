#include "store/SqlConnection.h"

#include "text/GbkCodec.h"
#include "text/Number.h"

namespace store {

std::int64_t SqlRow::Int(int column) const {
    return text::LeadingLong(Text(column));
}

bool SqlRow::Bool(int column) const {
    const std::string_view t = Text(column);
    return t == "t" || t == "1";
}

std::string SqlRow::Gbk(int column) const {
    return text::Utf8ToGbk(Text(column));
}

std::string ISqlConnection::One(const std::string& sql, const SqlParams& params, bool* found) {
    std::string value;
    bool any = false;
    Run(sql, params, [&](const SqlRow& row) {
        if (!any) {
            value = std::string(row.Text(0));
            any = true;
        }
    });
    if (found != nullptr) {
        *found = any;
    }
    return value;
}

bool ISqlConnection::Exists(const std::string& sql, const SqlParams& params) {
    bool found = false;
    One(sql, params, &found);
    return found;
}

}  // namespace store
