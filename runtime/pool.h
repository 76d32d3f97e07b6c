// runtime/pool.h
// Chained-block pools: the allocator of a program's instruction nodes and side
// records. Blocks are handed out front to back and freed whole.
#pragma once

#include <cstdint>

namespace qob {

// One block of a pool. Once its live count drops to zero its memory is freed
// and the descriptor stays in the chain with a null memory pointer.
struct PoolBlock {
    uint8_t* memory;      // zeroed block of the pool's block size; null once freed
    uint32_t used;        // bytes handed out
    uint32_t count;       // live allocations
    PoolBlock* previous;  // older block
};

struct PoolIndex;  // address -> block lookup, so PoolFree need not walk the chain

struct Pool {
    PoolBlock* current;   // block new allocations come from; null before the first
    uint32_t blockSize;   // bytes per block
    PoolIndex* index;
    // Blocks of the last frees: nodes are mostly freed in list order, each
    // with a side record that may have been made later, in another block.
    PoolBlock* recentlyFreedIn[2];
};

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

// Gives one allocation back; a pointer that no block of the pool holds is
// ignored. The flags are accepted and not used.
void PoolFree(Pool* pool, void* pointer, uint32_t flags = 0);

// A zero-filled copy of the text with its terminator; null when it does not fit a block.
[[nodiscard]] char* PoolStrDup(Pool* pool, const char* text);

// Frees every block and descriptor, then the pool.
void FreeNodeList(Pool* pool);

}  // namespace qob
