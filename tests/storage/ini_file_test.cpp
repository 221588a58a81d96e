#include "storage/ini_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "support/temp_dir.h"

namespace quillfin::storage {
namespace {

using testing::TempDir;

int ModeOf(const std::string& path) {
    struct stat info {};
    ::stat(path.c_str(), &info);
    return int(info.st_mode & 0777);
}

TEST(IniFileTest, ReadsValuesWithPrivateProfileRules) {
    const char binary[] = "\x01\xff\x80 no equals sign\0here";
    TempDir dir;
    dir.Write("a.ini", "k=before\n[T]\nk=other\n[s]\r\n \tKey \t=  a=b c \t\nempty=\n;gone=1\n" +
                           std::string(binary, sizeof binary - 1) + "\n[broken\n" +
                           std::string(100000, 'x') + "\ndup=1\ndup=2\nlong=" +
                           std::string(300, 'z') + "\n[S]\ndup=3\n[U]\nlast=v\r");
    const struct {
        const char* section;
        const char* key;
        std::string expected;
    } cases[] = {
        {"S", "KEY", "a=b c"},     {"S", "empty", ""},
        {"S", "gone", "fallback"}, {"S", "k", "fallback"},
        {"S", "dup", "1"},         {"V", "k", "fallback"},
        {"u", "LAST", "v"},        {"S", "long", std::string(255, 'z')},
    };
    IniFile ini(dir.File("a.ini"));
    for (const auto& c : cases)
        EXPECT_EQ(ini.Get(c.section, c.key, "fallback"), c.expected) << c.section << c.key;
    EXPECT_EQ(IniFile(dir.File("missing.ini")).Get("S", "k", "d"), "d");
}

TEST(IniFileTest, WritesOwnerOnlyAndKeepsValuesOnOneLine) {
    TempDir dir;
    ASSERT_TRUE(IniFile(dir.File("new.ini")).Set("S", "k", "a\r\nUser_Pass=x\nz"));
    EXPECT_EQ(dir.Read("new.ini"), "[S]\r\nk=a  User_Pass=x z\r\n");
    EXPECT_EQ(ModeOf(dir.File("new.ini")), 0600);
    dir.Write("old.ini", "[S]\nk=1\n");
    ::chmod(dir.File("old.ini").c_str(), 0644);
    ASSERT_TRUE(IniFile(dir.File("old.ini")).Set("S", "User_Pass", "secret"));
    EXPECT_EQ(ModeOf(dir.File("old.ini")), 0600);
}

TEST(IniFileTest, WritingOneKeyKeepsEveryOtherLineByteForByte) {
    const std::string head = "; settings\n[Options]\r\nUnknown = keep me \r\nNews_Host=";
    const std::string tail = "\r\n\n; about sizing\r\n[Sizing]\nTop=5\n\x01\x02 junk\xff\n[Empty]";
    const struct {
        const char* section;
        const char* key;
        std::string expected;
    } cases[] = {
        {"options", "NEWS_HOST", head + "new" + tail},
        {"Options", "sldXOVER", head + "old\r\nsldXOVER=new" + tail},
        {"Empty", "k", head + "old" + tail + "\r\nk=new\r\n"},
        {"Columns", "C1", head + "old" + tail + "\r\n[Columns]\r\nC1=new\r\n"},
    };
    TempDir dir;
    for (const auto& c : cases) {
        dir.Write("q.ini", head + "old" + tail);
        ASSERT_TRUE(IniFile(dir.File("q.ini")).Set(c.section, c.key, "new")) << c.section;
        EXPECT_EQ(dir.Read("q.ini"), c.expected) << c.section;
    }
}

TEST(IniFileTest, FailedWriteLeavesTheOldFile) {
    TempDir dir;
    dir.Write("q.ini", "[S]\nk=1\n");
    ASSERT_EQ(::mkdir(dir.File("q.ini.tmp").c_str(), 0700), 0);  // blocks even root
    EXPECT_FALSE(IniFile(dir.File("q.ini")).Set("S", "k", "2"));
    EXPECT_EQ(dir.Read("q.ini"), "[S]\nk=1\n");
}

TEST(IniFileTest, UnreadableFileReadsDefaultAndIsNotOverwritten) {
    // A link to a folder: the name exists, yet reading it fails even for root.
    TempDir dir;
    const std::string link = dir.File("u.ini");
    std::filesystem::create_directory(dir.File("folder"));
    std::filesystem::create_directory_symlink(dir.File("folder"), link);
    IniFile ini(link);
    EXPECT_EQ(ini.Get("S", "k", "d"), "d");
    EXPECT_FALSE(ini.Set("S", "k", "3"));
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_FALSE(std::filesystem::exists(dir.File("u.ini.tmp")));
}

}  // namespace
}  // namespace quillfin::storage
