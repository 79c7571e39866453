// Reading CSV for import: quoting, line ends, encodings and what makes a line bad.

#include <gtest/gtest.h>

#include "StandInServer.h"
#include "store/CsvImport.h"
#include "store/FileLines.h"

using namespace store;

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
        {"a quote inside an unquoted field", "12\" tv,,,,,,,x,\nB,,,,,,,y,\n", 2, "", "x"},
        {"text after a closing quote", "\"a\"b,,,,,,,,\n", 0, "1: 引号后面有多余的字符", ""},
        {"unterminated quote", nine + "\n\"a,,,", 1, "2: 引号没有结束", "x"},
        {"too few fields", nine + "\na,b\n", 1, "2: 有 2 个字段，应为 9 个", "x"},
        {"UTF-16",
         "\xFF\xFE"
         "a\0,\0",
         0, "1: 文件是 UTF-16 或二进制文件，只能导入 GBK 或 UTF-8 的 CSV 文件", ""},
        {"BOM but not UTF-8", "\xEF\xBB\xBF" + Gbk("广州") + ",,,,,,,,\n", 0,
         "1: 文件标明是 UTF-8，但第 1 行有不是 UTF-8 的字节", ""},
        {"GBK", Gbk("广州化工,,,,,,,天河区,\r\n"), 1, "", "天河区"},
        {"neither GBK nor UTF-8", nine + "\na,,,,,,,\xFF\xFF,z\n", 0,
         "1: 文件既不是 GBK 也不是 UTF-8：第 2 行不是 UTF-8，第 2 行不是 GBK，没有导入任何记录",
         ""},
        // 女士 in GBK is C5 AE CA BF, which is also UTF-8 (Ůʿ): which one cannot be told.
        {"valid in both", Gbk("女士") + ",,,,,,,,\n", 0,
         "1: 无法确定文件的编码：其中的中文按 GBK 和按 UTF-8 读都说得通。请用 --encoding gbk 或 "
         "--encoding utf-8 指明",
         ""},
        // One stray cp1252 byte in a UTF-8 file: not UTF-8, and its UTF-8 Chinese is no GBK.
        {"UTF-8 with a stray byte", "深圳电子厂,,,,,,,caf\xE9,\n", 0,
         "1: 文件既不是 GBK 也不是 UTF-8：第 1 行不是 UTF-8，第 1 行不是 GBK，没有导入任何记录",
         ""},
        {"a column named twice", "title,zip,zip\na,1,2\n", 1, "1: 列名“zip”出现了两次", ""},
        {"header in any order, other columns ignored", "id,zip,address,title\n1,z,x,a\n", 1, "",
         "x"},
        // Two files joined with cat: the second header is no company, and its order holds.
        {"a second header starts a part of its own",
         "title,address\na,x\n" + std::string("公司名称,邮编,地址\nb,z,y\n"), 2, "", "x"},
        {"a second header after headerless lines", nine + "\naddress,title\ny,b\n", 2, "", "x"},
        {"a second part with its own byte-order mark",
         "\xEF\xBB\xBFtitle,address\na,x\n\xEF\xBB\xBF公司名称,地址\nb,y\n", 2, "", "x"},
        {"a quote open for over 1 MiB",
         nine + "\n\"" + std::string(600 * 1024, 'q') + "\n" + std::string(600 * 1024, 'q') + "\n" +
             nine + "\n",
         1, "2: 引号从这一行开始，超过 1 MiB 仍没有结束", "x"},
        {"a line of over 1 MiB", std::string(kMaxImportRecordBytes + 1, 'a') + "\n" + nine, 1,
         "1: 这一行超过 1 MiB", "x"},
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

TEST(CsvImport, TheEncodingAskedForIsTheOneRead) {
    const ParsedImport gbk = ParseImportCsv(Gbk("女士") + ",,,,,,,,\n", ImportEncoding::Gbk);
    ASSERT_EQ(gbk.rows.size(), 1u);
    EXPECT_EQ(gbk.rows[0][0], "女士");
    const ParsedImport utf8 = ParseImportCsv(Gbk("女士") + ",,,,,,,,\n", ImportEncoding::Utf8);
    ASSERT_EQ(utf8.rows.size(), 1u);
    EXPECT_EQ(utf8.rows[0][0], "Ůʿ");
    // Five UTF-8 characters are fifteen bytes: the last pair is cut by the comma.
    const ParsedImport wrong = ParseImportCsv("深圳电子厂,,,,,,,,\n", ImportEncoding::Gbk);
    EXPECT_TRUE(wrong.rows.empty());
    ASSERT_FALSE(wrong.errors.empty());
    EXPECT_EQ(wrong.errors[0].why, "文件不是 GBK：第 1 行有不是 GBK 的字节");
}

TEST(CsvImport, JoinedFilesKeepEachPartsColumnOrder) {
    const ParsedImport p =
        ParseImportCsv("联系人,公司名称\n张三,甲公司\ntitle,zip,person\n乙公司,100000,李四\n");
    ASSERT_EQ(p.rows.size(), 2u);
    EXPECT_EQ(p.rows[0][0], "甲公司");
    EXPECT_EQ(p.rows[0][1], "张三");
    EXPECT_EQ(p.rows[1][0], "乙公司");
    EXPECT_EQ(p.rows[1][1], "李四");
    EXPECT_EQ(p.rows[1][8], "100000");
    // Two exports of this program's, each with its byte-order mark: no company is named
    // with the mark.
    const ParsedImport marked = ParseImportCsv(
        "\xEF\xBB\xBF甲公司,,,,,,,,\r\n"
        "\xEF\xBB\xBF乙公司,,,,,,,,\r\n");
    ASSERT_EQ(marked.rows.size(), 2u);
    EXPECT_EQ(marked.rows[1][0], "乙公司");
}

TEST(FileLines, AnOverLongLineIsCutAndTheLinesAfterItFollow) {
    FILE* f = std::tmpfile();
    ASSERT_NE(f, nullptr);
    const std::string huge(3 * kMaxImportRecordBytes, 'x');
    const std::string text = "a\n" + huge + "\nb\n" + huge;
    ASSERT_EQ(std::fwrite(text.data(), 1, text.size(), f), text.size());
    FileLines file(f);
    const ImportLines lines = file.Lines();
    for (int pass = 0; pass < 2; ++pass) {
        lines.rewind();
        std::vector<size_t> sizes;
        std::string line;
        while (lines.next(line)) {
            sizes.push_back(line.size());
        }
        const std::vector<size_t> expected = {1, kMaxImportRecordBytes + 4, 1,
                                              kMaxImportRecordBytes + 4};
        EXPECT_EQ(sizes, expected) << "pass " << pass;
    }
    std::fclose(f);
}
