#include "store/CsvImport.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <optional>

#include "text/GbkCodec.h"

namespace store {

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

// Whether a quoted field is still open at the end of `line`, as SplitRecords reads quotes: a
// quote opens a field only where the field begins; inside, a doubled quote is a quote.
bool StillQuoted(std::string_view line, bool open) {
    bool fieldStart = !open;
    for (size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (open) {
            if (c == '"') {
                if (i + 1 < line.size() && line[i + 1] == '"') {
                    ++i;
                } else {
                    open = false;
                }
            }
            continue;
        }
        if (c == '"' && fieldStart) {
            open = true;
        }
        fieldStart = c == ',';
    }
    return open;
}

// Which encoding the text is in, or why that cannot be said.
// The first `n` characters of a UTF-8 text, "…" marking a cut.
std::string FirstChars(const std::string& utf8, size_t n) {
    size_t at = 0;
    for (size_t i = 0; i < n && at < utf8.size(); ++i) {
        at += std::max<size_t>(
            1, text::Utf8CharLength(reinterpret_cast<const unsigned char*>(utf8.data()) + at,
                                    utf8.size() - at));
    }
    return at < utf8.size() ? utf8.substr(0, at) + "…" : utf8;
}

struct Decision {
    ImportEncoding encoding = ImportEncoding::Utf8;
    bool bom = false;
    std::string refusal;
    std::string firstChinese;  // the first line that is not ASCII, as it is in the file
    bool ambiguous = false;    // its Chinese reads as GBK and as UTF-8
};

Decision Decide(const ImportLines& in, ImportEncoding asked) {
    Decision d;
    in.rewind();
    std::string line;
    int n = 0;
    int badUtf8 = 0;
    int badGbk = 0;
    bool nonAscii = false;
    while (in.next(line)) {
        ++n;
        std::string_view view(line);
        if (n == 1) {
            if (view.substr(0, 2) == "\xFF\xFE" || view.substr(0, 2) == "\xFE\xFF") {
                d.refusal = "文件是 UTF-16 或二进制文件，只能导入 GBK 或 UTF-8 的 CSV 文件";
                return d;
            }
            if (view.substr(0, 3) == "\xEF\xBB\xBF") {
                d.bom = true;
                view.remove_prefix(3);
            }
        }
        if (view.size() > kMaxImportRecordBytes) {
            continue;  // refused by the reader, whatever its encoding
        }
        if (view.find('\0') != std::string_view::npos) {
            d.refusal = "文件是 UTF-16 或二进制文件，只能导入 GBK 或 UTF-8 的 CSV 文件";
            return d;
        }
        if (text::IsAscii(view)) {
            continue;
        }
        if (!nonAscii) {
            d.firstChinese.assign(view);
        }
        nonAscii = true;
        if (badUtf8 == 0 && !ValidUtf8(view)) {
            badUtf8 = n;
        }
        if (badGbk == 0 && !text::GbkToUtf8Exact(view)) {
            badGbk = n;
        }
    }
    const auto at = [](int line) { return "第 " + std::to_string(line) + " 行"; };
    if (d.bom || asked == ImportEncoding::Utf8) {
        if (badUtf8 != 0) {
            d.refusal = (d.bom ? "文件标明是 UTF-8，但" : "文件不是 UTF-8：") + at(badUtf8) +
                        "有不是 UTF-8 的字节";
        }
        d.encoding = ImportEncoding::Utf8;
        return d;
    }
    if (asked == ImportEncoding::Gbk) {
        if (badGbk != 0) {
            d.refusal = "文件不是 GBK：" + at(badGbk) + "有不是 GBK 的字节";
        }
        d.encoding = ImportEncoding::Gbk;
        return d;
    }
    if (!nonAscii || (badUtf8 == 0 && badGbk != 0)) {
        d.encoding = ImportEncoding::Utf8;
    } else if (badGbk == 0 && badUtf8 != 0) {
        d.encoding = ImportEncoding::Gbk;
    } else if (badGbk == 0 && badUtf8 == 0) {
        d.ambiguous = true;
        d.refusal =
            "无法确定文件的编码：其中的中文按 GBK 和按 UTF-8 读都说得通。请用 --encoding gbk 或 "
            "--encoding utf-8 指明";
    } else {
        d.refusal = "文件既不是 GBK 也不是 UTF-8：" + at(badUtf8) + "不是 UTF-8，" + at(badGbk) +
                    "不是 GBK，没有导入任何记录";
    }
    return d;
}

// The rows of the text, one at a time, with what is wrong with the bad ones.
class RowReader {
  public:
    RowReader(const ImportLines& in, const Decision& d) : in_(in), decision_(d) { in_.rewind(); }

    // The next good row; false at the end. Bad rows go to `report`.
    bool Next(IRecordStore::Utf8Row& row, ImportReport& report) {
        int start = 0;
        std::string raw;
        while (!stopped_) {
            const Got got = NextRecord(start, raw);
            if (got == Got::End) {
                break;
            }
            if (got == Got::LineTooLong) {
                Bad(report, start, "这一行超过 1 MiB");
                continue;
            }
            if (got == Got::QuoteTooLong) {
                // Everything after it would be read as one field: the import stops here.
                Bad(report, start, "引号从这一行开始，超过 1 MiB 仍没有结束");
                stopped_ = true;
                break;
            }
            std::string text = raw;
            if (decision_.encoding == ImportEncoding::Gbk) {
                text = text::GbkToUtf8Exact(raw).value_or(text::GbkToUtf8(raw));
            }
            std::vector<Record> split = SplitRecords(text);
            if (split.empty()) {
                continue;
            }
            if (split.size() > 1) {
                Bad(report, start, "一行中有多条记录（有多余的回车符）");
                continue;
            }
            Record& r = split.front();
            r.line = start;
            // A header, on the first line or further down (files joined with cat), sets the
            // order of the columns of the lines after it.
            if (!r.unterminated && !r.strayAfterQuote && ReadHeader(r, report)) {
                continue;
            }
            if (r.fields.size() == 1 && r.fields[0].empty() && !r.unterminated) {
                continue;  // an empty line
            }
            std::string why;
            if (r.unterminated) {
                why = "引号没有结束";
            } else if (r.strayAfterQuote) {
                why = "引号后面有多余的字符";
            } else if (r.fields.size() != columns_.size()) {
                why = "有 " + std::to_string(r.fields.size()) + " 个字段，应为 " +
                      std::to_string(columns_.size()) + " 个";
            }
            if (!why.empty()) {
                Bad(report, r.line, std::move(why));
                continue;
            }
            row = IRecordStore::Utf8Row{};
            for (size_t f = 0; f < r.fields.size(); ++f) {
                if (columns_[f]) {
                    row[static_cast<size_t>(*columns_[f])] = std::move(r.fields[f]);
                }
            }
            return true;
        }
        return false;
    }

  private:
    static void Bad(ImportReport& report, int line, std::string why) {
        if (report.errors.size() < ImportReport::kNamedErrors) {
            report.errors.push_back({line, std::move(why)});
        } else {
            ++report.moreErrors;
        }
    }

    enum class Got { End, Record, LineTooLong, QuoteTooLong };

    // Lines joined while a quote is open: one record's bytes and the line it starts on.
    Got NextRecord(int& start, std::string& raw) {
        std::string line;
        bool open = false;
        bool any = false;
        while (in_.next(line)) {
            ++lineNo_;
            // A byte-order mark begins the file, and in UTF-8 also any part joined to it (an
            // export of this program's, Excel's "CSV UTF-8").
            if ((lineNo_ == 1 && decision_.bom) ||
                (!any && decision_.encoding == ImportEncoding::Utf8 &&
                 line.compare(0, 3, "\xEF\xBB\xBF") == 0)) {
                line.erase(0, 3);
            }
            if (!any && line.size() > kMaxImportRecordBytes) {
                start = lineNo_;
                return Got::LineTooLong;
            }
            open = StillQuoted(line, open);
            if (!any) {
                raw = std::move(line);
                start = lineNo_;
                any = true;
            } else {
                raw += '\n';
                raw += line;
            }
            if (raw.size() > kMaxImportRecordBytes) {
                return Got::QuoteTooLong;
            }
            if (!open) {
                return Got::Record;
            }
        }
        return any ? Got::Record : Got::End;  // an open quote at the end: SplitRecords says so
    }

    // A record is a header when it names the company column and another one; a name given
    // twice is a mistake (one of the two columns would be lost).
    bool ReadHeader(const Record& r, ImportReport& report) {
        std::vector<std::optional<int>> columns;
        int named = 0;
        bool title = false;
        std::string twice;
        for (const std::string& f : r.fields) {
            const auto c = ColumnOf(f);
            if (c && std::find(columns.begin(), columns.end(), c) != columns.end()) {
                twice = Trimmed(f);
            }
            named += c ? 1 : 0;
            title = title || c == 0;
            columns.push_back(c);
        }
        if (title && named >= 2) {
            columns_ = std::move(columns);
            if (!twice.empty()) {
                Bad(report, r.line, "列名“" + twice + "”出现了两次");
            }
            return true;
        }
        return false;
    }

    const ImportLines& in_;
    Decision decision_;
    int lineNo_ = 0;
    bool stopped_ = false;
    std::vector<std::optional<int>> columns_ = [] {
        std::vector<std::optional<int>> c;
        for (int i = 0; i < MemberRecord::kFieldCount; ++i) {
            c.push_back(i);
        }
        return c;
    }();
};

struct ImportChanged {};

}  // namespace

ImportReport ImportCsv(const ImportLines& lines, IRecordStore& store, ImportEncoding encoding,
                       bool skipKnown) {
    ImportReport report;
    const Decision d = Decide(lines, encoding);
    if (!d.refusal.empty()) {
        report.refusal = d.refusal;
        if (d.ambiguous) {
            // What the user is to choose between, cut to what a question box shows.
            report.readings = std::make_pair(FirstChars(text::GbkToUtf8(d.firstChinese), 60),
                                             FirstChars(d.firstChinese, 60));
        }
        return report;
    }
    {
        // Every line is looked at before anything is stored: a bad one stops the whole file.
        RowReader check(lines, d);
        IRecordStore::Utf8Row row;
        while (check.Next(row, report)) {
        }
    }
    if (report.Failed()) {
        return report;
    }
    RowReader rows(lines, d);
    ImportReport second;
    try {
        report.count = store.ImportRows(
            [&](IRecordStore::Utf8Row& row) {
                const bool more = rows.Next(row, second);
                if (second.Failed()) {
                    throw ImportChanged{};  // the file changed since it was looked at
                }
                return more;
            },
            skipKnown);
    } catch (const ImportChanged&) {
        report.errors = std::move(second.errors);
        report.moreErrors = second.moreErrors;
        report.count = {};
    }
    return report;
}

ParsedImport ParseImportCsv(std::string_view bytes, ImportEncoding encoding) {
    size_t at = 0;
    ImportLines lines;
    lines.rewind = [&at] { at = 0; };
    lines.next = [&at, bytes](std::string& line) {
        if (at >= bytes.size()) {
            return false;
        }
        const size_t end = bytes.find('\n', at);
        const size_t stop = end == std::string_view::npos ? bytes.size() : end;
        line.assign(bytes.substr(at, stop - at));
        at = stop + 1;
        return true;
    };
    ParsedImport parsed;
    const Decision d = Decide(lines, encoding);
    if (!d.refusal.empty()) {
        parsed.errors.push_back({1, d.refusal});
        return parsed;
    }
    RowReader reader(lines, d);
    ImportReport report;
    IRecordStore::Utf8Row row;
    while (reader.Next(row, report)) {
        parsed.rows.push_back(row);
    }
    parsed.errors = std::move(report.errors);
    return parsed;
}

}  // namespace store
