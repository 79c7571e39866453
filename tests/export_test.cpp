#include <gtest/gtest.h>
#include <unistd.h>

#include "StandInServer.h"
#include "TempDir.h"
#include "store/ExportRecords.h"
#include "store/RecordStore.h"

using standin::Gbk;

TEST(Export, BytesOfBothFormats) {
    TempDir dir;
    RecordStore store(dir.File("data.db"));
    store.AppendMemberRecord(MemberRecord{});
    store.AppendMemberRecord(MemberRecord{Gbk("甲公司"), Gbk("张伟")});
    store.AppendMemberRecord(
        MemberRecord{"B", "", "", "", "", "", "", Gbk("广州,天河 \"东\""), "510000"});
    const std::string expected = ",,,,,,,,\r\n" + Gbk("甲公司,张伟,,,,,,,\r\n") + "B,,,,,,,\"" +
                                 Gbk("广州,天河 \"\"东\"\"") + "\",510000\r\n";
    EXPECT_EQ(ExportRecords(store, dir.File("a.txt"), EXPORT_FORMAT_TEXT), 3);
    EXPECT_EQ(ExportRecords(store, dir.File("a.csv"), EXPORT_FORMAT_CSV), 3);
    EXPECT_EQ(ReadFileBytes(dir.File("a.txt")), expected);
    EXPECT_EQ(ReadFileBytes(dir.File("a.csv")), expected);

    ExportRecords(store, dir.File("u.csv"), EXPORT_FORMAT_CSV, ExportEncoding::Utf8Bom);
    EXPECT_EQ(ReadFileBytes(dir.File("u.csv")),
              "\xEF\xBB\xBF,,,,,,,,\r\n甲公司,张伟,,,,,,,\r\nB,,,,,,,\"广州,天河 "
              "\"\"东\"\"\",510000\r\n");
}

TEST(Export, QuotesOnlyWhatMustBeQuoted) {
    const std::pair<std::string, std::string> cases[] = {
        {"plain", "plain"},
        {"a,b", "\"a,b\""},
        {"say \"hi\"", "\"say \"\"hi\"\"\""},
        {"two\r\nlines", "\"two\r\nlines\""},
        {"lf\n", "\"lf\n\""},
        {"", ""},
        {" x ", " x "},
    };
    for (const auto& [in, out] : cases) {
        std::string line;
        AppendExportField(line, in);
        EXPECT_EQ(line, out);
    }
}

TEST(Export, UnwritableFileIsAClearError) {
    TempDir dir;
    RecordStore store(dir.File("data.db"));
    store.AppendMemberRecord(MemberRecord{"x"});
    try {
        ExportRecords(store, dir.File("missing/out.txt"), EXPORT_FORMAT_TEXT);
        FAIL() << "export into a missing directory succeeded";
    } catch (const ExportError& e) {
        EXPECT_NE(std::string(e.what()).find("missing/out.txt"), std::string::npos);
        EXPECT_NE(std::string(e.what()).find("No such file"), std::string::npos) << e.what();
    }
    if (access("/dev/full", W_OK) == 0) {
        EXPECT_THROW(ExportRecords(store, "/dev/full", EXPORT_FORMAT_TEXT), ExportError);
    }
    EXPECT_TRUE(store.HasMemberRecords());
}
