// platform/huge_pages.cpp
// Huge-page advice for large blocks that are filled soon after they are made.
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

}  // namespace qob::platform
