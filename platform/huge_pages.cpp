// platform/huge_pages.cpp
// Huge-page advice and mappings for large memory that is filled soon after
// it is made.
#include "platform/huge_pages.h"

#include <sys/mman.h>

#include <cstdint>

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

}  // namespace qob::platform
