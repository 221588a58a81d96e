#pragma once

#include <sys/mman.h>

#include <cstddef>
#include <cstdint>
#include <new>

namespace quillfin::common {

// For arrays that grow to tens of megabytes, such as the header table's postings. Past a few
// megabytes glibc maps each block afresh, so every growth faults the whole copy in 4 KiB at a
// time; these blocks are aligned to huge pages and advised for them instead.
template <class T>
struct LargeBlockAllocator {
    using value_type = T;
    static constexpr std::size_t kHugePage = std::size_t(2) << 20;
    static constexpr std::size_t kLarge = 4 * kHugePage;

    LargeBlockAllocator() = default;
    template <class U>
    LargeBlockAllocator(const LargeBlockAllocator<U>&) {}  // NOLINT: rebinding

    T* allocate(std::size_t n) {
        if (n > SIZE_MAX / sizeof(T)) throw std::bad_array_new_length();
        const std::size_t bytes = n * sizeof(T);
        if (bytes < kLarge) return static_cast<T*>(::operator new(bytes));
        const std::size_t mapped = Rounded(bytes) + kHugePage;
        void* raw =
            ::mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (raw == MAP_FAILED) throw std::bad_alloc();
        // Keep the aligned middle; give back what stands before and after it.
        const auto start = reinterpret_cast<std::uintptr_t>(raw);
        const std::uintptr_t aligned = (start + kHugePage - 1) & ~std::uintptr_t(kHugePage - 1);
        if (aligned > start) ::munmap(raw, aligned - start);
        const std::uintptr_t end = start + mapped;
        const std::uintptr_t used_end = aligned + Rounded(bytes);
        if (end > used_end) ::munmap(reinterpret_cast<void*>(used_end), end - used_end);
        ::madvise(reinterpret_cast<void*>(aligned), Rounded(bytes), MADV_HUGEPAGE);
        return reinterpret_cast<T*>(aligned);
    }

    void deallocate(T* p, std::size_t n) noexcept {
        const std::size_t bytes = n * sizeof(T);
        if (bytes < kLarge)
            ::operator delete(p);
        else
            ::munmap(p, Rounded(bytes));
    }

    template <class U>
    bool operator==(const LargeBlockAllocator<U>&) const {
        return true;
    }

  private:
    static std::size_t Rounded(std::size_t bytes) {
        return (bytes + kHugePage - 1) & ~(kHugePage - 1);
    }
};

}  // namespace quillfin::common
