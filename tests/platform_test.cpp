// What differs per operating system, tested the same way on Linux and (under wine) on
// Windows: paths with Chinese names, file identity, replacing a file, the folders the store
// may go to.

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "TempDir.h"
#include "platform/FileIdentity.h"
#include "platform/FileSystem.h"
#include "platform/ProgramFolders.h"
#include "platform/Schedule.h"
#include "platform/SystemProxy.h"

#ifdef _WIN32
constexpr const char* kDevice = "NUL";
#else
constexpr const char* kDevice = "/dev/null";
#endif

namespace {

void Write(const std::string& path, const std::string& bytes) {
    std::ofstream(FsPath(path), std::ios::binary) << bytes;
}

}  // namespace

TEST(Platform, WhatAPathNames) {
    TempDir dir;
    Write(dir.File("数据.db"), "x");
    std::filesystem::create_directory(FsPath(dir.File("子目录")));
    const struct {
        std::string path;
        platform::FileKind kind;
    } cases[] = {
        {dir.File("数据.db"), platform::FileKind::Regular},
        {dir.File("子目录"), platform::FileKind::Folder},
        {dir.Path(), platform::FileKind::Folder},
        {dir.File("没有.db"), platform::FileKind::Missing},
        {dir.File("没有/数据.db"), platform::FileKind::Missing},
        {kDevice, platform::FileKind::Other},
        {platform::TempFolder(), platform::FileKind::Folder},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(platform::KindOf(c.path), c.kind) << c.path;
    }
}

TEST(Platform, TwoNamesOfOneFile) {
    TempDir dir;
    Write(dir.File("数据.db"), "x");
    Write(dir.File("其他.db"), "y");
    std::filesystem::create_directory(FsPath(dir.File("子目录")));
#ifdef _WIN32
    const std::string otherSpelling = dir.Path() + "\\子目录\\..\\数据.db";
#else
    const std::string otherSpelling = dir.Path() + "/子目录/../数据.db";
#endif
    const struct {
        std::string a, b;
        bool same;
    } cases[] = {
        {dir.File("数据.db"), dir.File("数据.db"), true},
        {dir.File("数据.db"), otherSpelling, true},
        {dir.File("数据.db"), dir.File("其他.db"), false},
        {dir.File("新.db"), dir.File("新.db"), true},  // not there yet: same folder, same name
        {dir.File("新.db"), dir.File("子目录/新.db"), false},
        {dir.File("新.db"), dir.File("旧.db"), false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(platform::IsSameFile(c.a, c.b), c.same) << c.a << " | " << c.b;
    }
}

TEST(Platform, AFileMovedIntoPlaceReplacesTheOneThere) {
    TempDir dir;
    const std::string target = dir.File("导出.csv");
    Write(target, "the previous export");
    std::string temp;
    FILE* f = platform::CreateUniqueFile(target + ".part", target, temp);
    ASSERT_NE(f, nullptr);
    EXPECT_NE(temp, target);
    EXPECT_EQ(platform::FolderOf(temp), platform::FolderOf(target));  // beside its target
    std::fputs("the new export", f);
    EXPECT_TRUE(platform::SyncFile(f));
    std::fclose(f);
    ASSERT_TRUE(platform::MoveIntoPlace(temp, target));
    EXPECT_EQ(ReadFileBytes(target), "the new export");
    EXPECT_EQ(platform::KindOf(temp), platform::FileKind::Missing);
    // Never over a folder, and never from a file that is not there.
    EXPECT_FALSE(platform::MoveIntoPlace(dir.File("没有"), target));
    EXPECT_EQ(ReadFileBytes(target), "the new export");
}

TEST(Platform, TheStoreIsTheUsersWhereverTheProgramRunsFrom) {
    TempDir dir;
    EXPECT_TRUE(platform::FolderWritable(dir.Path()));
    EXPECT_FALSE(platform::FolderWritable(dir.File("没有")));
    const std::string program = dir.File("程序") + platform::kPathSeparator;
    const std::string beside = program + "data.db";
    const std::string data = dir.File("用户/数据") + platform::kPathSeparator;
    const std::string inData = data + "data.db";
    const struct {
        const char* what;
        bool besideExists;
        bool besideWritable;
        std::string dataFolder;
        std::string path;
        std::string unused;
    } cases[] = {
        {"a portable copy's store", true, true, data, beside, ""},
        {"none beside: the data folder, however writable the program's is", false, true, data,
         inData, ""},
        {"one an administrator left beside", true, false, data, inData, beside},
        {"no data folder can be made", false, false, dir.File("文件") + "/x/", "", ""},
    };
    Write(dir.File("文件"), "a file where a folder would go");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const platform::StoreLocation location = platform::ChooseStorePath(
            program, c.dataFolder,
            [&](const std::string& path) { return path == beside && c.besideExists; },
            [&](const std::string& path) { return path == beside && c.besideWritable; });
        EXPECT_EQ(location.path, c.path);
        EXPECT_EQ(location.unusedBeside, c.unused);
        EXPECT_EQ(platform::UnusedStoreNotice(location).empty(), c.unused.empty());
    }
    EXPECT_EQ(platform::KindOf(dir.File("用户/数据")), platform::FileKind::Folder);
    EXPECT_EQ(platform::UnusedStoreNotice({inData, beside}),
              "在程序目录中发现另一个数据库（" + beside + "），当前使用的是 " + inData);
    // A file is writable when it and its folder are.
    Write(dir.File("可写.db"), "");
    EXPECT_TRUE(platform::FileWritable(dir.File("可写.db")));
    EXPECT_FALSE(platform::FileWritable(dir.File("没有/可写.db")));
    const std::string folder = platform::DataFolder();
    EXPECT_EQ(folder.back(), platform::kPathSeparator);
    EXPECT_NE(folder.find("collector"), std::string::npos) << folder;
}

TEST(Platform, TheWebProxyOfASystemProxyList) {
    const struct {
        const char* list;
        const char* proxy;
    } cases[] = {
        {"", ""},
        {"proxy.corp:8080", "http://proxy.corp:8080"},
        {"  proxy.corp:8080 ", "http://proxy.corp:8080"},
        {"http=web:80;https=secure:443;ftp=files:21", "http://web:80"},
        {"HTTP=web:80", "http://web:80"},
        {"https=secure:443;socks=sock:1080", "socks4://sock:1080"},
        {"ftp=files:21", ""},
        {"https=secure:443 http=web:80", "http://web:80"},
        {"socks5://sock:1080", "socks5://sock:1080"},
        {"http=http://web:80", "http://web:80"},
        {";;", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(platform::ProxyFromServerList(c.list), c.proxy) << c.list;
    }
}

TEST(Platform, WhatTheSystemsSchedulersAreHanded) {
    // Each case: the times typed, the schedule as people read it, and what the Task
    // Scheduler's XML, the systemd timer and the crontab line say of it.
    struct Case {
        std::string days;  // "": --daily
        std::string time;
        bool valid;
        std::string when;
        std::string xmlDays;   // the task's trigger
        std::string calendar;  // the timer's OnCalendar=
        std::string cron;      // the crontab line's time fields
    };
    const Case cases[] = {
        {"", "08:00", true, "每天 08:00", "<DaysInterval>1</DaysInterval>",
         "OnCalendar=*-*-* 08:00:00", "0 8 * * * "},
        {"thu,MON,thu", "7:05", true, "每周一、四 07:05", "<Monday />\n          <Thursday />",
         "OnCalendar=Mon,Thu *-*-* 07:05:00", "5 7 * * 1,4 "},
        {"SUN", "23:59", true, "每周日 23:59", "<Sunday />", "OnCalendar=Sun *-*-* 23:59:00",
         "59 23 * * 0 "},
        {"", "24:00", false, "", "", "", ""},
        {"", "8:5", false, "", "", "", ""},
        {"", "08:00:00", false, "", "", "", ""},
        {"FRIDAY", "08:00", false, "", "", "", ""},
        {"MON,", "08:00", false, "", "", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.days + " " + c.time);
        platform::Schedule s;
        const bool valid = platform::ParseTimeOfDay(c.time, s) &&
                           (c.days.empty() || platform::ParseWeekdays(c.days, s));
        ASSERT_EQ(valid, c.valid);
        if (!valid) {
            continue;
        }
        s.program = "C:\\Program Files\\采集器\\collector.exe";
        s.arguments = {"--refresh",    "--store",      "D:\\销售 数据\\data.db",
                       "--export-new", "D:\\新线索\\", "涂料-广东",
                       "a\"b&<c>"};
        EXPECT_EQ(platform::WhenText(s), c.when);
        const std::string xml = platform::TaskXml(s, "Tarvola采集器 定时采集 1 | " + c.when);
        EXPECT_NE(xml.find(c.xmlDays), std::string::npos) << xml;
        for (const char* setting :
             {"<StartWhenAvailable>true</StartWhenAvailable>",
              "<DisallowStartIfOnBatteries>false</DisallowStartIfOnBatteries>",
              "<StopIfGoingOnBatteries>false</StopIfGoingOnBatteries>",
              "<WakeToRun>false</WakeToRun>", "<ExecutionTimeLimit>PT4H</ExecutionTimeLimit>",
              "<RestartOnFailure>\n      <Interval>PT30M</Interval>\n      <Count>3</Count>",
              "<LogonType>InteractiveToken</LogonType>",
              "<Command>C:\\Program Files\\采集器\\collector.exe</Command>",
              // Quoted as the program's command line is read back; escaped for XML.
              "<Arguments>--refresh --store &quot;D:\\销售 数据\\data.db&quot; --export-new "
              "D:\\新线索\\ 涂料-广东 &quot;a\\&quot;b&amp;&lt;c&gt;&quot;</Arguments>"}) {
            EXPECT_NE(xml.find(setting), std::string::npos) << setting << "\n" << xml;
        }
        const std::string timer = platform::SystemdTimer(s, "d");
        EXPECT_NE(timer.find(c.calendar + "\nPersistent=true\n"), std::string::npos) << timer;
        EXPECT_NE(timer.find("WantedBy=timers.target"), std::string::npos);
        s.program = "/opt/采集器/collector-cli";
        s.arguments = {"--store", "/home/销售/100%.db", "refresh", "--by-schedule", "it's"};
        const std::string service = platform::SystemdService(s, "d");
        EXPECT_NE(service.find("ExecStart=\"/opt/采集器/collector-cli\" \"--store\" "
                               "\"/home/销售/100%%.db\" \"refresh\" \"--by-schedule\" \"it's\"\n"),
                  std::string::npos)
            << service;
        EXPECT_NE(service.find("Type=oneshot"), std::string::npos);
        EXPECT_EQ(platform::CrontabLine(s),
                  c.cron +
                      "'/opt/采集器/collector-cli' '--store' '/home/销售/100\\%.db' 'refresh' "
                      "'--by-schedule' 'it'\\''s'");
    }
}
