// tests/runtime/memory/pool_test.cpp
// Chained-block pools: sizes, block turnover and frees.

#include "runtime/memory/pool.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/huge_pages.h"
#include "platform/memory.h"

namespace qob {
namespace {

TEST(Pool, RequestsRoundToEightAndFitOnlyWithinABlock) {
    Pool* pool = CreatePool(64);
    struct Case { uint32_t flags, size, total; bool fits; };
    constexpr Case kCases[] = {
        {0, 1, 8, true}, {0, 8, 8, true}, {0, 9, 16, true}, {kPoolLengthHeader, 4, 16, true},
        {0, 64, 64, true}, {0, 65, 72, false}, {kPoolLengthHeader, 57, 72, false},
    };
    for (const Case& c : kCases) {
        void* p = PoolAlloc(pool, c.flags, c.size);
        EXPECT_EQ(LastPoolRequest, c.total) << c.size;
        EXPECT_EQ(p != nullptr, c.fits) << c.size;
        if (p) {
            EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 8, 0u) << c.size;
        }
    }
    FreeNodeList(pool);
}

TEST(Pool, LengthHeaderHoldsTheTotal) {
    Pool* pool = CreatePool(256);
    auto* p = static_cast<uint8_t*>(PoolAlloc(pool, kPoolLengthHeader | kPoolZeroFill, 10));
    ASSERT_NE(p, nullptr);
    uint32_t stored = 0;
    std::memcpy(&stored, p - 4, sizeof stored);
    EXPECT_EQ(stored, 24u);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(p[i], 0);
    FreeNodeList(pool);
}

TEST(Pool, FullBlockSizeFitsOnlyAFreshBlock) {
    Pool* pool = CreatePool(64);
    void* small = PoolAlloc(pool, 0, 8);
    void* whole = PoolAlloc(pool, 0, 64);
    ASSERT_NE(whole, nullptr);
    EXPECT_NE(pool->current->previous, nullptr) << "a new block was opened";
    PoolFree(pool, small);
    FreeNodeList(pool);
}

TEST(Pool, FreeingTheLastAllocationReleasesTheBlockAndItIsNotReused) {
    Pool* pool = CreatePool(64);
    void* a = PoolAlloc(pool, 0, 16);
    void* b = PoolAlloc(pool, 0, 16);
    PoolBlock* block = pool->current;
    uint8_t* memory = block->memory;
    PoolFree(pool, a);
    EXPECT_EQ(block->memory, memory);
    PoolFree(pool, b);
    EXPECT_EQ(block->memory, nullptr);
    EXPECT_FALSE(platform::IsLiveBlock(memory));
    void* c = PoolAlloc(pool, 0, 16);
    ASSERT_NE(c, nullptr);
    EXPECT_NE(pool->current, block);
    EXPECT_EQ(pool->current->previous, block) << "the released descriptor stays in the chain";
    FreeNodeList(pool);
}

TEST(Pool, FreeOfForeignPointerIsIgnored) {
    Pool* pool = CreatePool(64);
    void* a = PoolAlloc(pool, 0, 16);
    int local = 0;
    PoolFree(pool, &local);
    PoolFree(pool, nullptr);
    EXPECT_EQ(pool->current->count, 1u);
    PoolFree(pool, a, 0x1234);  // flags are accepted and ignored
    EXPECT_EQ(pool->current->memory, nullptr);
    FreeNodeList(pool);
}

TEST(Pool, StrDupCopiesWithTerminatorOrFailsWhenTooLong) {
    Pool* pool = CreatePool(16);
    char* copy = PoolStrDup(pool, "hello");
    ASSERT_NE(copy, nullptr);
    EXPECT_STREQ(copy, "hello");
    EXPECT_EQ(PoolStrDup(pool, "this text is far too long"), nullptr);
    FreeNodeList(pool);
}

TEST(Pool, FreesAcrossManyBlocksFindTheirBlock) {
    Pool* pool = CreatePool(32);
    void* pointers[40];
    for (void*& p : pointers) p = PoolAlloc(pool, 0, 16);
    for (int i = 0; i < 40; i += 2) PoolFree(pool, pointers[i]);
    for (int i = 1; i < 40; i += 2) PoolFree(pool, pointers[i]);
    for (PoolBlock* block = pool->current; block; block = block->previous) {
        EXPECT_EQ(block->count, 0u);
        EXPECT_EQ(block->memory, nullptr);
    }
    FreeNodeList(pool);
}

TEST(Pool, ALargePoolTurnsToLargeBlocksOnHugePageBoundaries) {
    constexpr uint32_t kBlock = 64 * 1024;
    Pool* pool = CreatePool(kBlock);
    // Small blocks until the pool has made kLargePoolAfter bytes, then large ones.
    std::vector<void*> small;
    while (pool->madeBytes < kLargePoolAfter) small.push_back(PoolAlloc(pool, 0, kBlock));
    EXPECT_EQ(pool->current->size, kBlock);
    EXPECT_EQ(pool->current->allocation, pool->current->memory);
    void* first = PoolAlloc(pool, kPoolZeroFill, 16);
    void* second = PoolAlloc(pool, kPoolZeroFill, kBlock);
    PoolBlock* large = pool->current;
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(large->size, kLargePoolBlock);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(large->memory) % platform::kHugePageSize, 0u);
    EXPECT_EQ(first, large->memory) << "allocations start at the boundary";
    EXPECT_EQ(large->count, 2u);
    EXPECT_TRUE(platform::IsLiveBlock(large->allocation));
    // The whole large block is the pool's: an allocation fills its last byte.
    void* rest = PoolAlloc(pool, 0, kBlock);
    while (large->size - large->used >= kBlock) rest = PoolAlloc(pool, 0, kBlock);
    EXPECT_EQ(pool->current, large);
    static_cast<uint8_t*>(rest)[kBlock - 1] = 1;
    const uint32_t count = large->count;
    uint8_t* bytes = large->memory;
    for (uint32_t i = 0; i < count; ++i) PoolFree(pool, i == 0 ? first : bytes + 16 + (i - 1) * size_t{kBlock});
    void* allocation = large->allocation;
    EXPECT_EQ(large->memory, nullptr) << "freed whole once its last allocation goes";
    EXPECT_FALSE(platform::IsLiveBlock(allocation));
    for (void* p : small) PoolFree(pool, p);
    FreeNodeList(pool);
}

TEST(Pool, AnAnnouncedLargeProgramStartsWithALargeBlock) {
    constexpr uint32_t kBlock = 64 * 1024;
    struct Case { uint64_t expected; bool large; };
    constexpr Case kCases[] = {{0, false}, {kLargePoolAfter, false}, {kLargePoolAfter + kBlock, true}};
    for (const Case& c : kCases) {
        Pool* pool = CreatePool(kBlock);
        ExpectPoolBytes(pool, c.expected);
        void* first = PoolAlloc(pool, kPoolZeroFill, 16);
        ASSERT_NE(first, nullptr);
        EXPECT_EQ(pool->current->size, c.large ? kLargePoolBlock : kBlock) << c.expected;
        EXPECT_EQ(first, pool->current->memory) << c.expected;
        if (c.large) {
            EXPECT_EQ(reinterpret_cast<uintptr_t>(first) % platform::kHugePageSize, 0u);
        }
        FreeNodeList(pool);
    }
}

// Room prepared ahead is where the next allocations go: the current block
// when it has that room, else a new block that holds all of it (a large one,
// on a huge-page boundary, for a large program's room).
TEST(Pool, PreparedRoomIsWhereTheNextAllocationsGo) {
    constexpr uint32_t kBlock = 64 * 1024;
    struct Case { uint64_t room; bool newBlock; bool large; };
    constexpr Case kCases[] = {
        {64, false, false},                          // the first block has it
        {kBlock, true, false},                       // the first block's room is less by the allocation
        {uint64_t{kLargePoolBlock} + 1, true, true}, // more than a large block: one of the room's size
        {uint64_t{20} << 20, true, true},
    };
    for (const Case& c : kCases) {
        Pool* pool = CreatePool(kBlock);
        void* first = PoolAlloc(pool, kPoolZeroFill, 16);
        ASSERT_NE(first, nullptr);
        PoolBlock* before = pool->current;
        const PoolRoom room = PreparePoolRoom(pool, c.room);
        ASSERT_NE(room.start, nullptr) << c.room;
        EXPECT_GE(room.length, c.room) << c.room;
        EXPECT_EQ(pool->current != before, c.newBlock) << c.room;
        EXPECT_EQ(room.start + room.length, pool->current->memory + pool->current->size) << c.room;
        if (c.large) {
            EXPECT_EQ(reinterpret_cast<uintptr_t>(room.start) % platform::kHugePageSize, 0u) << c.room;
        }
        // The room is the pool's, zeroed, and handed out front to back.
        auto* next = static_cast<uint8_t*>(PoolAlloc(pool, kPoolZeroFill, 64));
        EXPECT_EQ(next, room.start) << c.room;
        room.start[room.length - 1] = 1;
        EXPECT_EQ(room.start[room.length - 2], 0) << c.room;
        FreeNodeList(pool);
    }
}

}  // namespace
}  // namespace qob
