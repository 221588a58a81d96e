// The sound player's choice of file, its silence, and the sounds the build makes.
#include <gtest/gtest.h>

#include <QTest>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>

#include "platform/qt_sound_player.h"
#include "support/temp_dir.h"

namespace quillfin::platform {
namespace {

namespace fs = std::filesystem;

void Touch(const std::string& path) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path) << "RIFF";
}

TEST(SoundPlayerTest, FindsTheFileInTheFirstFolderThatHasItWithoutRegardToCase) {
    testing::TempDir program;
    testing::TempDir beside_executable;
    Touch(program.File("SFX/Scan.WAV"));
    Touch(beside_executable.File("sfx/scan.wav"));
    Touch(beside_executable.File("sfx/hi.wav"));
    fs::create_directories(beside_executable.File("sfx/1.wav"));  // a folder is not a sound
    const std::vector<std::string> folders = {program.Path(), beside_executable.Path()};
    struct Case {
        const char* name;
        std::string found;
    };
    const Case cases[] = {
        {"scan.wav", program.File("SFX/Scan.WAV")},  // the program's folder first
        {"SCAN.wav", program.File("SFX/Scan.WAV")},
        {"hi.wav", beside_executable.File("sfx/hi.wav")},  // then beside the executable
        {"1.wav", ""},
        {"startup.wav", ""},
        {"", ""},
        {"../sfx/hi.wav", ""},  // a bare name only
        {"..", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(QtSoundPlayer::FindSound(folders, c.name), c.found) << c.name;
    EXPECT_EQ(QtSoundPlayer::FindSound({"/no/such/folder", ""}, "hi.wav"), "");
}

TEST(SoundPlayerTest, SilentWhenOffOrMissingAndANewSoundReplacesThePlayingOne) {
    testing::TempDir program;
    fs::create_directories(program.File("sfx"));
    for (const char* name : {"startup.wav", "hi.wav"})
        fs::copy_file(std::string(QUILLFIN_BUILT_SFX) + "/" + name, program.File("sfx/") + name);
    bool on = false;
    QtSoundPlayer player([&] { return on; }, {program.Path()});
    player.Play("hi.wav");
    EXPECT_EQ(player.Chosen(), 0);
    EXPECT_EQ(player.LastChosen(), "");

    on = true;
    player.Play("scan.wav");  // no such file: silent, no message
    EXPECT_EQ(player.Chosen(), 0);
    // Real files, played one over the other; with or without an audio output this neither
    // blocks nor fails.
    player.Play("startup.wav");
    player.Play("hi.wav");
    EXPECT_EQ(player.Chosen(), 2);
    EXPECT_EQ(player.LastChosen(), program.File("sfx/hi.wav"));
    QTest::qWait(100);

    QtSoundPlayer nowhere([] { return true; }, {program.File("none")});
    nowhere.Play("hi.wav");
    EXPECT_EQ(nowhere.Chosen(), 0);
}

TEST(SoundPlayerTest, TheBuildMakesEverySoundAsADistinctWaveFile) {
    std::set<std::string> contents;
    std::vector<std::string> names = {"startup.wav", "scan.wav", "hi.wav"};
    for (int n = 1; n <= 10; ++n) names.push_back(std::to_string(n) + ".wav");
    for (const std::string& name : names) {
        const std::string path = std::string(QUILLFIN_BUILT_SFX) + "/" + name;
        std::ifstream in(path, std::ios::binary);
        const std::string data((std::istreambuf_iterator<char>(in)), {});
        ASSERT_GT(data.size(), 44u) << name;
        EXPECT_EQ(data.substr(0, 4), "RIFF") << name;
        EXPECT_EQ(data.substr(8, 8), "WAVEfmt ") << name;
        EXPECT_EQ(data.substr(36, 4), "data") << name;
        // Short: a sound effect, not music.
        EXPECT_LT(data.size(), 22050u * 2 * 2) << name;
        contents.insert(data);
    }
    EXPECT_EQ(contents.size(), names.size());
}

}  // namespace
}  // namespace quillfin::platform
