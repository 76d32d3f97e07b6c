// runtime/memory/pool.cpp
// Chained-block pools over the low-memory allocator (instruction nodes are
// addresses programs can see), with an address index for PoolFree.

#include "runtime/memory/pool.h"

#include <algorithm>
#include <cstring>
#include <map>

#include "platform/huge_pages.h"
#include "platform/memory.h"

namespace qob {

// Live blocks by the address of their memory.
struct PoolIndex {
    std::map<uintptr_t, PoolBlock*> blocks;
};

uint32_t LastPoolRequest = 0;

namespace {

constexpr uint32_t kPoolAlignment = 8;
constexpr uint32_t kPoolHeaderSize = 8;

bool BlockHolds(const PoolBlock* block, uintptr_t address) {
    if (!block || !block->memory) return false;
    const auto start = reinterpret_cast<uintptr_t>(block->memory);
    return address >= start && address < start + block->used;
}

PoolBlock* FindPoolBlock(Pool* pool, const void* pointer) {
    const auto address = reinterpret_cast<uintptr_t>(pointer);
    if (BlockHolds(pool->current, address)) return pool->current;
    for (PoolBlock* recent : pool->recentlyFreedIn)
        if (BlockHolds(recent, address)) return recent;
    auto& blocks = pool->index->blocks;
    auto it = blocks.upper_bound(address);
    if (it == blocks.begin()) return nullptr;
    --it;
    PoolBlock* block = it->second;
    if (address >= it->first + block->used) return nullptr;
    pool->recentlyFreedIn[1] = pool->recentlyFreedIn[0];
    pool->recentlyFreedIn[0] = block;
    return block;
}

// Out of line: the per-allocation path then saves no registers. A large
// block is taken a huge page longer than it needs, and starts on the first
// huge-page boundary inside: the bytes before it are never touched.
// A block asked to hold room bytes is at least that long.
[[gnu::noinline]] PoolBlock* AddPoolBlock(Pool* pool, uint64_t room = 0) {
    const bool largeProgram = pool->madeBytes >= kLargePoolAfter ||
                              std::max(pool->expectedBytes, room) >= kLargePoolAfter + pool->blockSize;
    const bool large = largeProgram && kLargePoolBlock > pool->blockSize;
    constexpr uint64_t kHugeMask = platform::kHugePageSize - 1;
    const uint64_t wanted = std::min((room + kHugeMask) & ~kHugeMask, kLargestPoolRoom);
    const uint32_t size = large ? static_cast<uint32_t>(std::max<uint64_t>(kLargePoolBlock, wanted)) : pool->blockSize;
    void* allocation = platform::AllocateZeroedBlock(large ? size + platform::kHugePageSize : size);
    if (!allocation) return nullptr;
    auto* memory = static_cast<uint8_t*>(allocation);
    if (large) {
        constexpr uintptr_t kMask = platform::kHugePageSize - 1;
        memory = reinterpret_cast<uint8_t*>((reinterpret_cast<uintptr_t>(allocation) + kMask) & ~kMask);
        platform::AdviseHugePages(memory, size);
    }
    pool->madeBytes += size;
    auto* block = new PoolBlock{memory, 0, 0, pool->current, size, allocation};
    pool->current = block;
    pool->index->blocks.emplace(reinterpret_cast<uintptr_t>(memory), block);
    return block;
}

}  // namespace

Pool* CreatePool(uint32_t blockSize) {
    return new Pool{nullptr, blockSize, new PoolIndex, {nullptr, nullptr}, 0, 0};
}

void* PoolAlloc(Pool* pool, uint32_t flags, uint32_t size) {
    const uint64_t rounded = (static_cast<uint64_t>(size) + kPoolAlignment - 1) & ~uint64_t{kPoolAlignment - 1};
    const uint64_t total = rounded + ((flags & kPoolLengthHeader) ? kPoolHeaderSize : 0);
    LastPoolRequest = static_cast<uint32_t>(total);
    if (total > pool->blockSize) return nullptr;
    PoolBlock* block = pool->current;
    if (!block || !block->memory || block->size - block->used < total) [[unlikely]] {
        block = AddPoolBlock(pool);
        if (!block) return nullptr;
    }
    uint8_t* allocation = block->memory + block->used;
    block->used += static_cast<uint32_t>(total);
    block->count += 1;
    // kPoolZeroFill asks for nothing more: a block is zeroed when it is made
    // and its bytes are handed out once, never again after a free.
    if (flags & kPoolLengthHeader) {
        const auto stored = static_cast<uint32_t>(total);
        std::memcpy(allocation + kPoolHeaderSize - sizeof stored, &stored, sizeof stored);
        return allocation + kPoolHeaderSize;
    }
    return allocation;
}

void PoolFree(Pool* pool, void* pointer, uint32_t /*flags*/) {
    if (!pool || !pointer) return;
    PoolBlock* block = FindPoolBlock(pool, pointer);
    if (!block || block->count == 0) return;
    if (--block->count > 0) return;
    pool->index->blocks.erase(reinterpret_cast<uintptr_t>(block->memory));
    platform::FreeBlock(block->allocation);
    block->memory = nullptr;
}

char* PoolStrDup(Pool* pool, const char* text) {
    const size_t length = std::strlen(text) + 1;
    if (length > pool->blockSize) return nullptr;
    auto* copy = static_cast<char*>(PoolAlloc(pool, kPoolZeroFill, static_cast<uint32_t>(length)));
    if (copy) std::memcpy(copy, text, length);
    return copy;
}

void ExpectPoolBytes(Pool* pool, uint64_t bytes) { pool->expectedBytes = bytes; }

PoolRoom PreparePoolRoom(Pool* pool, uint64_t bytes) {
    PoolBlock* block = pool->current;
    if (!block || !block->memory || block->size - block->used < bytes) block = AddPoolBlock(pool, bytes);
    if (!block) return {};
    return {block->memory + block->used, block->size - block->used};
}

void FreeNodeList(Pool* pool) {
    if (!pool) return;
    PoolBlock* block = pool->current;
    while (block) {
        PoolBlock* previous = block->previous;
        if (block->memory) platform::FreeBlock(block->allocation);
        delete block;
        block = previous;
    }
    delete pool->index;
    delete pool;
}

}  // namespace qob
