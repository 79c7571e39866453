// Reading CSV for import: quoting, line ends, encodings and what makes a line bad.

#include <gtest/gtest.h>

#include "StandInServer.h"
#include "store/CsvImport.h"

using standin::Gbk;

TEST(CsvImport, LinesAndTheirMistakes) {
    struct Case {
        const char* what;
        std::string bytes;
        size_t rows;
        std::string firstError;  // "line: why", empty when none
        std::string address;     // the first row's address, when there is one
    };
    const std::string nine = "a,,,,,,,x,z";
    const Case cases[] = {
        {"export shape, CR LF", nine + "\r\n" + nine + "\r\n", 2, "", "x"},
        {"no line end at the end, a lone CR", nine + "\r", 1, "", "x"},
        {"quoted comma, quote and line break", "a,,,,,,,\"1, \"\"2\"\"\r\n3\",z\n", 1, "",
         "1, \"2\"\r\n3"},
        {"blank lines", "\n" + nine + "\n\n", 1, "", "x"},
        {"text after a closing quote", "\"a\"b,,,,,,,,\n", 0, "1: 引号后面有多余的字符", ""},
        {"unterminated quote", nine + "\n\"a,,,", 1, "2: 引号没有结束", "x"},
        {"too few fields", nine + "\na,b\n", 1, "2: 有 2 个字段，应为 9 个", "x"},
        {"UTF-16",
         "\xFF\xFE"
         "a\0,\0",
         0, "1: 文件是 UTF-16 或二进制文件，只能导入 GBK 或 UTF-8 的 CSV 文件", ""},
        {"BOM but not UTF-8", "\xEF\xBB\xBF" + Gbk("广州") + ",,,,,,,,\n", 0,
         "1: 文件标明是 UTF-8，但其中有不是 UTF-8 的字节", ""},
        {"GBK", Gbk("广州化工,,,,,,,天河区,\r\n"), 1, "", "天河区"},
        {"neither GBK nor UTF-8", "a,,,,,,,\xFF\xFF,z\n", 0,
         "1: 有无法识别的文字（既不是 GBK 也不是 UTF-8）", ""},
        {"header in any order, other columns ignored", "id,zip,address,title\n1,z,x,a\n", 1, "",
         "x"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const ParsedImport p = ParseImportCsv(c.bytes);
        EXPECT_EQ(p.rows.size(), c.rows);
        if (c.firstError.empty()) {
            EXPECT_TRUE(p.errors.empty()) << p.errors[0].why;
        } else {
            ASSERT_FALSE(p.errors.empty());
            EXPECT_EQ(std::to_string(p.errors[0].line) + ": " + p.errors[0].why, c.firstError);
        }
        if (!p.rows.empty() && !c.address.empty()) {
            EXPECT_EQ(p.rows[0][7], c.address);
        }
    }
}
