#include "common/heap.h"

#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <mutex>

namespace quillfin::common {

namespace {

constexpr std::uintptr_t kHugePage = std::uintptr_t(2) << 20;
// Each heap extension is at least this large, so huge pages fit, and the growth between
// two advice calls stays small beside it.
constexpr int kTopPad = 32 << 20;
// Setting the pad turns off glibc's adaptive mmap threshold. Without a fixed one every
// socket read buffer over 128 KiB would be a fresh mapping, faulted in page by page.
constexpr int kMmapThreshold = 32 << 20;
constexpr int kTrimThreshold = 128 << 20;

std::once_flag prepared;
std::uintptr_t advised_end = 0;

std::uintptr_t HeapTop() { return reinterpret_cast<std::uintptr_t>(::sbrk(0)); }

}  // namespace

void PrepareHeapForLargeTables() {
    std::call_once(prepared, [] {
        ::mallopt(M_MMAP_THRESHOLD, kMmapThreshold);
        ::mallopt(M_TRIM_THRESHOLD, kTrimThreshold);
        ::mallopt(M_TOP_PAD, kTopPad);
        advised_end = HeapTop();
    });
}

void AdviseHeapGrowth() {
    if (advised_end == 0) return;
    const std::uintptr_t top = HeapTop();
    if (top < advised_end) {
        // Trimmed: what grows again from here is a new mapping without the advice.
        advised_end = top;
        return;
    }
    if (top - advised_end < kHugePage) return;
    const std::uintptr_t page = std::uintptr_t(::sysconf(_SC_PAGESIZE));
    const std::uintptr_t start = advised_end & ~(page - 1);
    // Advice is only a hint; where the kernel refuses it the heap keeps small pages.
    ::madvise(reinterpret_cast<void*>(start), top - start, MADV_HUGEPAGE);
    advised_end = top;
}

}  // namespace quillfin::common
