// The work a large posting needs after its download: the yEnc checksums in one read of the
// decoded file with events let run, and the move of the library's output into place.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
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

std::string Hex8(std::uint32_t value) {
    char text[9];
    std::snprintf(text, sizeof text, "%08x", value);
    return text;
}

TEST(YencCheckTest, SlicedChecksumEqualsTheBytewiseOneAtEveryLengthAndAlignment) {
    const std::string data = RandomBytes(4096 + 64, 3);
    for (std::size_t offset = 0; offset < 9; ++offset) {
        for (std::size_t length : {0, 1, 7, 8, 9, 15, 16, 17, 63, 100, 1000, 4096}) {
            const std::string_view piece(data.data() + offset, length);
            ASSERT_EQ(download::YencCheck::Crc32(0, piece), BitwiseCrc32(piece))
                << "offset " << offset << ", length " << length;
        }
    }
    // Carried on across pieces, as the check reads a file block by block.
    const std::string_view all(data);
    const std::uint32_t first = download::YencCheck::Crc32(0, all.substr(0, 1001));
    EXPECT_EQ(download::YencCheck::Crc32(first, all.substr(1001)), BitwiseCrc32(all));
}

TEST(YencCheckTest, OneReadChecksEveryPartAndTheFileAndLetsEventsRun) {
    TempDir dir;
    // Larger than the check's read block, with parts that straddle its block boundaries.
    const std::string data = RandomBytes(3'500'000, 5);
    dir.Write("file", data);
    struct Range {
        std::int64_t begin, end;  // 1-based, inclusive
    };
    const std::vector<Range> ranges = {
        {1, 1'048'580}, {1'048'581, 2'500'000}, {2'500'001, 3'500'000}};
    auto trailer = [&](std::size_t part, const std::string& crc_of_part, bool last) {
        const Range r = ranges[part - 1];
        return "=ybegin part=" + std::to_string(part) +
               " total=3 line=128 size=3500000 name=f\r\n" +
               "=ypart begin=" + std::to_string(r.begin) + " end=" + std::to_string(r.end) +
               "\r\n=yend size=" + std::to_string(r.end - r.begin + 1) +
               " part=" + std::to_string(part) + " pcrc32=" + crc_of_part +
               (last ? " crc32=" + Hex8(BitwiseCrc32(data)) : std::string()) + "\r\n";
    };
    auto pcrc = [&](std::size_t part) {
        const Range r = ranges[part - 1];
        return Hex8(BitwiseCrc32(std::string_view(data).substr(std::size_t(r.begin - 1),
                                                               std::size_t(r.end - r.begin + 1))));
    };
    struct Case {
        const char* what;
        std::string file;  // what is checked
        std::string problem;
    };
    std::string damaged = data;
    damaged[1'800'000] ^= 1;
    const Case cases[] = {
        {"intact", data, ""},
        {"a byte of part 2 damaged", damaged, "yEnc checksum mismatch in part 2"},
        {"the last part missing", data.substr(0, 2'500'000), "yEnc checksum mismatch in part 3"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        dir.Write("decoded", c.file);
        download::YencCheck check;
        // Out of order, as the parts may be loaded.
        for (std::size_t part : {3, 1, 2}) {
            dir.Write("part", trailer(part, pcrc(part), part == 3));
            check.AddPartFile(dir.File("part"));
        }
        HookPump pump;
        EXPECT_EQ(check.Verify(dir.File("decoded"), &pump), c.problem);
        // Once per block read: the event loop is not held for the whole file.
        EXPECT_GE(pump.count, int(c.file.size() >> 20));
    }
    // The whole file's checksum alone still catches what the parts' would.
    dir.Write("decoded", damaged);
    download::YencCheck whole;
    dir.Write("part", "=ybegin line=128 size=3500000 name=f\r\n=yend size=3500000 crc32=" +
                          Hex8(BitwiseCrc32(data)) + "\r\n");
    whole.AddPartFile(dir.File("part"));
    char expected[9];
    std::snprintf(expected, sizeof expected, "%x", BitwiseCrc32(data));
    EXPECT_EQ(whole.Verify(dir.File("decoded")),
              std::string("yEnc checksum mismatch in the file (expected ") + expected + ")");
}

// Runs uuenview on a file of random bytes; returns the part files' paths in part order.
std::vector<std::string> EncodedParts(const TempDir& dir, const std::string& name,
                                      const std::string& data) {
    fs::create_directories(dir.File("src"));
    fs::create_directories(dir.File("enc"));
    dir.Write("src/" + name, data);
    const std::string command = "cd '" + dir.File("src") + "' && uuenview -y -1000 -od '" +
                                dir.File("enc") + "' '" + name + "' >/dev/null 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    std::vector<std::string> parts;
    for (const auto& entry : fs::directory_iterator(dir.File("enc")))
        parts.push_back(entry.path().string());
    std::sort(parts.begin(), parts.end());
    return parts;
}

// The library's temporary folder, for the time of one test.
class ScopedTempFolder {
  public:
    explicit ScopedTempFolder(const std::string& folder) {
        if (const char* old = std::getenv("TMPDIR")) old_ = old;
        had_ = std::getenv("TMPDIR") != nullptr;
        ::setenv("TMPDIR", folder.c_str(), 1);
    }
    ~ScopedTempFolder() {
        if (had_)
            ::setenv("TMPDIR", old_.c_str(), 1);
        else
            ::unsetenv("TMPDIR");
    }

  private:
    std::string old_;
    bool had_ = false;
};

TEST(UuDecoderLibraryTest, TheDecodedFileTakesANewNameAndNeverReplacesOne) {
    TempDir dir;
    const std::string data = RandomBytes(600'000, 9);
    const std::vector<std::string> parts = EncodedParts(dir, "video.bin", data);
    ASSERT_EQ(parts.size(), 5u);
    fs::create_directories(dir.File("out"));
    // The library's temporary files in a folder of the same file system, and, where the machine
    // has one, in another (memory) file system, where the file must be copied.
    std::vector<std::string> temp_folders = {dir.File("tmp")};
    struct stat here {
    }, shm{};
    if (::stat("/dev/shm", &shm) == 0 && ::stat(dir.Path().c_str(), &here) == 0 &&
        here.st_dev != shm.st_dev && ::access("/dev/shm", W_OK) == 0)
        temp_folders.push_back("/dev/shm/qf-decode-" + std::to_string(::getpid()));
    for (const std::string& temp : temp_folders) {
        SCOPED_TRACE(temp);
        fs::create_directories(temp);
        ScopedTempFolder scoped(temp);
        HookPump pump;
        download::UuDecoderLibrary library(&pump);
        const std::string target =
            dir.File("out/video-" + std::to_string(&temp - temp_folders.data()) + ".bin");
        for (const std::string& taken : {std::string("file"), std::string("dangling link")}) {
            SCOPED_TRACE(taken);
            if (taken == "file")
                dir.Write("out/taken", "mine");
            else
                fs::create_symlink(dir.File("out/nowhere"), dir.File("out/taken"));
            ASSERT_TRUE(library.StartRun());
            for (const std::string& part : parts) ASSERT_EQ(library.LoadFile(part), 0);
            ASSERT_EQ(library.FirstItem(), 1);
            const auto refused = library.Decode(1, dir.File("out/taken"));
            EXPECT_FALSE(refused.ok);
            EXPECT_EQ(refused.code, 7) << "exists";
            library.EndRun();
            if (taken == "file") {
                EXPECT_EQ(dir.Read("out/taken"), "mine");
            }
            EXPECT_FALSE(fs::exists(dir.File("out/nowhere")));
            fs::remove(dir.File("out/taken"));
        }
        ASSERT_TRUE(library.StartRun());
        for (const std::string& part : parts) ASSERT_EQ(library.LoadFile(part), 0);
        const auto result = library.Decode(1, target);
        library.EndRun();
        EXPECT_TRUE(result.ok) << result.code << " " << result.moveCode;
        EXPECT_TRUE(dir.Read(target.substr(dir.Path().size() + 1)) == data);
        // No temporary file stays behind in either place.
        EXPECT_TRUE(fs::is_empty(temp)) << temp;
        if (temp != temp_folders.front()) fs::remove_all(temp);
    }
}

}  // namespace
}  // namespace quillfin::testing
