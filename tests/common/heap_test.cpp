#include "common/heap.h"

#include <gtest/gtest.h>
#include <malloc.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QUILLFIN_ASAN 1
#endif
#endif

namespace quillfin::common {
namespace {

// The VmFlags line of the mapping that holds address, from /proc/self/smaps.
std::string FlagsOfMapping(const void* address) {
    const auto target = reinterpret_cast<std::uintptr_t>(address);
    std::ifstream smaps("/proc/self/smaps");
    std::string line;
    bool inside = false;
    while (std::getline(smaps, line)) {
        // A mapping starts with "from-to perms ..."; its fields follow as "Name: value".
        const std::string first = line.substr(0, line.find(' '));
        const std::size_t dash = first.find('-');
        if (dash != std::string::npos && first.back() != ':') {
            const auto from = std::stoull(first.substr(0, dash), nullptr, 16);
            const auto to = std::stoull(first.substr(dash + 1), nullptr, 16);
            inside = from <= target && target < to;
        } else if (inside && line.rfind("VmFlags:", 0) == 0) {
            return line;
        }
    }
    return "";
}

TEST(Heap, ReadBuffersComeFromTheHeapAndGrowthIsAdvisedForHugePages) {
    struct stat info {};
    if (::stat("/sys/kernel/mm/transparent_hugepage/enabled", &info) != 0)
        GTEST_SKIP() << "this kernel has no transparent huge pages";
#if defined(__SANITIZE_ADDRESS__) || defined(QUILLFIN_ASAN)
    GTEST_SKIP() << "AddressSanitizer's allocator stands in for the C library's heap";
#endif
    PrepareHeapForLargeTables();
    PrepareHeapForLargeTables();  // a second table must not change anything

    // A socket read buffer of a few hundred KiB must be reused heap memory, not a fresh
    // mapping faulted in again on every read.
    const std::size_t mapped_before = mallinfo2().hblkhd;
    auto read_buffer = std::make_unique<char[]>(512 * 1024);
    std::memset(read_buffer.get(), 1, 512 * 1024);
    EXPECT_EQ(mallinfo2().hblkhd, mapped_before);

    // A table's worth of small allocations, then the advice.
    std::vector<std::unique_ptr<char[]>> parts;
    for (int i = 0; i < 4096; ++i) {
        parts.push_back(std::make_unique<char[]>(4000));
        parts.back()[0] = char(i);
    }
    AdviseHeapGrowth();
    const std::string flags = FlagsOfMapping(parts[3000].get());
    ASSERT_FALSE(flags.empty()) << "no mapping found for a heap address";
    EXPECT_NE(flags.find(" hg"), std::string::npos) << flags;
}

}  // namespace
}  // namespace quillfin::common
