#include "store/CsvImport.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <optional>

#include "text/GbkCodec.h"

namespace {

// Strict UTF-8: no overlong forms, no surrogates, nothing past U+10FFFF.
bool ValidUtf8(std::string_view s) {
    const auto at = [&](size_t i) { return static_cast<unsigned char>(s[i]); };
    for (size_t i = 0; i < s.size();) {
        const unsigned char c = at(i);
        size_t n = 0;
        unsigned char lo = 0x80, hi = 0xBF;
        if (c < 0x80) {
            n = 1;
        } else if (c >= 0xC2 && c <= 0xDF) {
            n = 2;
        } else if (c >= 0xE0 && c <= 0xEF) {
            n = 3;
            lo = c == 0xE0 ? 0xA0 : 0x80;
            hi = c == 0xED ? 0x9F : 0xBF;
        } else if (c >= 0xF0 && c <= 0xF4) {
            n = 4;
            lo = c == 0xF0 ? 0x90 : 0x80;
            hi = c == 0xF4 ? 0x8F : 0xBF;
        } else {
            return false;
        }
        if (i + n > s.size()) {
            return false;
        }
        for (size_t k = 1; k < n; ++k) {
            const unsigned char t = at(i + k);
            if (t < (k == 1 ? lo : 0x80) || t > (k == 1 ? hi : 0xBF)) {
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
    bool strayAfterQuote = false;  // text between a closing quote and the next separator
};

// Splits RFC 4180 text into records; a record ends at LF or CR LF outside quotes.
std::vector<Record> SplitRecords(std::string_view text) {
    std::vector<Record> out;
    int line = 1;
    size_t i = 0;
    const auto lineEnd = [&](size_t k) {
        return text[k] == '\n' ||
               (text[k] == '\r' && (k + 1 == text.size() || text[k + 1] == '\n'));
    };
    while (i < text.size()) {
        Record r;
        r.line = line;
        for (;;) {
            std::string field;
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
                    line += text[i] == '\n' ? 1 : 0;
                    field.push_back(text[i++]);
                }
                // After the closing quote only a separator or a line end may come.
                if (i < text.size() && text[i] != ',' && !lineEnd(i)) {
                    r.strayAfterQuote = true;
                }
            }
            while (i < text.size() && text[i] != ',' && !lineEnd(i)) {
                field.push_back(text[i++]);
            }
            r.fields.push_back(std::move(field));
            if (i < text.size() && text[i] == ',') {
                ++i;
                continue;
            }
            if (i < text.size()) {  // a line end: CR LF, LF, or a CR that ends the text
                i += text[i] == '\r' ? 1 : 0;
                i += i < text.size() && text[i] == '\n' ? 1 : 0;
                ++line;
            }
            break;
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
    ParsedImport result;
    if (bytes.find('\0') != std::string_view::npos || bytes.substr(0, 2) == "\xFF\xFE" ||
        bytes.substr(0, 2) == "\xFE\xFF") {
        result.errors.push_back(
            {1, "文件是 UTF-16 或二进制文件，只能导入 GBK 或 UTF-8 的 CSV 文件"});
        return result;
    }
    std::string text;
    bool gbk = false;
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF") {
        text = std::string(bytes.substr(3));
        if (!ValidUtf8(text)) {
            result.errors.push_back({1, "文件标明是 UTF-8，但其中有不是 UTF-8 的字节"});
            return result;
        }
    } else if (ValidUtf8(bytes)) {
        text = std::string(bytes);
    } else {
        text = text::GbkToUtf8(bytes);
        gbk = true;
    }

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
        if (r.strayAfterQuote) {
            result.errors.push_back({r.line, "引号后面有多余的字符"});
            continue;
        }
        if (gbk && std::any_of(r.fields.begin(), r.fields.end(), [](const std::string& f) {
                return f.find("\xEF\xBF\xBD") != std::string::npos;
            })) {
            // Neither UTF-8 nor GBK: importing it would store unreadable text.
            result.errors.push_back({r.line, "有无法识别的文字（既不是 GBK 也不是 UTF-8）"});
            continue;
        }
        if (r.fields.size() != columns.size()) {
            result.errors.push_back({r.line, "有 " + std::to_string(r.fields.size()) +
                                                 " 个字段，应为 " + std::to_string(columns.size()) +
                                                 " 个"});
            continue;
        }
        IRecordStore::Utf8Row row;
        for (size_t f = 0; f < r.fields.size(); ++f) {
            if (columns[f]) {
                row[static_cast<size_t>(*columns[f])] = r.fields[f];
            }
        }
        result.rows.push_back(std::move(row));
    }
    return result;
}
