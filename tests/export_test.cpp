#include <gtest/gtest.h>
#include <unistd.h>

#include "StandInServer.h"
#include "TempDir.h"
#include "store/ExportRecords.h"
#include "store/RecordStore.h"

using namespace store;

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
        EXPECT_NE(std::string(e.what()).find("没有这个文件或文件夹"), std::string::npos)
            << e.what();
    }
    if (access("/dev/full", W_OK) == 0) {
        EXPECT_THROW(ExportRecords(store, "/dev/full", EXPORT_FORMAT_TEXT), ExportError);
    }
    EXPECT_TRUE(store.HasMemberRecords());
}

TEST(Export, GbkNeverWritesAQuestionMarkInPlaceOfACharacter) {
    TempDir dir;
    RecordStore store(dir.File("data.db"));
    store.ImportRows({{"甲公司"}, {"Straße GmbH"}, {"Zoë"}, {"경리"}, {"乙公司"}, {"😀 Ltd"}});
    for (ExportFormat format : {EXPORT_FORMAT_TEXT, EXPORT_FORMAT_CSV}) {
        SCOPED_TRACE(format);
        const std::string target = dir.File("out" + std::to_string(format));
        {
            FILE* f = std::fopen(target.c_str(), "wb");
            std::fputs("old", f);
            std::fclose(f);
        }
        try {
            ExportRecords(store, target, format);
            FAIL() << "exported with characters lost";
        } catch (const ExportNotEncodable& e) {
            const std::string message = e.what();
            EXPECT_NE(message.find("有 4 条记录"), std::string::npos) << message;
            EXPECT_NE(message.find("第 2 条（Straße GmbH）"), std::string::npos) << message;
            EXPECT_NE(message.find("--encoding utf-8"), std::string::npos) << message;
        }
        EXPECT_EQ(ReadFileBytes(target), "old");  // the file it was to replace is untouched
        EXPECT_EQ(ExportRecords(store, target, format, ExportEncoding::Utf8Bom), 6);
        EXPECT_NE(ReadFileBytes(target).find("Straße GmbH"), std::string::npos);
    }
}
