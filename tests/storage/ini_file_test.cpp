#include "storage/ini_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "support/temp_dir.h"

namespace quillfin::storage {
namespace {

using testing::TempDir;

int ModeOf(const std::string& path) {
    struct stat info {};
    ::stat(path.c_str(), &info);
    return int(info.st_mode & 0777);
}

struct ReadCase {
    const char* what;
    std::string content;
    const char* section;
    const char* key;
    std::string expected;
};

TEST(IniFileTest, ReadsValuesWithPrivateProfileRules) {
    const char binary[] = "\x01\xff\x80 no equals sign\0here";
    const std::string junk(binary, sizeof binary - 1);
    const ReadCase cases[] = {
        {"case of section and key", "[options]\r\nnews_host=a\r\n", "Options", "NEWS_HOST", "a"},
        {"blanks and tabs around", "[S]\n \tKey \t=  v w \t\n", "S", "key", "v w"},
        {"equals inside value", "[S]\nk=a=b\n", "S", "k", "a=b"},
        {"quotes kept", "[S]\nk=\"x\"\n", "S", "k", "\"x\""},
        {"present but empty", "[S]\nk=\n", "S", "k", ""},
        {"first duplicate wins", "[S]\nk=1\nk=2\n[s]\nk=3\n", "S", "k", "1"},
        {"key of other section", "[B]\nk=1\n[A]\nj=2\n", "A", "k", "fallback"},
        {"key before any section", "k=1\n[A]\n", "A", "k", "fallback"},
        {"comment is no key", "[S]\n;k=1\n", "S", "k", "fallback"},
        {"missing section", "[S]\nk=1\n", "T", "k", "fallback"},
        {"junk lines ignored",
         "[S]\n" + junk + "\n[broken\n" + std::string(100000, 'x') + "\nk=ok\r\n", "S", "k", "ok"},
        {"lone CR at end of file", "[S]\nk=v\r", "S", "k", "v"},
        {"cut to 255", "[S]\nk=" + std::string(300, 'z') + "\n", "S", "k", std::string(255, 'z')},
    };
    TempDir dir;
    for (const ReadCase& c : cases) {
        dir.Write("a.ini", c.content);
        EXPECT_EQ(IniFile(dir.File("a.ini")).Get(c.section, c.key, "fallback"), c.expected)
            << c.what;
    }
}

TEST(IniFileTest, MissingFileReadsDefaultAndIsCreatedOwnerOnly) {
    TempDir dir;
    IniFile ini(dir.File("new.ini"));
    EXPECT_EQ(ini.Get("S", "k"), "");
    EXPECT_EQ(ini.Get("S", "k", "d"), "d");
    ASSERT_TRUE(ini.Set("S", "k", "v"));
    EXPECT_EQ(dir.Read("new.ini"), "[S]\r\nk=v\r\n");
    EXPECT_EQ(ModeOf(dir.File("new.ini")), 0600);
    EXPECT_FALSE(dir.Exists("new.ini.tmp"));
}

TEST(IniFileTest, WritingOneKeyKeepsEveryOtherLineByteForByte) {
    const std::string head = "; settings\n[Options]\r\nUnknown = keep me \r\n";
    const std::string tail = "\n; about sizing\r\n[Sizing]\nTop=5\n\x01\x02 junk\xff\n[Empty]";
    struct Case {
        const char* what;
        const char* section;
        const char* key;
        std::string expected;
    } cases[] = {
        {"existing key, other spelling", "options", "NEWS_HOST",
         head + "News_Host=new.host\r\n" + tail},
        {"new key after the section's last key", "Options", "sldXOVER",
         head + "News_Host=old\r\nsldXOVER=new.host\r\n" + tail},
        {"new key in section without keys", "Empty", "k",
         head + "News_Host=old\r\n" + tail + "\r\nk=new.host\r\n"},
        {"new section at the end", "Columns", "C1",
         head + "News_Host=old\r\n" + tail + "\r\n[Columns]\r\nC1=new.host\r\n"},
    };
    TempDir dir;
    for (const Case& c : cases) {
        dir.Write("q.ini", head + "News_Host=old\r\n" + tail);
        ASSERT_TRUE(IniFile(dir.File("q.ini")).Set(c.section, c.key, "new.host")) << c.what;
        EXPECT_EQ(dir.Read("q.ini"), c.expected) << c.what;
    }
}

TEST(IniFileTest, ExistingFileBecomesOwnerOnlyOnWrite) {
    TempDir dir;
    dir.Write("q.ini", "[S]\nk=1\n");
    ::chmod(dir.File("q.ini").c_str(), 0644);
    ASSERT_TRUE(IniFile(dir.File("q.ini")).Set("S", "User_Pass", "secret"));
    EXPECT_EQ(ModeOf(dir.File("q.ini")), 0600);
}

TEST(IniFileTest, LineBreaksInAValueCannotInjectKeys) {
    TempDir dir;
    IniFile ini(dir.File("q.ini"));
    ASSERT_TRUE(ini.Set("S", "k", "a\r\nUser_Pass=x\nz"));
    EXPECT_EQ(ini.Get("S", "k"), "a  User_Pass=x z");
    EXPECT_EQ(ini.Get("S", "User_Pass", "none"), "none");
}

TEST(IniFileTest, EditWritesOnlyOnCommit) {
    TempDir dir;
    dir.Write("q.ini", "[S]\nk=1\n");
    IniFile ini(dir.File("q.ini"));
    {
        IniFile::Edit edit(ini);
        edit.Set("S", "k", "2");
        edit.Set("T", "j", "3");
        EXPECT_EQ(edit.Get("s", "K"), "2");
        EXPECT_EQ(dir.Read("q.ini"), "[S]\nk=1\n");
        ASSERT_TRUE(edit.Commit());
    }
    EXPECT_EQ(dir.Read("q.ini"), "[S]\nk=2\n[T]\r\nj=3\r\n");
    {
        IniFile::Edit abandoned(ini);
        abandoned.Set("S", "k", "9");
    }
    EXPECT_EQ(ini.Get("S", "k"), "2");
}

TEST(IniFileTest, UnreadableFileReadsDefaultAndIsNotOverwritten) {
    TempDir dir;
    dir.Write("q.ini", "[S]\nk=1\nother=2\n");
    ::chmod(dir.File("q.ini").c_str(), 0);
    int probe = ::open(dir.File("q.ini").c_str(), O_RDONLY);
    if (probe >= 0) {
        ::close(probe);
        GTEST_SKIP() << "running with rights that read a mode-000 file (root)";
    }
    IniFile ini(dir.File("q.ini"));
    EXPECT_EQ(ini.Get("S", "k", "d"), "d");
    EXPECT_FALSE(ini.Set("S", "k", "3"));
    ::chmod(dir.File("q.ini").c_str(), 0600);
    EXPECT_EQ(dir.Read("q.ini"), "[S]\nk=1\nother=2\n");
}

TEST(IniFileTest, WriteThatCannotCreateItsTemporaryFileLeavesOldFile) {
    TempDir dir;
    dir.Write("q.ini", "[S]\nk=1\n");
    ASSERT_EQ(::mkdir(dir.File("q.ini.tmp").c_str(), 0700), 0);  // fails even for root
    EXPECT_FALSE(IniFile(dir.File("q.ini")).Set("S", "k", "2"));
    EXPECT_EQ(dir.Read("q.ini"), "[S]\nk=1\n");
}

TEST(IniFileTest, WriteIntoUnwritableFolderLeavesOldFile) {
    TempDir dir;
    dir.Write("q.ini", "[S]\nk=1\n");
    ::chmod(dir.Path().c_str(), 0500);
    int probe = ::open(dir.File("probe").c_str(), O_WRONLY | O_CREAT, 0600);
    if (probe >= 0) {
        ::close(probe);
        GTEST_SKIP() << "running with rights that write into a mode-500 folder (root)";
    }
    EXPECT_FALSE(IniFile(dir.File("q.ini")).Set("S", "k", "2"));
    ::chmod(dir.Path().c_str(), 0700);
    EXPECT_EQ(dir.Read("q.ini"), "[S]\nk=1\n");
    EXPECT_FALSE(dir.Exists("q.ini.tmp"));
}

}  // namespace
}  // namespace quillfin::storage
