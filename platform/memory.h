// platform/memory.h
// The low-memory allocator: every block a program can see lives below 2 GiB,
// knows its exact size, and belongs to a heap that can be freed as a whole.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace qob::platform {

// Programs carry addresses in 32-bit fields and in doubles truncated to 32
// bits, so every block handed out here lies below this address.
constexpr uintptr_t kLowMemoryLimit = 0x80000000u;

// Payloads are 16-byte aligned, which covers doubles, pointers and 128-bit
// vector loads alike.
constexpr size_t kBlockAlignment = 16;

// The largest request served; anything above answers null.
constexpr size_t kMaxBlockSize = 0x40000000u;

// A heap: a set of blocks freed together by HeapDestroy. The process heap
// (GetProcessHeap) lives as long as the process.
struct Arena;
using HeapHandle = Arena*;

// Flag of HeapAlloc and HeapReAlloc: new bytes read as zero.
constexpr uint32_t HEAP_ZERO_MEMORY = 0x8;

// The heap behind AllocateBlock and friends; never destroyed.
HeapHandle GetProcessHeap();

// A new empty private heap, or null when no memory is left below 2 GiB.
[[nodiscard]] HeapHandle HeapCreate();

// Frees every block of the heap and the heap itself. Addresses of its blocks
// stop being blocks (GetBlockSize answers 0). The process heap is refused.
void HeapDestroy(HeapHandle heap);

// A block of exactly size bytes (0 is allowed) from the heap, or null.
[[nodiscard]] void* HeapAlloc(HeapHandle heap, uint32_t flags, size_t size);

// Resizes a block of that heap, keeping its first min(old, new) bytes; with
// HEAP_ZERO_MEMORY the bytes it gains read as zero. Returns the block's new
// address, or null (the old block stays valid) when the block is not a live
// block of that heap or no memory is left.
[[nodiscard]] void* HeapReAlloc(HeapHandle heap, uint32_t flags, void* block, size_t size);

// Frees a block of that heap. Returns false, touching nothing, for null or an
// address that is not a live block of that heap.
bool HeapFree(HeapHandle heap, void* block);

// Frees the blocks in order while each is a live block of that heap, and
// answers how many it freed: the first one that is not (null, another
// heap's, freed already) ends the run and is left as it is.
size_t HeapFreeRun(HeapHandle heap, void* const* blocks, size_t count);

// The C-heap family, served by the process heap. FreeBlock and
// ReallocateBlock also accept a block of any private heap (it stays there).
[[nodiscard]] void* AllocateBlock(size_t size);
[[nodiscard]] void* AllocateZeroedBlock(size_t size);
[[nodiscard]] void* ReallocateBlock(void* block, size_t size);  // null block: AllocateBlock
bool FreeBlock(void* block);  // false for null and for unknown addresses
// Resizes a live block of any heap without moving it, when the room its slot
// or span already has allows; its first min(old, new) bytes stay and its
// recorded size becomes exactly size. False, touching nothing, when the block
// would have to move or the address is not a live block.
[[nodiscard]] bool ResizeBlockInPlace(void* block, size_t size);
// Frees a live block of any heap and answers that heap; null, touching
// nothing, for null and for an address that is not a live block.
HeapHandle FreeBlockOfAnyHeap(void* block);

// The exact size asked for when the block was made, or 0 when the address is
// not the start of a live block (an address inside a block, a freed block, a
// stack or static address, anything). Never faults.
[[nodiscard]] size_t GetBlockSize(const void* block);

// True when the address is the start of a live block, including blocks of size 0.
[[nodiscard]] bool IsLiveBlock(const void* block);

// The start of the live block whose memory holds the address (its start, any
// byte inside it, or the slack after its exact size up to the next block),
// or null. Never faults.
[[nodiscard]] void* GetContainingBlock(const void* address);

// Counts every block released or resized in place and every heap destroyed.
// While it stands still, a live block keeps its address and its size: a
// caller that asked GetBlockSize may keep a non-zero answer that long.
extern std::atomic<uint64_t> BlockReleaseCount;
[[nodiscard]] inline uint64_t CountBlockReleases() { return BlockReleaseCount.load(std::memory_order_relaxed); }

// The address ranges the allocator has mapped, page-aligned and merged where
// they touch, for a mirror of low memory (the ARM emulator maps the same
// ranges at the same addresses). A range goes when its pages are unmapped,
// so an access there faults in the mirror as it would here.
struct LowRegion {
    uintptr_t start;
    uintptr_t end;  // exclusive
};
[[nodiscard]] std::vector<LowRegion> ListLowRegions();
// Counts every change of that list: while it stands still, a mirror that
// copied the list is up to date.
extern std::atomic<uint64_t> LowRegionChangeCount;
[[nodiscard]] inline uint64_t CountLowRegionChanges() { return LowRegionChangeCount.load(std::memory_order_acquire); }

// The heap a live block belongs to, or null.
[[nodiscard]] HeapHandle GetBlockHeap(const void* block);

// Whether length bytes at address can be written, found without writing:
// 0 when they all can, 1 when some cannot, -1 when the test itself failed.
[[nodiscard]] int IsBadWritePtr(const void* address, size_t length);

}  // namespace qob::platform
