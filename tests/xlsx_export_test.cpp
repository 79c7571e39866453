// Excel workbooks, read back with openpyxl: texts kept as texts, the header frozen with filter
// arrows, control characters dropped, long texts cut, sheets split, failures of the sink.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <stdexcept>

#include "StandInServer.h"
#include "TempDir.h"
#include "store/ByteSink.h"
#include "store/ExportRecords.h"
#include "store/RecordStore.h"
#include "store/XlsxWriter.h"

using namespace store;

using standin::Gbk;

namespace {

// The workbook as tests/xlsx_dump.py prints it; empty when it could not be read.
std::string Dump(const std::string& path) {
    const std::string command =
        "/usr/bin/python3 " COLLECTOR_TEST_DIR "/xlsx_dump.py '" + path + "'";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return {};
    }
    std::string out;
    char buf[4096];
    size_t n = 0;
    while ((n = fread(buf, 1, sizeof buf, pipe)) > 0) {
        out.append(buf, n);
    }
    return pclose(pipe) == 0 ? out : std::string();
}

std::string Row(std::initializer_list<std::string> cells) {
    std::string line;
    const char* sep = "";
    for (const auto& c : cells) {
        line += sep;
        line += c.empty() ? "" : "s:" + c;
        sep = "\x1f";
    }
    return line + "\n";
}

const std::string kHeader =
    Row({"公司名称", "联系人", "性别", "职务", "手机", "电话", "传真", "地址", "邮编"});

bool HaveOpenpyxl() {
    return std::system("/usr/bin/python3 -c 'import openpyxl' 2>/dev/null") == 0;
}

// Takes `limit` bytes, then fails as a full disk would.
class FailingSink : public IByteSink {
  public:
    explicit FailingSink(size_t limit) : limit_(limit) {}
    void Write(std::string_view bytes) override {
        written_ += bytes.size();
        if (written_ > limit_) {
            throw ExportError("disk full");
        }
    }
    void Finish() override {}

  private:
    size_t limit_;
    size_t written_ = 0;
};

}  // namespace

TEST(XlsxExport, TextsStayTextsAndTheWorkbookOpensClean) {
    if (!HaveOpenpyxl()) {
        GTEST_SKIP() << "python3-openpyxl is needed to read the workbook back";
    }
    TempDir dir;
    RecordStore store(dir.File("data.db"));
    MemberRecord numbers{Gbk("广州化工有限公司"), Gbk("陈明"),         Gbk("先生"),
                         Gbk("销售经理"),         "13800138000",       "0574-86880000",
                         "020-12345679",          Gbk("广州市天河区"), "010000"};
    MemberRecord odd{
        "A\x01"
        "B\x1f",
        "",
        "",
        "",
        "123456789012345678",
        "=1+1",
        "",
        "line1\nline2",
        "0"};
    MemberRecord longText{Gbk("长")};
    longText.address = std::string(40000, 'x');
    store.AppendMemberRecord(numbers);
    store.AppendMemberRecord(odd);
    store.AppendMemberRecord(longText);
    // Noncharacters and a lone surrogate, as another tool may have stored them: an XML parser
    // (openpyxl's) would refuse the sheet with them in it.
    store.ImportRows({{"甲\xEF\xBF\xBF乙\xEF\xBF\xBE", "\xED\xA0\x80丙"}});

    EXPECT_EQ(ExportRecords(store, dir.File("out.xlsx"), EXPORT_FORMAT_XLSX), 4);
    const std::string expected =
        "SHEET 数据|A2|A1:I5\n" + kHeader +
        Row({"广州化工有限公司", "陈明", "先生", "销售经理", "13800138000", "0574-86880000",
             "020-12345679", "广州市天河区", "010000"}) +
        Row({"AB", "", "", "", "123456789012345678", "=1+1", "", "line1\nline2", "0"}) +
        Row({"长", "", "", "", "", "", "", std::string(kXlsxMaxCellChars, 'x'), ""}) +
        Row({"甲乙", "丙", "", "", "", "", "", "", ""});
    const std::string dump = Dump(dir.File("out.xlsx"));
    ASSERT_FALSE(dump.empty());
    EXPECT_EQ(dump.substr(0, dump.find("WIDTHS")), expected);
    // Widths follow the widest text: a CJK character counts as two, capped for long texts.
    EXPECT_NE(dump.find("WIDTHS 18 8 6 10 20 15 14 82 8"), std::string::npos) << dump;
}

TEST(XlsxExport, ManyRowsGoOnInFurtherSheetsWithTheHeader) {
    if (!HaveOpenpyxl()) {
        GTEST_SKIP() << "python3-openpyxl is needed to read the workbook back";
    }
    TempDir dir;
    const RowSource five = [](const std::function<void(const ExportRow&)>& visit) {
        for (int i = 1; i <= 5; ++i) {
            const std::string name = "c" + std::to_string(i);
            ExportRow row{};
            row[0] = name;
            visit(row);
        }
    };
    {
        FileSink sink(dir.File("split.xlsx"));
        EXPECT_EQ(WriteXlsx(five, sink, nullptr, 2), 5);
        sink.Finish();
    }
    const std::string rowsOf = "\x1f\x1f\x1f\x1f\x1f\x1f\x1f\x1f\n";
    std::string expected;
    expected += "SHEET 数据|A2|A1:I3\n" + kHeader + "s:c1" + rowsOf + "s:c2" + rowsOf;
    expected += "SHEET 数据2|A2|A1:I3\n" + kHeader + "s:c3" + rowsOf + "s:c4" + rowsOf;
    expected += "SHEET 数据3|A2|A1:I2\n" + kHeader + "s:c5" + rowsOf;
    std::string dump = Dump(dir.File("split.xlsx"));
    std::string withoutWidths;
    std::istringstream lines(dump);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("WIDTHS", 0) != 0) {
            withoutWidths += line + "\n";
        }
    }
    EXPECT_EQ(withoutWidths, expected);
}

TEST(XlsxExport, CellTextsAndWidths) {
    struct Case {
        std::string in, out;
        int width;
    };
    const Case cases[] = {
        {"abc", "abc", 3},
        {"\xE5\xB9\xBF\xE5\xB7\x9E", "\xE5\xB9\xBF\xE5\xB7\x9E", 4},  // 广州: two wide
        {"a\tb\r\nc", "a\tb\r\nc", 6},
        {std::string("x\0y", 3) + "\x07\x1b", "xy", 2},
        {"\xEF\xBC\xA1", "\xEF\xBC\xA1", 2},  // full-width A
        // Noncharacters (U+FFFF, U+FFFE, U+FDD0, U+1FFFF) and a lone surrogate: not XML.
        {"a\xEF\xBF\xBF"
         "b\xEF\xBF\xBE",
         "ab", 2},
        {"\xEF\xB7\x90y\xF0\x9F\xBF\xBF", "y", 1},
        {"\xED\xA0\x80z", "z", 1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(XlsxCellText(c.in), c.out);
        EXPECT_EQ(DisplayWidth(XlsxCellText(c.in)), c.width) << c.in;
    }
    // The cut counts characters as Excel does (a character beyond the BMP is two).
    EXPECT_EQ(XlsxCellText(std::string(40000, 'y')).size(), kXlsxMaxCellChars);
    std::string astral;
    for (int i = 0; i < 20000; ++i) {
        astral += "\xF0\x9F\x98\x80";
    }
    EXPECT_EQ(XlsxCellText(astral).size(), (kXlsxMaxCellChars / 2) * 4);
}

TEST(XlsxExport, AFailingSinkIsAnErrorAndNoFileIsLeft) {
    TempDir dir;
    RecordStore store(dir.File("data.db"));
    for (int i = 0; i < 50; ++i) {
        store.AppendMemberRecord(MemberRecord{"company " + std::to_string(i)});
    }
    const RowSource rows = [&store](const std::function<void(const ExportRow&)>& visit) {
        ExportRow out;
        store.ForEachMemberRow([&](const IRecordStore::RawRow& row) {
            std::copy(row.begin(), row.end(), out.cells.begin());
            visit(out);
        });
    };
    for (size_t limit : {size_t{0}, size_t{100}, size_t{5000}}) {
        FailingSink full(limit);
        EXPECT_THROW(WriteXlsx(rows, full, nullptr), ExportError) << limit;
        if (limit < 500) {  // the CSV of these rows is about 700 bytes
            FailingSink fullCsv(limit);
            EXPECT_THROW(WriteDelimited(rows, fullCsv, ExportEncoding::Gbk, nullptr), ExportError);
        }
    }
    // A sink dropped unfinished leaves nothing behind, and the old file stands.
    {
        FILE* f = std::fopen(dir.File("keep.xlsx").c_str(), "wb");
        std::fputs("old", f);
        std::fclose(f);
        FileSink sink(dir.File("keep.xlsx"));
        sink.Write("new bytes");
    }
    EXPECT_EQ(ReadFileBytes(dir.File("keep.xlsx")), "old");
    int files = 0;
    for (const auto& e : std::filesystem::directory_iterator(FsPath(dir.Path()))) {
        files += e.path().filename().string().rfind("keep.xlsx", 0) == 0;
    }
    EXPECT_EQ(files, 1);
}
