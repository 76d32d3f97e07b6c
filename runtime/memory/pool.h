// runtime/memory/pool.h
// Chained-block pools: the allocator of a program's instruction nodes and side
// records. Blocks are handed out front to back and freed whole.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qob {

// One block of a pool. Once its live count drops to zero its memory is freed
// and the descriptor stays in the chain with a null memory pointer.
struct PoolBlock {
    uint8_t* memory;      // size zeroed bytes handed out from the front; null once freed
    uint32_t used;        // bytes handed out
    uint32_t count;       // live allocations
    PoolBlock* previous;  // older block
    uint32_t size;        // the pool's block size, or kLargePoolBlock
    void* allocation;     // the allocator's block holding memory (it starts there but for large blocks)
};

struct PoolIndex;  // address -> block lookup, so PoolFree need not walk the chain

struct Pool {
    PoolBlock* current;   // block new allocations come from; null before the first
    uint32_t blockSize;   // bytes per block, and the largest allocation
    PoolIndex* index;
    // Blocks of the last frees: nodes are mostly freed in list order, each
    // with a side record that may have been made later, in another block.
    PoolBlock* recentlyFreedIn[2];
    uint64_t madeBytes;      // memory of every block made so far
    uint64_t expectedBytes;  // what ExpectPoolBytes last announced
};

// A pool that has made this much memory in blocks (or was told that a block
// more than that is coming) is building a large program: its next blocks are
// of kLargePoolBlock bytes (when that is more than its block size), start on
// a huge-page boundary and are advised for huge pages, so that filling them
// costs a fault per 2 MiB rather than one per 4 KiB page.
constexpr uint64_t kLargePoolAfter = uint64_t{512} << 10;
constexpr uint32_t kLargePoolBlock = uint32_t{8} << 20;

// PoolAlloc flags.
constexpr uint32_t kPoolZeroFill = 0x8;       // zero the allocation
constexpr uint32_t kPoolLengthHeader = 0x100; // keep the total in a header before it

// The total (rounded size plus header) of the last PoolAlloc request.
extern uint32_t LastPoolRequest;

[[nodiscard]] Pool* CreatePool(uint32_t blockSize);

// Sizes round up to 8 so addresses stay 8-aligned; with kPoolLengthHeader the
// header is 8 bytes and the 32-bit total sits in its last 4. Null when the
// total is larger than the block size.
[[nodiscard]] void* PoolAlloc(Pool* pool, uint32_t flags, uint32_t size);

// PoolAlloc(pool, kPoolZeroFill, size) for a size that is a multiple of 8
// and at most the block size, as node lists make by the hundred thousand:
// the common case inline, a new block through PoolAlloc.
[[nodiscard]] inline void* PoolAllocZeroed(Pool* pool, uint32_t size) {
    PoolBlock* block = pool->current;
    if (block && block->memory && block->size - block->used >= size) [[likely]] {
        LastPoolRequest = size;
        void* allocation = block->memory + block->used;
        block->used += size;
        block->count += 1;
        return allocation;
    }
    return PoolAlloc(pool, kPoolZeroFill, size);
}

// Gives one allocation back; a pointer that no block of the pool holds is
// ignored. The flags are accepted and not used.
void PoolFree(Pool* pool, void* pointer, uint32_t flags = 0);

// A zero-filled copy of the text with its terminator; null when it does not fit a block.
[[nodiscard]] char* PoolStrDup(Pool* pool, const char* text);

// Tells the pool that about this many bytes are coming: when that is more
// than kLargePoolAfter and a block, its next block is already a large one.
void ExpectPoolBytes(Pool* pool, uint64_t bytes);

// The largest block PreparePoolRoom makes.
constexpr uint64_t kLargestPoolRoom = uint64_t{256} << 20;

// Where the next allocations of a pool go: room bytes from start on.
struct PoolRoom {
    uint8_t* start = nullptr;
    size_t length = 0;
};

// Makes the next allocations come from one block with at least bytes of
// room (up to kLargestPoolRoom), a new one unless the current block has that
// room, and answers that room: its memory may be faulted in ahead of use.
// A new block for a large program is large as ExpectPoolBytes says, and
// sized to the room. Empty room when no block can be made.
[[nodiscard]] PoolRoom PreparePoolRoom(Pool* pool, uint64_t bytes);

// Frees every block and descriptor, then the pool.
void FreeNodeList(Pool* pool);

}  // namespace qob
