#include "store/CsvImport.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <optional>

#include "text/GbkCodec.h"

namespace {

bool ValidUtf8(std::string_view s) {
    for (size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        if (n == 0 || i + n > s.size()) {
            return false;
        }
        for (size_t k = 1; k < n; ++k) {
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) {
                return false;
            }
        }
        i += n;
    }
    return true;
}

struct Record {
    int line = 0;
    std::vector<std::string> fields;
    bool unterminated = false;
};

// Splits RFC 4180 text into records; a record ends at LF or CR LF outside quotes.
std::vector<Record> SplitRecords(std::string_view text) {
    std::vector<Record> out;
    int line = 1;
    size_t i = 0;
    while (i < text.size()) {
        Record r;
        r.line = line;
        std::string field;
        bool done = false;
        while (!done) {
            if (i < text.size() && text[i] == '"') {
                ++i;
                for (;;) {
                    if (i >= text.size()) {
                        r.unterminated = true;
                        break;
                    }
                    if (text[i] == '"') {
                        if (i + 1 < text.size() && text[i + 1] == '"') {
                            field.push_back('"');
                            i += 2;
                            continue;
                        }
                        ++i;
                        break;
                    }
                    if (text[i] == '\n') {
                        ++line;
                    }
                    field.push_back(text[i++]);
                }
            }
            // Up to the next separator (text after a closing quote is kept as it stands).
            while (i < text.size() && text[i] != ',' && text[i] != '\n') {
                if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) {
                    field.push_back(text[i]);
                }
                ++i;
            }
            r.fields.push_back(std::move(field));
            field.clear();
            if (i >= text.size()) {
                done = true;
            } else if (text[i] == ',') {
                ++i;
            } else {  // '\n'
                ++i;
                ++line;
                done = true;
            }
        }
        out.push_back(std::move(r));
    }
    return out;
}

std::string Trimmed(std::string s) {
    const auto blank = [](unsigned char c) { return std::isspace(c) != 0; };
    while (!s.empty() && blank(static_cast<unsigned char>(s.back()))) {
        s.pop_back();
    }
    size_t b = 0;
    while (b < s.size() && blank(static_cast<unsigned char>(s[b]))) {
        ++b;
    }
    return s.substr(b);
}

// The column a header name stands for; none for other columns.
std::optional<int> ColumnOf(std::string name) {
    name = Trimmed(std::move(name));
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    static const std::array<std::array<const char*, 2>, MemberRecord::kFieldCount> kNames = {{
        {"title", "公司名称"},
        {"person", "联系人"},
        {"sex", "性别"},
        {"job", "职务"},
        {"mobile", "手机"},
        {"phone", "电话"},
        {"fax", "传真"},
        {"address", "地址"},
        {"zip", "邮编"},
    }};
    for (int c = 0; c < MemberRecord::kFieldCount; ++c) {
        if (name == kNames[c][0] || name == kNames[c][1]) {
            return c;
        }
    }
    return std::nullopt;
}

}  // namespace

ParsedImport ParseImportCsv(std::string_view bytes) {
    std::string text;
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF") {
        text = std::string(bytes.substr(3));
    } else if (ValidUtf8(bytes)) {
        text = std::string(bytes);
    } else {
        text = text::GbkToUtf8(bytes);
    }

    ParsedImport result;
    std::vector<Record> records = SplitRecords(text);
    // The first line is a header when it names the company column and another one.
    std::vector<std::optional<int>> columns;
    size_t first = 0;
    if (!records.empty()) {
        int named = 0;
        bool title = false;
        for (const std::string& f : records[0].fields) {
            const auto c = ColumnOf(f);
            named += c ? 1 : 0;
            title = title || c == 0;
            columns.push_back(c);
        }
        if (title && named >= 2) {
            first = 1;
        } else {
            columns.clear();
        }
    }
    if (columns.empty()) {
        for (int c = 0; c < MemberRecord::kFieldCount; ++c) {
            columns.push_back(c);
        }
    }
    for (size_t i = first; i < records.size(); ++i) {
        const Record& r = records[i];
        if (r.fields.size() == 1 && r.fields[0].empty() && !r.unterminated) {
            continue;  // an empty line
        }
        if (r.unterminated) {
            result.errors.push_back({r.line, "引号没有结束"});
            continue;
        }
        if (r.fields.size() != columns.size()) {
            result.errors.push_back({r.line, "有 " + std::to_string(r.fields.size()) +
                                                 " 个字段，应为 " + std::to_string(columns.size()) +
                                                 " 个"});
            continue;
        }
        RecordStore::Utf8Row row;
        for (size_t f = 0; f < r.fields.size(); ++f) {
            if (columns[f]) {
                row[static_cast<size_t>(*columns[f])] = r.fields[f];
            }
        }
        result.rows.push_back(std::move(row));
    }
    return result;
}
