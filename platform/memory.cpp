// platform/memory.cpp
// Size-class pages and whole-page spans mapped below 2 GiB, with a page table
// that tells any address's owner without touching memory we do not own.
#include "platform/memory.h"

#include <sys/mman.h>
#include <sys/single_threaded.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cassert>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/sanitizer.h"

// Block headers sit in memory that the address sanitizer sees as poisoned
// (only payloads are open), so the few routines that read or write them are
// not instrumented.
#define QOB_HEADER_ACCESS __attribute__((no_sanitize("address")))

namespace qob::platform {

namespace {

// Memory is managed in 64 KiB pages. A page either holds equal slots of one
// size class, or is part of a span that holds one large block. Every slot
// and span starts with a 16-byte header followed by the payload.
constexpr unsigned kPageShift = 16;
constexpr size_t kPageSize = size_t{1} << kPageShift;
constexpr uint32_t kPageCount = static_cast<uint32_t>(kLowMemoryLimit >> kPageShift);
constexpr size_t kHeaderSize = 16;
// Size-class pages are mapped 32 at a time, 2 MiB aligned: once a process has
// filled a few such chunks it is making blocks by the million, and the kernel
// may then back a chunk with one huge page (one fault where there were 512).
constexpr size_t kChunkPages = 32;
constexpr size_t kChunkBytes = kChunkPages * kPageSize;
constexpr size_t kSmallChunksBeforeHugePages = 1;
constexpr size_t kMaxSlotSize = 32768;

// Slot sizes (header included): 32 to 256 in steps of 16, then four sizes per
// doubling up to 32 KiB. Every size is a multiple of 16, so payloads stay
// 16-byte aligned.
constexpr int kClassCount = 15 + 7 * 4;

constexpr std::array<uint32_t, kClassCount> kSlotSizes = [] {
    std::array<uint32_t, kClassCount> sizes{};
    int index = 0;
    for (uint32_t size = 32; size <= 256; size += 16) sizes[index++] = size;
    for (uint32_t base = 256; base < kMaxSlotSize; base *= 2)
        for (uint32_t step = 1; step <= 4; ++step) sizes[index++] = base + step * (base / 4);
    return sizes;
}();
static_assert(kSlotSizes[kClassCount - 1] == kMaxSlotSize);

// ceil(2^32 / slot size) per class: for an offset below 2^16 and a slot size
// of at most 2^15, (offset * it) >> 32 is exactly offset / slot size, since
// the error it adds stays under 2^-16 while a fraction short of the next whole
// number is at least 1 / slot size. Block queries divide by it on every free.
constexpr std::array<uint64_t, kClassCount> kSlotReciprocals = [] {
    std::array<uint64_t, kClassCount> reciprocals{};
    for (int i = 0; i < kClassCount; ++i) reciprocals[i] = ((uint64_t{1} << 32) + kSlotSizes[i] - 1) / kSlotSizes[i];
    return reciprocals;
}();

// Blocks of exactly 64 bytes -- a list's nodes, made and walked by the
// million -- have pages of their own and no header: the slot is the block, so
// a node fills one cache line instead of straddling two, and a long list needs
// a fifth less memory. The first 128 bytes of such a page are a bitmap of its
// live slots, one bit per 64 bytes (the bitmap's own two bits are never set);
// a free slot holds the next free slot's address in its first four bytes.
constexpr size_t kExactSize = 64;
constexpr int kExactClass = kClassCount;
constexpr size_t kExactFirstSlot = 128;

// The smallest class whose slots hold total bytes (header included).
int ClassOf(size_t total) {
    if (total <= 256) return total <= 32 ? 0 : static_cast<int>((total + 15) / 16) - 2;
    const int bits = std::bit_width(total - 1);  // 2^(bits-1) < total <= 2^bits
    const size_t step = size_t{1} << (bits - 3);
    return 15 + (bits - 9) * 4 + static_cast<int>((total - 1 - (size_t{1} << (bits - 1))) / step);
}

constexpr uint32_t kLiveTag = 0xB10C4A11u;
constexpr uint32_t kFreeTag = 0xF4EEB10Cu;

struct BlockHeader {
    uint32_t tag;   // kLiveTag while the block is allocated
    uint32_t size;  // exact size asked for
    uint32_t link;  // free slot: next free slot's header; span: index in its heap's span list
    uint32_t reserved;
};
static_assert(sizeof(BlockHeader) == kHeaderSize);

// One entry per 64 KiB page below kLowMemoryLimit. Entries of pages we do not
// own are 0, which is what lets any address be checked safely.
constexpr uint32_t kSmallPage = 0x80000000u;  // | size class
constexpr uint32_t kSpanPage = 0x40000000u;   // | page number of the span's first page
constexpr uint32_t kPageInfoValue = 0x3FFFFFFFu;

struct PageEntry {
    std::atomic<uint32_t> info{0};
    std::atomic<Arena*> heap{nullptr};
};
PageEntry gPageTable[kPageCount];

uintptr_t Address(const void* pointer) { return reinterpret_cast<uintptr_t>(pointer); }
uint32_t PageOf(uintptr_t address) { return static_cast<uint32_t>(address >> kPageShift); }
char* PageStart(uint32_t page) { return reinterpret_cast<char*>(uintptr_t{page} << kPageShift); }
size_t SpanBytes(size_t size) { return (size + kHeaderSize + kPageSize - 1) & ~(kPageSize - 1); }

// The allocator's locks. While the process runs a single thread nothing can
// race it, and the library's flag for that turns false before a second
// thread starts and never back: a section entered without the mutex ends
// before any other thread exists. Programs mostly run on one thread, and
// every allocation and free pays for its lock.
class HeapLock {
public:
    class Guard {
    public:
        explicit Guard(HeapLock& lock) : mutex(__libc_single_threaded ? nullptr : &lock.mutex) {
            if (mutex) mutex->lock();
        }
        ~Guard() {
            if (mutex) mutex->unlock();
        }
        Guard(const Guard&) = delete;
        Guard& operator=(const Guard&) = delete;

    private:
        std::mutex* mutex;
    };

private:
    std::mutex mutex;
};

}  // namespace

struct Arena {
    HeapLock lock;
    // Per class, and last for the exact-size class.
    std::array<uint32_t, kClassCount + 1> freeSlots{};  // first free slot (header, or exact block), 0: none
    std::array<uint32_t, kClassCount + 1> bumpNext{};   // never used slots of the newest page of a class
    std::array<uint32_t, kClassCount + 1> bumpEnd{};
    std::vector<uint32_t> pages;  // size-class pages owned
    std::vector<uint32_t> spans;  // first page of each large block
};

namespace {

// Mapping below 2 GiB -------------------------------------------------------

// The mapped ranges, merged (start -> end). Changed only when pages are
// mapped or unmapped, which is rare next to allocation.
struct RegionList {
    std::mutex mutex;
    std::map<uintptr_t, uintptr_t> ranges;
};

RegionList& GetRegionList() {
    static RegionList* const list = new RegionList;  // never destroyed, like the heaps
    return *list;
}

void NoteRegionMapped(uintptr_t start, uintptr_t end) {
    RegionList& list = GetRegionList();
    std::lock_guard lock(list.mutex);
    auto next = list.ranges.upper_bound(start);
    if (next != list.ranges.begin() && std::prev(next)->second >= start) {
        --next;
        start = next->first;
        end = std::max(end, next->second);
        next = list.ranges.erase(next);
    }
    while (next != list.ranges.end() && next->first <= end) {
        end = std::max(end, next->second);
        next = list.ranges.erase(next);
    }
    list.ranges.emplace(start, end);
    LowRegionChangeCount.fetch_add(1, std::memory_order_release);
}

void NoteRegionUnmapped(uintptr_t start, uintptr_t end) {
    RegionList& list = GetRegionList();
    std::lock_guard lock(list.mutex);
    auto range = list.ranges.upper_bound(start);
    if (range != list.ranges.begin()) --range;
    while (range != list.ranges.end() && range->first < end) {
        const uintptr_t from = range->first, to = range->second;
        if (to <= start) {
            ++range;
            continue;
        }
        range = list.ranges.erase(range);
        if (from < start) list.ranges.emplace(from, start);
        if (to > end) range = list.ranges.emplace(end, to).first;
    }
    LowRegionChangeCount.fetch_add(1, std::memory_order_release);
}

// MAP_32BIT serves about 1 GiB; past that, free room lower down is probed
// page range by page range without ever replacing an existing mapping.
void* MapAnywhereLow(size_t length) {
    static std::atomic<uintptr_t> cursor{0x1000000};
    const uintptr_t start = cursor.load(std::memory_order_relaxed);
    for (int pass = 0; pass < 2; ++pass) {
        const uintptr_t from = pass == 0 ? start : 0x1000000;
        const uintptr_t to = pass == 0 ? kLowMemoryLimit : start;
        for (uintptr_t hint = from; hint + length <= to; hint += length) {
            void* p = mmap(reinterpret_cast<void*>(hint), length, PROT_READ | PROT_WRITE,
                           MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
            if (p == MAP_FAILED) continue;
            if (Address(p) == hint) {
                cursor.store(hint + length, std::memory_order_relaxed);
                return p;
            }
            munmap(p, length);  // an old kernel that took the address as a mere hint
        }
    }
    return nullptr;
}

// bytes (a multiple of kPageSize) of fresh zeroed memory, aligned to
// alignment (a multiple of kPageSize) and wholly below kLowMemoryLimit; null
// when there is no room left.
char* MapLowPages(size_t bytes, size_t alignment = kPageSize) {
    const size_t length = bytes + alignment;
    void* p = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_32BIT, -1, 0);
    if (p != MAP_FAILED && Address(p) + length > kLowMemoryLimit) {
        munmap(p, length);
        p = MAP_FAILED;
    }
    if (p == MAP_FAILED) p = MapAnywhereLow(length);
    if (p == nullptr || p == MAP_FAILED) return nullptr;
    const uintptr_t start = Address(p);
    const uintptr_t aligned = (start + alignment - 1) & ~(alignment - 1);
    if (aligned > start) munmap(p, aligned - start);
    const uintptr_t end = start + length;
    if (end > aligned + bytes) munmap(reinterpret_cast<void*>(aligned + bytes), end - aligned - bytes);
    NoteRegionMapped(aligned, aligned + bytes);
    return reinterpret_cast<char*>(aligned);
}

// Size-class pages are shared by all heaps through one pool; a page goes back
// to it, zeroed, when its heap is destroyed.
struct PagePool {
    HeapLock lock;
    std::vector<uint32_t> freePages;
    size_t chunksMapped = 0;
};

PagePool& GetPagePool() {
    static PagePool* const pool = new PagePool;  // never destroyed: heaps may outlive static destruction
    return *pool;
}

// A zeroed, poisoned page, or kPageCount when memory is exhausted.
uint32_t AcquirePage() {
    PagePool& pool = GetPagePool();
    HeapLock::Guard guard(pool.lock);
    if (pool.freePages.empty()) {
        char* chunk = MapLowPages(kChunkBytes, kChunkBytes);
        if (chunk == nullptr) return kPageCount;
        // A small program's first chunks stay in small pages: a huge page
        // would make it touch 2 MiB for a few blocks of each size.
        if (++pool.chunksMapped > kSmallChunksBeforeHugePages) madvise(chunk, kChunkBytes, MADV_HUGEPAGE);
        QOB_POISON(chunk, kChunkBytes);
        for (size_t i = kChunkPages; i-- > 0;) pool.freePages.push_back(PageOf(Address(chunk)) + i);
    }
    const uint32_t page = pool.freePages.back();
    pool.freePages.pop_back();
    return page;
}

void ReleasePage(uint32_t page) {
    char* start = PageStart(page);
    // Zeroing matters beyond saving memory: a later owner may cut the page
    // into another slot size, and an old header left at one of its slot
    // starts must not read as a live block.
    madvise(start, kPageSize, MADV_DONTNEED);
    QOB_POISON(start, kPageSize);
    PagePool& pool = GetPagePool();
    HeapLock::Guard guard(pool.lock);
    pool.freePages.push_back(page);
}

void ClearPageEntry(uint32_t page) {
    gPageTable[page].info.store(0, std::memory_order_release);
    gPageTable[page].heap.store(nullptr, std::memory_order_release);
}

// Headers -------------------------------------------------------------------

BlockHeader* HeaderAt(uintptr_t address) { return reinterpret_cast<BlockHeader*>(address); }
void* PayloadOf(BlockHeader* header) { return reinterpret_cast<char*>(header) + kHeaderSize; }
uint32_t Compact(const BlockHeader* header) { return static_cast<uint32_t>(Address(header)); }

QOB_HEADER_ACCESS uint32_t ReadTag(const BlockHeader* header) { return header->tag; }
QOB_HEADER_ACCESS uint32_t ReadSize(const BlockHeader* header) { return header->size; }
QOB_HEADER_ACCESS uint32_t ReadLink(const BlockHeader* header) { return header->link; }
QOB_HEADER_ACCESS void WriteHeader(BlockHeader* header, uint32_t tag, uint32_t size, uint32_t link) {
    header->tag = tag;
    header->size = size;
    header->link = link;
}
QOB_HEADER_ACCESS void WriteSize(BlockHeader* header, uint32_t size) { header->size = size; }
QOB_HEADER_ACCESS void WriteLink(BlockHeader* header, uint32_t link) { header->link = link; }

struct BlockRef {
    BlockHeader* header = nullptr;  // null for a block of the exact-size class
    Arena* heap = nullptr;
    uint32_t info = 0;      // the page entry: size class or span
    char* payload = nullptr;  // the block; null when there is none
};

// The live-slot bit of an exact-size page's slot, by the slot's address.
struct ExactBit {
    uint64_t* word;
    uint64_t mask;
};
ExactBit ExactBitOf(uintptr_t slot) {
    auto* bitmap = reinterpret_cast<uint64_t*>(slot & ~(kPageSize - 1));
    const size_t unit = (slot & (kPageSize - 1)) / kExactSize;
    return {bitmap + unit / 64, uint64_t{1} << (unit % 64)};
}
QOB_HEADER_ACCESS bool IsExactSlotLive(uintptr_t slot) {
    const ExactBit bit = ExactBitOf(slot);
    return (*bit.word & bit.mask) != 0;
}
QOB_HEADER_ACCESS void MarkExactSlotLive(uintptr_t slot) {
    const ExactBit bit = ExactBitOf(slot);
    *bit.word |= bit.mask;
}
QOB_HEADER_ACCESS uint32_t ReadExactLink(uintptr_t slot) { return *reinterpret_cast<const uint32_t*>(slot); }
QOB_HEADER_ACCESS void WriteExactLink(uintptr_t slot, uint32_t link) { *reinterpret_cast<uint32_t*>(slot) = link; }

// The exact size asked for when the block was made.
QOB_HEADER_ACCESS size_t SizeOf(const BlockRef& ref) { return ref.header ? ref.header->size : kExactSize; }

// Finds the live block that starts exactly at address. Only the page table is
// consulted until the address is known to be a slot or span start of a page
// we own, so no unknown memory is ever read.
QOB_HEADER_ACCESS BlockRef FindBlock(const void* block) {
    const uintptr_t address = Address(block);
    if (address < kPageSize || address >= kLowMemoryLimit || address % kBlockAlignment != 0) return {};
    const uint32_t page = PageOf(address);
    const uint32_t info = gPageTable[page].info.load(std::memory_order_acquire);
    const size_t offset = address & (kPageSize - 1);
    if (info & kSmallPage) {
        const uint32_t sizeClass = info & kPageInfoValue;
        if (sizeClass == kExactClass) {
            if (offset < kExactFirstSlot || offset % kExactSize != 0 || !IsExactSlotLive(address)) return {};
            return {nullptr, gPageTable[page].heap.load(std::memory_order_acquire), info, reinterpret_cast<char*>(address)};
        }
        const size_t slot = kSlotSizes[sizeClass];
        if (offset < kHeaderSize) return {};
        const size_t slotStart = offset - kHeaderSize;
        const size_t slotIndex = (slotStart * kSlotReciprocals[sizeClass]) >> 32;
        if (slotIndex * slot != slotStart || slotStart + slot > kPageSize) return {};
    } else if (info & kSpanPage) {
        if ((info & kPageInfoValue) != page || offset != kHeaderSize) return {};
    } else {
        return {};
    }
    BlockHeader* header = HeaderAt(address - kHeaderSize);
    if (header->tag != kLiveTag) return {};
    return {header, gPageTable[page].heap.load(std::memory_order_acquire), info, reinterpret_cast<char*>(address)};
}

// Allocation and release ------------------------------------------------------

// The first slot of a new page for the class, or null. Caller holds heap.lock.
// Kept out of line, like the other rare paths below, so that the per-block
// paths stay short enough to need no saved registers.
[[gnu::noinline]] BlockHeader* TakeSlotFromNewPage(Arena& heap, int sizeClass) {
    const uint32_t page = AcquirePage();
    if (page == kPageCount) return nullptr;
    heap.pages.push_back(page);
    gPageTable[page].heap.store(&heap, std::memory_order_release);
    gPageTable[page].info.store(kSmallPage | static_cast<uint32_t>(sizeClass), std::memory_order_release);
    const uint32_t slot = kSlotSizes[sizeClass];
    const uint32_t start = static_cast<uint32_t>(Address(PageStart(page)));
    heap.bumpNext[sizeClass] = start + slot;
    heap.bumpEnd[sizeClass] = start + static_cast<uint32_t>(kPageSize / slot * slot);
    return HeaderAt(start);
}

// A header of a fresh slot of the class, or null. Caller holds heap.lock.
// untouched tells a slot never handed out before, whose payload still reads
// zero: pages come to a heap zeroed and a slot is bumped out of them once.
BlockHeader* TakeSlot(Arena& heap, int sizeClass, bool& untouched) {
    untouched = false;
    if (const uint32_t first = heap.freeSlots[sizeClass]) {
        BlockHeader* header = HeaderAt(first);
        heap.freeSlots[sizeClass] = ReadLink(header);
        return header;
    }
    const uint32_t slot = kSlotSizes[sizeClass];
    if (heap.bumpNext[sizeClass] != heap.bumpEnd[sizeClass]) {
        BlockHeader* header = HeaderAt(heap.bumpNext[sizeClass]);
        heap.bumpNext[sizeClass] += slot;
        // Slots bumped one after another are filled at once by a program that
        // makes blocks by the thousand; a fresh slot's memory is rarely in the
        // cache, and its first read would wait for it. The memory a few slots
        // on is asked for now (a hint: never a fault, even past the page).
        __builtin_prefetch(reinterpret_cast<const void*>(uintptr_t{heap.bumpNext[sizeClass]} + 1024), 1);
        untouched = true;
        return header;
    }
    untouched = true;
    return TakeSlotFromNewPage(heap, sizeClass);
}

// The first slot of a new exact-size page, or null. Caller holds heap.lock.
[[gnu::noinline]] uintptr_t TakeExactSlotFromNewPage(Arena& heap) {
    const uint32_t page = AcquirePage();
    if (page == kPageCount) return 0;
    heap.pages.push_back(page);
    gPageTable[page].heap.store(&heap, std::memory_order_release);
    gPageTable[page].info.store(kSmallPage | static_cast<uint32_t>(kExactClass), std::memory_order_release);
    const uint32_t start = static_cast<uint32_t>(Address(PageStart(page)));
    heap.bumpNext[kExactClass] = start + static_cast<uint32_t>(kExactFirstSlot + kExactSize);
    heap.bumpEnd[kExactClass] = start + static_cast<uint32_t>(kPageSize);
    return start + kExactFirstSlot;
}

// An exact-size slot marked live (0 when none is left), and whether it was
// never handed out before (its bytes still read zero). Caller holds
// heap.lock, or the process has one thread.
QOB_HEADER_ACCESS uintptr_t TakeExactSlot(Arena& heap, bool& untouched) {
    uintptr_t slot;
    untouched = false;
    if (const uint32_t first = heap.freeSlots[kExactClass]) {
        slot = first;
        heap.freeSlots[kExactClass] = ReadExactLink(slot);
    } else if (heap.bumpNext[kExactClass] != heap.bumpEnd[kExactClass]) {
        slot = heap.bumpNext[kExactClass];
        heap.bumpNext[kExactClass] += kExactSize;
        __builtin_prefetch(reinterpret_cast<const void*>(slot + 1024), 1);  // as TakeSlot does
        untouched = true;
    } else {
        slot = TakeExactSlotFromNewPage(heap);
        if (slot == 0) return 0;
        untouched = true;
    }
    MarkExactSlotLive(slot);
    return slot;
}

[[gnu::noinline]] uintptr_t TakeExactSlotLocked(Arena& heap, bool& untouched) {
    HeapLock::Guard guard(heap.lock);
    return TakeExactSlot(heap, untouched);
}

void* AllocateExact(Arena& heap, bool zero) {
    bool untouched;
    const uintptr_t slot = __libc_single_threaded ? TakeExactSlot(heap, untouched) : TakeExactSlotLocked(heap, untouched);
    if (slot == 0) return nullptr;
    void* payload = reinterpret_cast<void*>(slot);
    QOB_UNPOISON(payload, kExactSize);
    if (zero && !untouched) std::memset(payload, 0, kExactSize);
    return payload;
}

// Released spans are kept for reuse up to a bound, since mapping and
// unmapping cost microseconds where a program may allocate and free a large
// buffer every frame.
constexpr size_t kMaxCachedSpanBytes = 8u << 20;
constexpr size_t kSpanCacheBytes = 32u << 20;

struct SpanCache {
    HeapLock lock;
    std::vector<std::pair<uint32_t, uint32_t>> spans;  // first page, page count
    size_t bytes = 0;
};

SpanCache& GetSpanCache() {
    static SpanCache* const cache = new SpanCache;  // never destroyed, like the heaps
    return *cache;
}

// A span of exactly bytes: a cached one (dirty, reused is true) or a fresh
// zeroed mapping; null when memory is exhausted. A cached span of the same
// size is taken first, else the front of the smallest larger one: pages the
// process has touched once cost far less to clear than fresh ones to fault in.
char* TakeSpan(size_t bytes, bool& reused) {
    const auto pages = static_cast<uint32_t>(bytes / kPageSize);
    SpanCache& cache = GetSpanCache();
    {
        HeapLock::Guard guard(cache.lock);
        size_t best = cache.spans.size();
        for (size_t i = 0; i < cache.spans.size(); ++i) {
            const uint32_t count = cache.spans[i].second;
            if (count == pages) {
                best = i;
                break;
            }
            if (count > pages && (best == cache.spans.size() || count < cache.spans[best].second)) best = i;
        }
        if (best < cache.spans.size()) {
            auto& span = cache.spans[best];
            const uint32_t first = span.first;
            if (span.second == pages) {
                span = cache.spans.back();
                cache.spans.pop_back();
            } else {
                span = {first + pages, span.second - pages};
            }
            cache.bytes -= bytes;
            reused = true;
            return PageStart(first);
        }
    }
    reused = false;
    char* start = MapLowPages(bytes);
    if (start != nullptr) QOB_POISON(start, bytes);
    return start;
}

void ReleaseSpan(uint32_t first, size_t bytes) {
    for (uint32_t page = first; page < first + bytes / kPageSize; ++page) ClearPageEntry(page);
    if (bytes <= kMaxCachedSpanBytes) {
        SpanCache& cache = GetSpanCache();
        HeapLock::Guard guard(cache.lock);
        if (cache.bytes + bytes <= kSpanCacheBytes) {
            QOB_POISON(PageStart(first), bytes);
            cache.spans.emplace_back(first, static_cast<uint32_t>(bytes / kPageSize));
            cache.bytes += bytes;
            return;
        }
    }
    QOB_UNPOISON(PageStart(first), bytes);  // the range may be mapped by someone else later
    NoteRegionUnmapped(Address(PageStart(first)), Address(PageStart(first)) + bytes);
    munmap(PageStart(first), bytes);
}

[[gnu::noinline]] void* AllocateSpan(Arena& heap, size_t size, bool zero) {
    const size_t bytes = SpanBytes(size);
    bool reused = false;
    char* start = TakeSpan(bytes, reused);
    if (start == nullptr) return nullptr;
    auto* header = reinterpret_cast<BlockHeader*>(start);
    const uint32_t first = PageOf(Address(start));
    {
        HeapLock::Guard guard(heap.lock);
        WriteHeader(header, kLiveTag, static_cast<uint32_t>(size), static_cast<uint32_t>(heap.spans.size()));
        heap.spans.push_back(first);
    }
    for (uint32_t page = first; page < first + bytes / kPageSize; ++page) {
        gPageTable[page].heap.store(&heap, std::memory_order_release);
        gPageTable[page].info.store(kSpanPage | first, std::memory_order_release);
    }
    void* payload = PayloadOf(header);
    QOB_UNPOISON(payload, size);
    if (zero && reused) std::memset(payload, 0, size);
    return payload;
}

// A slot of the class made a live block of size bytes, or null. Caller holds
// heap.lock, or the process has one thread.
BlockHeader* TakeLiveSlot(Arena& heap, int sizeClass, size_t size, bool& untouched) {
    BlockHeader* header = TakeSlot(heap, sizeClass, untouched);
    if (header != nullptr) WriteHeader(header, kLiveTag, static_cast<uint32_t>(size), 0);
    return header;
}

// The per-block paths take the heap's mutex out of line: the call it needs
// would make the common single-threaded path save registers on every block.
[[gnu::noinline]] BlockHeader* TakeLiveSlotLocked(Arena& heap, int sizeClass, size_t size, bool& untouched) {
    HeapLock::Guard guard(heap.lock);
    return TakeLiveSlot(heap, sizeClass, size, untouched);
}

void* AllocateIn(Arena& heap, size_t size, bool zero) {
    if (size > kMaxBlockSize) return nullptr;
    if (size == kExactSize) return AllocateExact(heap, zero);
    const size_t total = size + kHeaderSize;
    if (total > kMaxSlotSize) return AllocateSpan(heap, size, zero);
    const int sizeClass = ClassOf(total);
    bool untouched;
    BlockHeader* header = __libc_single_threaded ? TakeLiveSlot(heap, sizeClass, size, untouched)
                                                 : TakeLiveSlotLocked(heap, sizeClass, size, untouched);
    if (header == nullptr) return nullptr;
    void* payload = PayloadOf(header);
    QOB_UNPOISON(payload, size);
    if (zero && !untouched) std::memset(payload, 0, size);
    return payload;
}

// One more block released or resized. Without a second thread a plain read
// and write do (the heap lock skips its mutex the same way).
void NoteBlockRelease() {
    if (__libc_single_threaded)
        BlockReleaseCount.store(BlockReleaseCount.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
    else
        BlockReleaseCount.fetch_add(1, std::memory_order_relaxed);
}

// Puts a slot on its class's free list. Caller holds heap.lock, or the
// process has one thread.
QOB_HEADER_ACCESS bool FreeSlot(BlockHeader* header, Arena& heap, int sizeClass) {
    if (header->tag != kLiveTag) return false;  // freed meanwhile by another thread
    QOB_POISON(PayloadOf(header), kSlotSizes[sizeClass] - kHeaderSize);
    WriteHeader(header, kFreeTag, 0, heap.freeSlots[sizeClass]);
    heap.freeSlots[sizeClass] = Compact(header);
    NoteBlockRelease();
    return true;
}

// Puts an exact-size slot on its free list. Caller holds heap.lock, or the
// process has one thread.
QOB_HEADER_ACCESS bool FreeExactSlot(uintptr_t slot, Arena& heap) {
    const ExactBit bit = ExactBitOf(slot);
    if (!(*bit.word & bit.mask)) return false;  // freed meanwhile by another thread
    *bit.word &= ~bit.mask;
    QOB_POISON(reinterpret_cast<void*>(slot), kExactSize);
    WriteExactLink(slot, heap.freeSlots[kExactClass]);
    heap.freeSlots[kExactClass] = static_cast<uint32_t>(slot);
    NoteBlockRelease();
    return true;
}

[[gnu::noinline]] bool FreeExactSlotLocked(uintptr_t slot, Arena& heap) {
    HeapLock::Guard guard(heap.lock);
    return FreeExactSlot(slot, heap);
}

[[gnu::noinline]] bool FreeSlotLocked(BlockHeader* header, Arena& heap, int sizeClass) {
    HeapLock::Guard guard(heap.lock);
    return FreeSlot(header, heap, sizeClass);
}

[[gnu::noinline]] bool FreeSpan(BlockHeader* header, Arena& heap) {
    size_t bytes;
    {
        HeapLock::Guard guard(heap.lock);
        if (ReadTag(header) != kLiveTag) return false;
        bytes = SpanBytes(ReadSize(header));
        // Swap the last span into this one's place in the list.
        const uint32_t index = ReadLink(header);
        const uint32_t moved = heap.spans.back();
        heap.spans[index] = moved;
        WriteLink(HeaderAt(Address(PageStart(moved))), index);
        heap.spans.pop_back();
        WriteHeader(header, kFreeTag, 0, 0);
    }
    NoteBlockRelease();
    ReleaseSpan(PageOf(Address(header)), bytes);
    return true;
}

bool FreeIn(const BlockRef& ref) {
    if (!(ref.info & kSmallPage)) return FreeSpan(ref.header, *ref.heap);
    const int sizeClass = static_cast<int>(ref.info & kPageInfoValue);
    if (sizeClass == kExactClass)
        return __libc_single_threaded ? FreeExactSlot(Address(ref.payload), *ref.heap)
                                      : FreeExactSlotLocked(Address(ref.payload), *ref.heap);
    return __libc_single_threaded ? FreeSlot(ref.header, *ref.heap, sizeClass)
                                  : FreeSlotLocked(ref.header, *ref.heap, sizeClass);
}

// Whether the block can take size bytes where it is: the slot class or the
// span's page count stays the same.
bool FitsInPlace(const BlockRef& ref, size_t size, size_t oldSize) {
    if (size > kMaxBlockSize) return false;
    if (ref.header == nullptr) return size == kExactSize;
    if (ref.info & kSmallPage) return ClassOf(size + kHeaderSize) == static_cast<int>(ref.info & kPageInfoValue);
    return size + kHeaderSize > kMaxSlotSize && SpanBytes(size) == SpanBytes(oldSize);
}

void ResizeInPlace(const BlockRef& ref, size_t size, size_t oldSize, bool zero) {
    void* payload = ref.payload;
    if (size < oldSize) QOB_POISON(static_cast<char*>(payload) + size, oldSize - size);
    QOB_UNPOISON(payload, size);
    if (zero && size > oldSize) std::memset(static_cast<char*>(payload) + oldSize, 0, size - oldSize);
    if (ref.header) WriteSize(ref.header, static_cast<uint32_t>(size));
    NoteBlockRelease();
}

void* ReallocateIn(const BlockRef& ref, size_t size, bool zero) {
    if (size > kMaxBlockSize) return nullptr;
    const size_t oldSize = SizeOf(ref);
    void* payload = ref.payload;
    if (FitsInPlace(ref, size, oldSize)) {
        ResizeInPlace(ref, size, oldSize, zero);
        return payload;
    }
    void* moved = AllocateIn(*ref.heap, size, false);
    if (moved == nullptr) return nullptr;
    std::memcpy(moved, payload, std::min(oldSize, size));
    if (zero && size > oldSize) std::memset(static_cast<char*>(moved) + oldSize, 0, size - oldSize);
    FreeIn(ref);
    return moved;
}

Arena& ProcessHeap() {
    static Arena* const heap = new Arena;  // never destroyed: blocks may be freed during static destruction
    return *heap;
}

}  // namespace

std::atomic<uint64_t> BlockReleaseCount{0};
std::atomic<uint64_t> LowRegionChangeCount{0};

std::vector<LowRegion> ListLowRegions() {
    RegionList& list = GetRegionList();
    std::lock_guard lock(list.mutex);
    std::vector<LowRegion> regions;
    regions.reserve(list.ranges.size());
    for (const auto& [start, end] : list.ranges) regions.push_back({start, end});
    return regions;
}

HeapHandle GetProcessHeap() { return &ProcessHeap(); }

HeapHandle HeapCreate() { return new Arena; }

void HeapDestroy(HeapHandle heap) {
    assert(heap != &ProcessHeap() && "the process heap lives as long as the process");
    if (heap == nullptr || heap == &ProcessHeap()) return;
    NoteBlockRelease();
    for (uint32_t page : heap->pages) {
        ClearPageEntry(page);
        ReleasePage(page);
    }
    for (uint32_t first : heap->spans) {
        BlockHeader* header = HeaderAt(Address(PageStart(first)));
        ReleaseSpan(first, SpanBytes(ReadSize(header)));
    }
    delete heap;
}

// HeapAlloc and FreeBlockOfAnyHeap serve every value block a program makes
// and frees, often by the million: their helpers are inlined into them.
namespace {

// A live 64-byte block taken while the process has one thread, its bytes zero
// when asked; null, touching nothing, when the class has neither a free slot
// nor an unused one in its newest page.
QOB_HEADER_ACCESS void* TakeExactBlockAlone(Arena& heap, bool zero) {
    uintptr_t slot = heap.freeSlots[kExactClass];
    if (slot != 0) {
        heap.freeSlots[kExactClass] = ReadExactLink(slot);
        MarkExactSlotLive(slot);
        QOB_UNPOISON(reinterpret_cast<void*>(slot), kExactSize);
        if (zero) std::memset(reinterpret_cast<void*>(slot), 0, kExactSize);
        return reinterpret_cast<void*>(slot);
    }
    slot = heap.bumpNext[kExactClass];
    if (slot == heap.bumpEnd[kExactClass]) return nullptr;
    heap.bumpNext[kExactClass] = static_cast<uint32_t>(slot + kExactSize);
    __builtin_prefetch(reinterpret_cast<const void*>(slot + 1024), 1);  // as TakeSlot does
    MarkExactSlotLive(slot);
    QOB_UNPOISON(reinterpret_cast<void*>(slot), kExactSize);
    return reinterpret_cast<void*>(slot);  // never handed out before: reads zero
}

[[gnu::noinline]] void* AllocateInHeap(HeapHandle heap, uint32_t flags, size_t size) {
    if (heap == nullptr) return nullptr;
    return AllocateIn(*heap, size, (flags & HEAP_ZERO_MEMORY) != 0);
}

}  // namespace

// A list node's block, the commonest of all, is taken inline; every other
// request, and a node's when a new page is due or a second thread runs, out
// of line, so that the node's path saves no registers.
void* HeapAlloc(HeapHandle heap, uint32_t flags, size_t size) {
    if (size == kExactSize && __libc_single_threaded && heap != nullptr) {
        if (void* block = TakeExactBlockAlone(*heap, (flags & HEAP_ZERO_MEMORY) != 0)) return block;
    }
    return AllocateInHeap(heap, flags, size);
}

void* HeapReAlloc(HeapHandle heap, uint32_t flags, void* block, size_t size) {
    const BlockRef ref = FindBlock(block);
    if (ref.payload == nullptr || ref.heap != heap) return nullptr;
    return ReallocateIn(ref, size, (flags & HEAP_ZERO_MEMORY) != 0);
}

bool HeapFree(HeapHandle heap, void* block) {
    const BlockRef ref = FindBlock(block);
    if (ref.payload == nullptr || ref.heap != heap) return false;
    return FreeIn(ref);
}

// While the process has one thread, a run of the heap's live exact-size
// blocks is freed here with the checks FindBlock would make, until the first
// address that is not one (touched not at all); answers how many it freed.
// A list's nodes mostly come one page after another: a page's entry is
// checked when the run enters it, not for every block.
QOB_HEADER_ACCESS size_t FreeExactBlocksAlone(Arena& heap, void* const* blocks, size_t count) {
    uint32_t checkedPage = kPageCount;  // no page yet
    uint32_t freeSlots = heap.freeSlots[kExactClass];
    size_t i = 0;
    for (; i < count; ++i) {
        const uintptr_t address = Address(blocks[i]);
        if (address >= kLowMemoryLimit || address % kExactSize != 0 || (address & (kPageSize - 1)) < kExactFirstSlot)
            break;
        if (PageOf(address) != checkedPage) {
            const PageEntry& entry = gPageTable[PageOf(address)];
            if (entry.info.load(std::memory_order_relaxed) != (kSmallPage | static_cast<uint32_t>(kExactClass)) ||
                entry.heap.load(std::memory_order_relaxed) != &heap)
                break;
            checkedPage = PageOf(address);
        }
        const ExactBit bit = ExactBitOf(address);
        if (!(*bit.word & bit.mask)) break;
        *bit.word &= ~bit.mask;
        QOB_POISON(reinterpret_cast<void*>(address), kExactSize);
        WriteExactLink(address, freeSlots);
        freeSlots = static_cast<uint32_t>(address);
    }
    heap.freeSlots[kExactClass] = freeSlots;
    return i;
}

// A list of a million items is released node by node: one call for the lot,
// its checks inlined, instead of one per block.
__attribute__((flatten)) size_t HeapFreeRun(HeapHandle heap, void* const* blocks, size_t count) {
    size_t i = 0;
    if (__libc_single_threaded && heap != nullptr) {
        // A list's nodes, mostly: their releases are counted at once.
        i = FreeExactBlocksAlone(*heap, blocks, count);
        BlockReleaseCount.store(BlockReleaseCount.load(std::memory_order_relaxed) + i, std::memory_order_relaxed);
    }
    for (; i < count; ++i) {
        const BlockRef ref = FindBlock(blocks[i]);
        if (ref.payload == nullptr || ref.heap != heap || !FreeIn(ref)) return i;
    }
    return count;
}

void* AllocateBlock(size_t size) { return AllocateIn(ProcessHeap(), size, false); }

void* AllocateZeroedBlock(size_t size) { return AllocateIn(ProcessHeap(), size, true); }

void* ReallocateBlock(void* block, size_t size) {
    if (block == nullptr) return AllocateBlock(size);
    const BlockRef ref = FindBlock(block);
    if (ref.payload == nullptr) return nullptr;
    return ReallocateIn(ref, size, false);
}

bool ResizeBlockInPlace(void* block, size_t size) {
    const BlockRef ref = FindBlock(block);
    if (ref.payload == nullptr) return false;
    const size_t oldSize = SizeOf(ref);
    if (!FitsInPlace(ref, size, oldSize)) return false;
    ResizeInPlace(ref, size, oldSize, false);
    return true;
}

bool FreeBlock(void* block) {
    const BlockRef ref = FindBlock(block);
    if (ref.payload == nullptr) return false;
    return FreeIn(ref);
}

__attribute__((flatten)) HeapHandle FreeBlockOfAnyHeap(void* block) {
    const BlockRef ref = FindBlock(block);
    if (ref.payload == nullptr || !FreeIn(ref)) return nullptr;
    return ref.heap;
}

size_t GetBlockSize(const void* block) {
    const BlockRef ref = FindBlock(block);
    return ref.payload == nullptr ? 0 : SizeOf(ref);
}

bool IsLiveBlock(const void* block) { return FindBlock(block).payload != nullptr; }

namespace {

// The payload start of the live block whose slot or span holds address past
// its header, or 0. As in FindBlock, only the page table is read until the
// header's place is known to be memory we own.
QOB_HEADER_ACCESS uintptr_t FindContainingPayload(uintptr_t address) {
    if (address < kPageSize || address >= kLowMemoryLimit) return 0;
    const uint32_t page = PageOf(address);
    const uint32_t info = gPageTable[page].info.load(std::memory_order_acquire);
    const size_t offset = address & (kPageSize - 1);
    uintptr_t payload = 0;
    if (info & kSmallPage) {
        const uint32_t sizeClass = info & kPageInfoValue;
        if (sizeClass == kExactClass) {
            if (offset < kExactFirstSlot) return 0;
            const uintptr_t slot = address & ~uintptr_t{kExactSize - 1};
            return IsExactSlotLive(slot) ? slot : 0;
        }
        const size_t slot = kSlotSizes[sizeClass];
        const size_t slotIndex = (offset * kSlotReciprocals[sizeClass]) >> 32;
        if ((slotIndex + 1) * slot > kPageSize || offset < slotIndex * slot + kHeaderSize) return 0;
        payload = Address(PageStart(page)) + slotIndex * slot + kHeaderSize;
    } else if (info & kSpanPage) {
        payload = Address(PageStart(info & kPageInfoValue)) + kHeaderSize;
        if (address < payload) return 0;
    } else {
        return 0;
    }
    return HeaderAt(payload - kHeaderSize)->tag == kLiveTag ? payload : 0;
}

}  // namespace

void* GetContainingBlock(const void* address) {
    const uintptr_t payload = FindContainingPayload(Address(address));
    return payload ? FindBlock(reinterpret_cast<const void*>(payload)).payload : nullptr;
}

HeapHandle GetBlockHeap(const void* block) { return FindBlock(block).heap; }

namespace {

// Whether [start, end) lies wholly in writable mappings, from the kernel's
// own list of the process's mappings: 0 yes, 1 no, -1 the list is unreadable.
int CheckWritableMappings(uintptr_t start, uintptr_t end) {
    FILE* maps = std::fopen("/proc/self/maps", "r");
    if (maps == nullptr) return -1;
    // Mappings are listed in address order; walk them while they cover start.
    char* line = nullptr;
    size_t capacity = 0;
    int result = 1;
    while (getline(&line, &capacity, maps) > 0) {
        unsigned long low = 0, high = 0;
        char permissions[8] = {};
        if (std::sscanf(line, "%lx-%lx %7s", &low, &high, permissions) != 3) {
            result = -1;
            break;
        }
        if (high <= start) continue;
        if (low > start || permissions[1] != 'w') break;
        start = high;
        if (start >= end) {
            result = 0;
            break;
        }
    }
    std::free(line);
    std::fclose(maps);
    return result;
}

}  // namespace

int IsBadWritePtr(const void* address, size_t length) {
    if (length == 0) return 0;
    const uintptr_t start = Address(address);
    if (start == 0 || start + length < start) return 1;
    const uintptr_t end = start + length;
    // Pages of our own blocks are always writable: settle those without a file read.
    bool allOurs = end <= kLowMemoryLimit;
    for (uint32_t page = PageOf(start); allOurs && page <= PageOf(end - 1); ++page)
        allOurs = gPageTable[page].info.load(std::memory_order_acquire) != 0;
    if (allOurs) return 0;
    return CheckWritableMappings(start, end);
}

}  // namespace qob::platform
