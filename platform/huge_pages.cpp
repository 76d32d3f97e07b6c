// platform/huge_pages.cpp
// Huge-page advice and mappings for large memory that is filled soon after
// it is made.
#include "platform/huge_pages.h"

#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>

namespace qob::platform {

void AdviseHugePages(void* start, size_t length) {
    const auto from = reinterpret_cast<uintptr_t>(start);
    const uintptr_t first = (from + kHugePageSize - 1) & ~(kHugePageSize - 1);
    const uintptr_t end = (from + length) & ~(kHugePageSize - 1);
    if (end > first) (void)madvise(reinterpret_cast<void*>(first), end - first, MADV_HUGEPAGE);
}

void* MapHugePageStretch(size_t length) {
    // A mapping one huge page longer than asked holds an aligned stretch of
    // the length; the rest on either side goes back at once.
    const size_t mapped = length + kHugePageSize;
    void* p = mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) return nullptr;
    const auto from = reinterpret_cast<uintptr_t>(p);
    const uintptr_t start = (from + kHugePageSize - 1) & ~(kHugePageSize - 1);
    if (start > from) (void)munmap(p, start - from);
    const uintptr_t tail = from + mapped - (start + length);
    if (tail > 0) (void)munmap(reinterpret_cast<void*>(start + length), tail);
    (void)madvise(reinterpret_cast<void*>(start), length, MADV_HUGEPAGE);
    return reinterpret_cast<void*>(start);
}

void UnmapHugePageStretch(void* start, size_t length) {
    if (start != nullptr) (void)munmap(start, length);
}

void PrepareCHeap() {
#if !defined(__SANITIZE_ADDRESS__)
    // A compile's large blocks (lists of nodes, the compiled image and its
    // coded form) are made and dropped a few times over; from the heap they
    // reuse pages already faulted in.
    constexpr int kLargestFromHeap = 256 << 20;
    constexpr int kGrowthStep = 64 << 20;
    constexpr int kKeptOnRelease = 128 << 20;
    mallopt(M_MMAP_THRESHOLD, kLargestFromHeap);
    mallopt(M_TRIM_THRESHOLD, kKeptOnRelease);
    mallopt(M_TOP_PAD, kGrowthStep);
    // A block the heap cannot give from what it has makes it grow now, by the
    // step; given back, the stretch stays the heap's.
    void* const before = sbrk(0);
    if (void* block = std::malloc(kHugePageSize)) {
        std::free(block);
        void* const after = sbrk(0);
        if (before != reinterpret_cast<void*>(-1) && after > before)
            AdviseHugePages(before, static_cast<char*>(after) - static_cast<char*>(before));
    }
#endif
}

}  // namespace qob::platform
