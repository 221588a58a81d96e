// The work a large posting needs after its download: the yEnc checksums in one read of the
// decoded file with events let run, and the move of the library's output into place.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "download/uu_decoder_library.h"
#include "download/yenc_check.h"
#include "support/fakes.h"
#include "support/temp_dir.h"

namespace quillfin::testing {
namespace {

namespace fs = std::filesystem;

std::uint32_t BitwiseCrc32(std::string_view data) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char b : data) {
        crc ^= b;
        for (int k = 0; k < 8; ++k) crc = crc & 1 ? 0xEDB88320u ^ (crc >> 1) : crc >> 1;
    }
    return ~crc;
}

std::string RandomBytes(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string out(size, '\0');
    for (char& c : out) c = char(random());
    return out;
}

std::string Hex(std::uint32_t value, const char* format = "%08x") {
    char text[9];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

TEST(YencCheckTest, OneReadChecksEveryPartAndTheFileAndLetsEventsRun) {
    TempDir dir;
    // Larger than the check's read block, with parts that straddle its block boundaries.
    const std::string data = RandomBytes(3'500'000, 5);
    const std::int64_t ranges[][2] = {{1, 1'048'580}, {1'048'581, 2'500'000}, {2'500'001, 3'500'000}};
    auto trailer = [&](int part) {
        const auto [begin, end] = ranges[part - 1];
        const std::string_view bytes =
            std::string_view(data).substr(std::size_t(begin - 1), std::size_t(end - begin + 1));
        return "=ybegin part=" + std::to_string(part) + " total=3 line=128 size=3500000 name=f\r\n" +
               "=ypart begin=" + std::to_string(begin) + " end=" + std::to_string(end) +
               "\r\n=yend size=" + std::to_string(end - begin + 1) + " part=" +
               std::to_string(part) + " pcrc32=" + Hex(BitwiseCrc32(bytes)) +
               (part == 3 ? " crc32=" + Hex(BitwiseCrc32(data)) : std::string()) + "\r\n";
    };
    std::string damaged = data;
    damaged[1'800'000] ^= 1;
    const struct {
        const char* what;
        std::string file;  // what is checked
        std::string problem;
    } cases[] = {
        {"intact", data, ""},
        {"a byte of part 2 damaged", damaged, "yEnc checksum mismatch in part 2"},
        {"the last part missing", data.substr(0, 2'500'000), "yEnc checksum mismatch in part 3"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        dir.Write("decoded", c.file);
        download::YencCheck check;
        for (int part : {3, 1, 2}) {  // out of order, as the parts may be loaded
            dir.Write("part", trailer(part));
            check.AddPartFile(dir.File("part"));
        }
        HookPump pump;
        EXPECT_EQ(check.Verify(dir.File("decoded"), &pump), c.problem);
        // Once per block read: the event loop is not held for the whole file.
        EXPECT_GE(pump.count, int(c.file.size() >> 20));
    }
    // The whole file's checksum alone still catches what the parts' would; no trailer, no check.
    dir.Write("decoded", damaged);
    const std::pair<std::string, std::string> wholes[] = {
        {"=ybegin line=128 size=3500000 name=f\r\n=yend size=3500000 crc32=" +
             Hex(BitwiseCrc32(data)) + "\r\n",
         "yEnc checksum mismatch in the file (expected " + Hex(BitwiseCrc32(data), "%x") + ")"},
        {"no yEnc here\r\n", ""}};
    for (const auto& [text, problem] : wholes) {
        download::YencCheck whole;
        dir.Write("part", text);
        whole.AddPartFile(dir.File("part"));
        EXPECT_EQ(whole.Verify(dir.File("decoded")), problem);
    }
}

// The library's temporary folder, for the time of one test.
struct ScopedTempFolder {
    explicit ScopedTempFolder(const std::string& folder) {
        if (const char* old = std::getenv("TMPDIR")) old_ = old;
        ::setenv("TMPDIR", folder.c_str(), 1);
    }
    ~ScopedTempFolder() { old_ ? ::setenv("TMPDIR", old_->c_str(), 1) : ::unsetenv("TMPDIR"); }
    std::optional<std::string> old_;
};

TEST(UuDecoderLibraryTest, TheDecodedFileTakesANewNameAndNeverReplacesOne) {
    TempDir dir;
    const std::string data = RandomBytes(600'000, 9);
    fs::create_directories(dir.File("src"));
    fs::create_directories(dir.File("enc"));
    fs::create_directories(dir.File("out"));
    dir.Write("src/video.bin", data);
    const std::string command = "cd '" + dir.File("src") + "' && uuenview -y -1000 -od '" +
                                dir.File("enc") + "' video.bin >/dev/null 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    std::vector<std::string> parts;
    for (const auto& entry : fs::directory_iterator(dir.File("enc")))
        parts.push_back(entry.path().string());
    std::sort(parts.begin(), parts.end());
    ASSERT_EQ(parts.size(), 5u);
    // Temporary files on the same file system, and, where the machine has one, on another
    // (memory) file system, where the file must be copied.
    std::vector<std::string> temp_folders = {dir.File("tmp")};
    struct stat here {}, shm{};
    if (::stat("/dev/shm", &shm) == 0 && ::stat(dir.Path().c_str(), &here) == 0 &&
        here.st_dev != shm.st_dev && ::access("/dev/shm", W_OK) == 0)
        temp_folders.push_back("/dev/shm/qf-decode-" + std::to_string(::getpid()));
    for (std::size_t t = 0; t < temp_folders.size(); ++t) {
        const std::string& temp = temp_folders[t];
        SCOPED_TRACE(temp);
        fs::create_directories(temp);
        ScopedTempFolder scoped(temp);
        HookPump pump;
        download::UuDecoderLibrary library(&pump);
        auto decode = [&](const std::string& target) {
            EXPECT_TRUE(library.StartRun());
            for (const std::string& part : parts) EXPECT_EQ(library.LoadFile(part), 0);
            EXPECT_EQ(library.FirstItem(), 1);
            const auto result = library.Decode(1, target);
            library.EndRun();
            return result;
        };
        for (bool link : {false, true}) {
            SCOPED_TRACE(link);
            if (link)
                fs::create_symlink(dir.File("out/nowhere"), dir.File("out/taken"));
            else
                dir.Write("out/taken", "mine");
            const auto refused = decode(dir.File("out/taken"));
            EXPECT_FALSE(refused.ok);
            EXPECT_EQ(refused.code, 7) << "exists";
            if (!link) EXPECT_EQ(dir.Read("out/taken"), "mine");
            EXPECT_FALSE(fs::exists(dir.File("out/nowhere")));
            fs::remove(dir.File("out/taken"));
        }
        const std::string target = "out/video-" + std::to_string(t) + ".bin";
        const auto result = decode(dir.File(target));
        EXPECT_TRUE(result.ok) << result.code << " " << result.moveCode;
        EXPECT_TRUE(dir.Read(target) == data);
        EXPECT_TRUE(fs::is_empty(temp)) << temp;  // no temporary file stays behind
        if (t > 0) fs::remove_all(temp);
    }
}

}  // namespace
}  // namespace quillfin::testing
