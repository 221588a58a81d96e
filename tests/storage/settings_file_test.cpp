#include "storage/settings_file.h"

#include <gtest/gtest.h>

#include "support/temp_dir.h"

namespace quillfin::storage {
namespace {

using testing::TempDir;

std::string Written(const Settings& settings) {
    TempDir dir;
    EXPECT_TRUE(SettingsFile(dir.Path()).WriteOptions(settings));
    return dir.Read("QUILFN.INI");
}

Settings ReadFrom(const TempDir& dir, Settings settings = {}) {
    SettingsFile(dir.Path()).ReadOptions(settings);
    return settings;
}

std::array<int, 5> Fields(const WindowPlacement& p) {
    return {p.WindowState, p.Top, p.Left, p.Height, p.Width};
}

TEST(SettingsFileTest, OptionsRoundTripInOrderAndAnUnsavedPasswordIsDropped) {
    TempDir dir;
    EXPECT_EQ(Written(ReadFrom(dir)), Written(Settings{}));  // no file yet
    // Every value differs from its initial one, so a key that is not read shows up.
    const std::string file =
        "[Options]\r\nDownload_Path=/home/u/news/\r\nRescan_Time=30\r\nsldTimeout=120\r\n"
        "News_Host=news.example.net\r\nNews_Port=563\r\nchkSecure=1\r\nUser_Name=me\r\n"
        "chkSavePassword=1\r\nUser_Pass=p=w;d\xe9\r\nchkAuth=1\r\nchkMakeSubDirs=0\r\n"
        "chkSFX=1\r\nchkSaveDecodes=0\r\nchkSlave=1\r\nsldXOVER=2000\r\n"
        "chkAllowRestart=0\r\nchkAutodownload=0\r\nchkAutoExpire=0\r\nchkLogFile=1\r\n"
        "chkEnableLogging=1\r\ntogtsComplete=False\r\ntogtsText=False\r\n"
        "togtsUnknown=True\r\ntogtsIncomplete=False\r\nConnections=8\r\n"
        "RequestsInFlight=4\r\nNewGroupHeaders=0\r\nchkCompress=0\r\nXoverInFlight=3\r\n"
        "chkPar2Repair=0\r\n";
    dir.Write("QUILFN.INI", file);
    Settings s = ReadFrom(dir);
    EXPECT_EQ(Written(s), file);
    s.chkSavePassword = 0;
    ASSERT_TRUE(SettingsFile(dir.Path()).WriteOptions(s));
    EXPECT_NE(dir.Read("QUILFN.INI").find("chkSavePassword=0\r\nUser_Pass=\r\nchkAuth=1\r\n"),
              std::string::npos);
}

// Files written before the secure-connection setting existed: off, and every line kept.
TEST(SettingsFileTest, AFileWithoutTheSecureKeyReadsAsOffAndKeepsItsLines) {
    TempDir dir;
    const std::string old_file =
        "; my server\r\n[Options]\r\nNews_Host=news.example.net\r\nNews_Port=119\r\n"
        "Custom=kept\r\n";
    dir.Write("QUILFN.INI", old_file);
    Settings s = ReadFrom(dir);
    EXPECT_EQ(s.chkSecure, 0);
    EXPECT_EQ(s.News_Port, "119");
    EXPECT_EQ(s.Connections + s.RequestsInFlight, 2);
    EXPECT_EQ(s.chkPar2Repair, 1);
    s.chkSecure = 1;
    ASSERT_TRUE(SettingsFile(dir.Path()).WriteOptions(s));
    const std::string written = dir.Read("QUILFN.INI");
    EXPECT_TRUE(written.starts_with("; my server\r\n[Options]\r\n")) << written;
    EXPECT_NE(written.find("Custom=kept\r\n"), std::string::npos);
    EXPECT_NE(written.find("chkSecure=1\r\n"), std::string::npos);
    EXPECT_EQ(ReadFrom(dir).chkSecure, 1);
}

TEST(SettingsFileTest, HandEditedValues) {
    const struct {
        const char* line;
        const char* read_as;
    } cases[] = {
        {"sldXOVER= 500 ", "sldXOVER=500"},
        {"sldXOVER=500abc", "sldXOVER=100"},
        {"sldXOVER=4294967796", "sldXOVER=100"},
        {"Rescan_Time=-5", "Rescan_Time=90"},
        {"Rescan_Time=12.5", "Rescan_Time=90"},
        {"chkAuth=2", "chkAuth=0"},
        {"chkSecure=yes", "chkSecure=0"},
        {"chkSecure=True", "chkSecure=1"},
        {"chkAllowRestart= false ", "chkAllowRestart=0"},
        {"News_Host=  news.example.net  ", "News_Host=news.example.net"},
        // togtsText starts pressed and togtsUnknown released.
        {"togtsText= fAlSe ", "togtsText=False"},
        {"togtsUnknown=yes", "togtsUnknown=False"},
        {"togtsUnknown=", "togtsUnknown=True"},
        {"togtsUnknown=-1", "togtsUnknown=True"},
        {"Connections=51", "Connections=1"},
        {"Connections=50", "Connections=50"},
        {"RequestsInFlight=0", "RequestsInFlight=1"},
        {"RequestsInFlight=16", "RequestsInFlight=16"},
        {"NewGroupHeaders=-1", "NewGroupHeaders=250000"},
        {"XoverInFlight=17", "XoverInFlight=1"},
    };
    TempDir dir;
    Settings before;
    before.togtsUnknown = false;
    for (const auto& c : cases) {
        dir.Write("QUILFN.INI", std::string("[Options]\r\n") + c.line + "\r\n");
        EXPECT_NE(Written(ReadFrom(dir, before)).find(std::string("\n") + c.read_as + "\r\n"),
                  std::string::npos)
            << c.line;
    }
}

TEST(SettingsFileTest, WindowPlacement) {
    TempDir dir;
    SettingsFile file(dir.Path());
    ASSERT_TRUE(file.WriteWindowSizes({0, 10, 20, 300, 400}));
    ASSERT_TRUE(file.WriteWindowSizes({2, 0, 0, 1080, 1920}));  // maximised: rectangle kept
    EXPECT_EQ(dir.Read("QUILFN.INI"),
              "[Sizing]\r\nWindowState=2\r\nTop=10\r\nLeft=20\r\nHeight=300\r\nWidth=400\r\n");
    const struct {
        std::string content;
        std::array<int, 5> expected;  // WindowState, Top, Left, Height, Width
    } cases[] = {
        {dir.Read("QUILFN.INI"), {2, 10, 20, 300, 400}},
        {"[Sizing]\nLeft=3\n", {0, 290, 660, 500, 600}},  // no Top: centred
        {"[Sizing]\nTop=1\nWidth=0\nHeight=-4\nWindowState=7\n", {0, 1, 7, 500, 600}},
        {"[Sizing]\nTop=x\nHEIGHT=250\nwindowstate=1\n", {1, 0, 7, 250, 600}},
    };
    for (const auto& c : cases) {
        dir.Write("QUILFN.INI", c.content);
        WindowPlacement p{0, 9, 7, 500, 600};
        file.ReadWindowSizes(p, 1920, 1080);
        EXPECT_EQ(Fields(p), c.expected) << c.content;
    }
}

TEST(SettingsFileTest, ColumnWidths) {
    TempDir dir;
    dir.Write("QUILFN.INI",
              "[Header View Column Sizes]\nC1=0\nC2=abc\nC3=-4\nC4=50\nC6=80px\nC 5=9\n"
              "[batch view column sizes]\nc1=500\n");
    ColumnWidths widths;
    widths.header.fill(7);
    SettingsFile(dir.Path()).ReadColumnSizes(widths);
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
