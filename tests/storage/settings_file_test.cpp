#include "storage/settings_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "support/temp_dir.h"

namespace quillfin::storage {
namespace {

using testing::TempDir;

// The file a settings record is written as; two records that write the same file are equal.
std::string Written(const Settings& settings) {
    TempDir dir;
    EXPECT_TRUE(SettingsFile(dir.Path()).WriteOptions(settings));
    return dir.Read("QUILFN.INI");
}

Settings ReadFrom(const TempDir& dir) {
    Settings settings;
    SettingsFile(dir.Path()).ReadOptions(settings);
    return settings;
}

TEST(SettingsFileTest, FirstRunKeepsInitialValuesAndCentresTheWindow) {
    TempDir dir;
    SettingsFile file(dir.Path());
    EXPECT_EQ(Written(ReadFrom(dir)), Written(Settings{}));
    WindowPlacement placement{0, 0, 0, 600, 800};
    file.ReadWindowSizes(placement, 1920, 1080);
    EXPECT_EQ(placement.Left, 560);
    EXPECT_EQ(placement.Top, 240);
    ColumnWidths widths;
    widths.header.fill(7);
    file.ReadColumnSizes(widths);
    EXPECT_EQ(widths.header, ColumnWidths::kHeaderInitial);
    EXPECT_EQ(widths.batch, ColumnWidths::kBatchInitial);
    EXPECT_FALSE(dir.Exists("QUILFN.INI"));
}

TEST(SettingsFileTest, WritesOptionsInOrderAndReadsThemBack) {
    Settings s;
    s.Download_Path = "/home/u/news/";
    s.Rescan_Time = 30;
    s.sldTimeout = 120;
    s.News_Host = "news.example.net";
    s.News_Port = "563";
    s.User_Name = "me";
    s.chkSavePassword = 1;
    s.User_Pass = "p=w;d\xe9";
    s.chkAuth = 1;
    s.chkMakeSubDirs = 0;
    s.chkSFX = 1;
    s.chkSaveDecodes = 0;
    s.chkSlave = 1;
    s.sldXOVER = 2000;
    s.chkAllowRestart = 0;
    s.chkAutodownload = 0;
    s.chkAutoExpire = 0;
    s.chkLogFile = 1;
    s.chkEnableLogging = 1;
    s.togtsText = false;
    s.togtsIncomplete = false;
    TempDir dir;
    ASSERT_TRUE(SettingsFile(dir.Path()).WriteOptions(s));
    EXPECT_EQ(dir.Read("QUILFN.INI"),
              "[Options]\r\nDownload_Path=/home/u/news/\r\nRescan_Time=30\r\nsldTimeout=120\r\n"
              "News_Host=news.example.net\r\nNews_Port=563\r\nUser_Name=me\r\n"
              "chkSavePassword=1\r\nUser_Pass=p=w;d\xe9\r\nchkAuth=1\r\nchkMakeSubDirs=0\r\n"
              "chkSFX=1\r\nchkSaveDecodes=0\r\nchkSlave=1\r\nsldXOVER=2000\r\n"
              "chkAllowRestart=0\r\nchkAutodownload=0\r\nchkAutoExpire=0\r\nchkLogFile=1\r\n"
              "chkEnableLogging=1\r\ntogtsComplete=True\r\ntogtsText=False\r\n"
              "togtsUnknown=True\r\ntogtsIncomplete=False\r\n");
    struct stat info {};
    ::stat(dir.File("QUILFN.INI").c_str(), &info);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_EQ(Written(ReadFrom(dir)), Written(s));
}

TEST(SettingsFileTest, PasswordIsDroppedWhenNotSaved) {
    TempDir dir;
    SettingsFile file(dir.Path());
    Settings s;
    s.chkSavePassword = 1;
    s.User_Pass = "secret";
    ASSERT_TRUE(file.WriteOptions(s));
    EXPECT_EQ(ReadFrom(dir).User_Pass, "secret");
    s.chkSavePassword = 0;
    ASSERT_TRUE(file.WriteOptions(s));
    EXPECT_EQ(dir.Read("QUILFN.INI").find("secret"), std::string::npos);
    EXPECT_EQ(ReadFrom(dir).User_Pass, "");
}

TEST(SettingsFileTest, HandEditedValues) {
    struct Case {
        const char* line;
        int Settings::*field;
        int expected;
    } numbers[] = {
        {"sldXOVER= 500 ", &Settings::sldXOVER, 500},
        {"SLDxover=300", &Settings::sldXOVER, 300},
        {"sldXOVER=abc", &Settings::sldXOVER, 100},
        {"sldXOVER=12abc", &Settings::sldXOVER, 100},
        {"sldXOVER=0", &Settings::sldXOVER, 100},
        {"sldXOVER=99999999999999", &Settings::sldXOVER, 100},
        {"Rescan_Time=-5", &Settings::Rescan_Time, 90},
        {"Rescan_Time=12.5", &Settings::Rescan_Time, 90},
        {"Rescan_Time=", &Settings::Rescan_Time, 90},
        {"sldTimeout=240", &Settings::sldTimeout, 240},
        {"chkAuth=1", &Settings::chkAuth, 1},
        {"chkAuth=2", &Settings::chkAuth, 0},
        {"chkAutoExpire=0", &Settings::chkAutoExpire, 0},
        {"chkAutoExpire=\x01\xff", &Settings::chkAutoExpire, 1},
    };
    TempDir dir;
    for (const Case& c : numbers) {
        dir.Write("QUILFN.INI", std::string("[Options]\r\n") + c.line + "\r\n");
        EXPECT_EQ(ReadFrom(dir).*c.field, c.expected) << c.line;
    }
    dir.Write("QUILFN.INI", "[Options]\nNews_Host=  news.example.net  \nDownload_Path=" +
                                std::string(400, 'd') + "\n");
    EXPECT_EQ(ReadFrom(dir).News_Host, "news.example.net");
    EXPECT_EQ(ReadFrom(dir).Download_Path, std::string(255, 'd'));
}

TEST(SettingsFileTest, FilterButtonFlags) {
    struct Case {
        const char* value;
        bool before;
        bool expected;
    } cases[] = {
        {"", false, true},        {"False", true, false}, {"fAlSe", true, false},
        {"TRUE", false, true},    {"0", true, false},     {"-1", false, true},
        {"2.5", false, true},     {"yes", false, false},  {"yes", true, true},
        {" False ", true, false},
    };
    TempDir dir;
    for (const Case& c : cases) {
        dir.Write("QUILFN.INI", std::string("[Options]\ntogtsUnknown=") + c.value + "\n");
        Settings s;
        s.togtsUnknown = c.before;
        SettingsFile(dir.Path()).ReadOptions(s);
        EXPECT_EQ(s.togtsUnknown, c.expected) << '"' << c.value << '"';
    }
}

TEST(SettingsFileTest, MaximisedWindowKeepsTheStoredRectangle) {
    TempDir dir;
    SettingsFile file(dir.Path());
    ASSERT_TRUE(file.WriteWindowSizes({0, 10, 20, 300, 400}));
    ASSERT_TRUE(file.WriteWindowSizes({2, 0, 0, 1080, 1920}));
    EXPECT_EQ(dir.Read("QUILFN.INI"),
              "[Sizing]\r\nWindowState=2\r\nTop=10\r\nLeft=20\r\nHeight=300\r\nWidth=400\r\n");
    WindowPlacement placement;
    file.ReadWindowSizes(placement, 1920, 1080);
    EXPECT_EQ(placement.WindowState, 2);
    EXPECT_EQ(placement.Top, 10);
    EXPECT_EQ(placement.Left, 20);
    EXPECT_EQ(placement.Height, 300);
    EXPECT_EQ(placement.Width, 400);
}

TEST(SettingsFileTest, PartialOrBadSizingKeys) {
    struct Case {
        const char* content;
        WindowPlacement expected;
    } cases[] = {
        {"[Sizing]\ntop=50\n", {0, 50, 7, 500, 600}},
        {"[Sizing]\nLeft=3\n", {0, 290, 660, 500, 600}},  // no Top: centred, Left ignored
        {"[Sizing]\nTop=1\nWidth=0\nHeight=-4\nWindowState=7\n", {0, 1, 7, 500, 600}},
        {"[Sizing]\nTop=x\nHEIGHT=250\nwindowstate=1\n", {1, 0, 7, 250, 600}},
    };
    TempDir dir;
    for (const Case& c : cases) {
        dir.Write("QUILFN.INI", c.content);
        WindowPlacement p{0, 9, 7, 500, 600};
        SettingsFile(dir.Path()).ReadWindowSizes(p, 1920, 1080);
        EXPECT_EQ(p.WindowState, c.expected.WindowState) << c.content;
        EXPECT_EQ(p.Top, c.expected.Top) << c.content;
        EXPECT_EQ(p.Left, c.expected.Left) << c.content;
        EXPECT_EQ(p.Height, c.expected.Height) << c.content;
        EXPECT_EQ(p.Width, c.expected.Width) << c.content;
    }
}

TEST(SettingsFileTest, ColumnWidths) {
    TempDir dir;
    SettingsFile file(dir.Path());
    dir.Write("QUILFN.INI",
              "[Header View Column Sizes]\nC1=0\nC2=abc\nC3=-4\nC4=50\nC6=80px\nC 5=9\n"
              "[batch view column sizes]\nc1=500\n");
    ColumnWidths widths;
    file.ReadColumnSizes(widths);
    EXPECT_EQ(widths.header, (std::array<int, 6>{360, 35, 35, 50, 70, 80}));
    EXPECT_EQ(widths.batch, (std::array<int, 3>{500, 35, 35}));

    TempDir fresh;
    widths.header = {1, 2, 3, 4, 5, 6};
    ASSERT_TRUE(SettingsFile(fresh.Path()).WriteColumnSizes(widths));
    EXPECT_EQ(fresh.Read("QUILFN.INI"),
              "[Header View Column Sizes]\r\nC1=1\r\nC2=2\r\nC3=3\r\nC4=4\r\nC5=5\r\nC6=6\r\n"
              "[Batch View Column Sizes]\r\nC1=500\r\nC2=35\r\nC3=35\r\n");
}

}  // namespace
}  // namespace quillfin::storage
