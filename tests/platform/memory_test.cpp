// tests/platform/memory_test.cpp
// The low-memory allocator: exact sizes, safe answers for unknown addresses,
// heaps freed as a whole, and use from several threads.
#include "platform/memory.h"

#include <gtest/gtest.h>
#include <sys/mman.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#endif

namespace qob::platform {
namespace {

uintptr_t Address(const void* p) { return reinterpret_cast<uintptr_t>(p); }

// Sizes around every boundary: the smallest slot, class steps, the largest
// slot (32768 with its 16-byte header) and whole 64 KiB pages of large blocks.
constexpr size_t kSizes[] = {0,     1,     7,     8,     15,     16,     17,     31,     63,     64,     65,     100,
                             240,   241,   1000,  4096,  32751,  32752,  32753,  65519,  65520,
                             65521, 65536, 70000, 196592, 196593, 1000000};

TEST(MemoryTest, BlocksHaveTheirExactSizeAndLieBelowTwoGigabytes) {
    for (size_t size : kSizes) {
        char* block = static_cast<char*>(AllocateBlock(size));
        ASSERT_NE(block, nullptr) << size;
        EXPECT_EQ(GetBlockSize(block), size);
        EXPECT_TRUE(IsLiveBlock(block)) << size;
        EXPECT_EQ(GetBlockHeap(block), GetProcessHeap()) << size;
        EXPECT_LT(Address(block) + size, kLowMemoryLimit) << size;
        EXPECT_EQ(Address(block) % kBlockAlignment, 0u) << size;
        std::memset(block, 0x5A, size);  // every byte is ours to write
        EXPECT_TRUE(FreeBlock(block)) << size;
        EXPECT_EQ(GetBlockSize(block), 0u) << size;
        EXPECT_FALSE(IsLiveBlock(block)) << size;
        EXPECT_FALSE(FreeBlock(block)) << "double free of " << size;
    }
}

TEST(MemoryTest, ZeroedBlocksReadZeroEvenWhenTheSlotWasUsedBefore) {
    for (size_t size : {size_t{24}, size_t{64}, size_t{3000}, size_t{100000}}) {
        void* dirty = AllocateBlock(size);
        std::memset(dirty, 0xFF, size);
        ASSERT_TRUE(FreeBlock(dirty));
        const auto* clean = static_cast<const unsigned char*>(AllocateZeroedBlock(size));
        ASSERT_NE(clean, nullptr);
        for (size_t i = 0; i < size; ++i) ASSERT_EQ(clean[i], 0) << size << " at " << i;
        FreeBlock(const_cast<unsigned char*>(clean));

        HeapHandle heap = HeapCreate();
        dirty = HeapAlloc(heap, 0, size);
        std::memset(dirty, 0xFF, size);
        HeapFree(heap, dirty);
        clean = static_cast<const unsigned char*>(HeapAlloc(heap, HEAP_ZERO_MEMORY, size));
        for (size_t i = 0; i < size; ++i) ASSERT_EQ(clean[i], 0) << size << " at " << i;
        HeapDestroy(heap);
    }
}

// Large blocks may be cut from the pages of a larger one freed before:
// each still reads zero when asked, has its exact size, overlaps no other,
// and the freed block's address stays dead unless a new block starts there.
TEST(MemoryTest, LargeBlocksCutFromAFreedLargerOneAreWholeAndClean) {
    auto* big = static_cast<unsigned char*>(AllocateBlock(3u << 20));
    ASSERT_NE(big, nullptr);
    std::memset(big, 0xFF, 3u << 20);
    ASSERT_TRUE(FreeBlock(big));
    struct Piece {
        unsigned char* at;
        size_t size;
    };
    std::vector<Piece> pieces;
    for (size_t size : {size_t{600000}, size_t{70000}, size_t{600000}, size_t{1200000}, size_t{40000}}) {
        auto* block = static_cast<unsigned char*>(AllocateZeroedBlock(size));
        ASSERT_NE(block, nullptr) << size;
        EXPECT_EQ(GetBlockSize(block), size);
        for (size_t i = 0; i < size; i += 997) ASSERT_EQ(block[i], 0) << size << " at " << i;
        EXPECT_EQ(block[size - 1], 0) << size;
        std::memset(block, 0x11, size);
        pieces.push_back({block, size});
    }
    for (const Piece& a : pieces)
        for (const Piece& b : pieces) {
            const bool apart = a.at == b.at || a.at + a.size <= b.at || b.at + b.size <= a.at;
            EXPECT_TRUE(apart) << "blocks overlap";
        }
    const bool bigReborn = std::any_of(pieces.begin(), pieces.end(), [&](const Piece& p) { return p.at == big; });
    EXPECT_EQ(IsLiveBlock(big), bigReborn);
    for (const Piece& piece : pieces) EXPECT_TRUE(FreeBlock(piece.at));
}

TEST(MemoryTest, AddressesThatAreNotBlockStartsAnswerZero) {
    std::vector<char*> blocks;
    for (size_t size : kSizes) blocks.push_back(static_cast<char*>(AllocateBlock(size)));
    for (char* block : blocks) {
        const size_t size = GetBlockSize(block);
        for (size_t offset : {size_t{1}, size_t{8}, size_t{16}, size / 2, size - 1}) {
            if (offset == 0 || offset >= size) continue;
            EXPECT_EQ(GetBlockSize(block + offset), 0u) << "inside a block of " << size << " at " << offset;
            EXPECT_FALSE(FreeBlock(block + offset));
        }
        EXPECT_EQ(GetBlockSize(block - 16), 0u) << "the header of a block of " << size;
        EXPECT_EQ(GetBlockSize(block - 8), 0u) << size;
    }
    for (size_t i = 0; i < blocks.size(); ++i) EXPECT_EQ(GetBlockSize(blocks[i]), kSizes[i]) << "untouched";
    for (char* block : blocks) FreeBlock(block);

    int onStack = 0;
    static int inData = 0;
    void* fromMalloc = std::malloc(64);
    void* noAccess = mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_32BIT, -1, 0);
    ASSERT_NE(noAccess, MAP_FAILED);
    const void* others[] = {nullptr,
                            &onStack,
                            &inData,
                            fromMalloc,
                            noAccess,
                            static_cast<char*>(noAccess) + 16,
                            reinterpret_cast<void*>(0x10),
                            reinterpret_cast<void*>(0x10010),
                            reinterpret_cast<void*>(kLowMemoryLimit),
                            reinterpret_cast<void*>(kLowMemoryLimit + 16),
                            reinterpret_cast<void*>(~uintptr_t{0xF})};
    for (const void* other : others) {
        EXPECT_EQ(GetBlockSize(other), 0u) << other;
        EXPECT_FALSE(IsLiveBlock(other)) << other;
        EXPECT_EQ(GetBlockHeap(other), nullptr) << other;
    }
    EXPECT_FALSE(FreeBlock(fromMalloc));
    EXPECT_EQ(ReallocateBlock(fromMalloc, 10), nullptr);
    std::free(fromMalloc);
    munmap(noAccess, 4096);
}

// Every byte of a block, and the slack of its slot, leads back to the
// block's start; headers, freed blocks and foreign memory lead nowhere.
TEST(MemoryTest, TheBlockHoldingAnAddressIsFoundFromAnyOfItsBytes) {
    std::vector<char*> blocks;
    for (size_t size : kSizes) blocks.push_back(static_cast<char*>(AllocateBlock(size)));
    char* exact = static_cast<char*>(AllocateBlock(64));
    blocks.push_back(exact);
    for (char* block : blocks) {
        const size_t size = GetBlockSize(block);
        EXPECT_EQ(GetContainingBlock(block), block) << size;
        for (size_t offset : {size_t{1}, size / 2, size - 1}) {
            if (offset > 0 && offset < size) {
                EXPECT_EQ(GetContainingBlock(block + offset), block) << size << " at " << offset;
            }
        }
        if (size != 64) {
            EXPECT_EQ(GetContainingBlock(block - 8), nullptr) << "the header of a block of " << size;
        }
    }
    // The slack of a slot after the exact size still belongs to the block.
    char* small = static_cast<char*>(AllocateBlock(17));
    EXPECT_EQ(GetContainingBlock(small + 20), small);
    FreeBlock(small);
    char* freed = static_cast<char*>(AllocateBlock(100));
    ASSERT_TRUE(FreeBlock(freed));
    EXPECT_EQ(GetContainingBlock(freed + 10), nullptr);
    int onStack = 0;
    void* fromMalloc = std::malloc(64);
    for (const void* other : {static_cast<const void*>(&onStack), static_cast<const void*>(fromMalloc),
                              static_cast<const void*>(nullptr), reinterpret_cast<const void*>(0x10),
                              reinterpret_cast<const void*>(kLowMemoryLimit + 16)})
        EXPECT_EQ(GetContainingBlock(other), nullptr) << other;
    std::free(fromMalloc);
    for (char* block : blocks) FreeBlock(block);
}

TEST(MemoryTest, SlotsNeverHandedOutAnswerZero) {
    HeapHandle heap = HeapCreate();
    char* block = static_cast<char*>(HeapAlloc(heap, 0, 8));  // first slot of a fresh 32-byte page
    ASSERT_NE(block, nullptr);
    for (size_t slot = 1; slot < 8; ++slot) EXPECT_EQ(GetBlockSize(block + slot * 32), 0u) << slot;
    HeapDestroy(heap);
}

TEST(MemoryTest, DestroyingAHeapFreesAllItsBlocksAndOnlyThose) {
    HeapHandle heap = HeapCreate();
    ASSERT_NE(heap, nullptr);
    ASSERT_NE(heap, GetProcessHeap());
    std::vector<void*> inHeap;
    for (int round = 0; round < 50; ++round)
        for (size_t size : kSizes) {
            void* block = HeapAlloc(heap, 0, size);
            ASSERT_NE(block, nullptr);
            EXPECT_EQ(GetBlockHeap(block), heap);
            inHeap.push_back(block);
        }
    void* outside = AllocateBlock(40);
    EXPECT_FALSE(HeapFree(heap, outside)) << "a block of another heap";
    EXPECT_FALSE(HeapFree(GetProcessHeap(), inHeap[3])) << "a block of another heap";
    EXPECT_EQ(HeapReAlloc(GetProcessHeap(), 0, inHeap[3], 10), nullptr);
    EXPECT_EQ(GetBlockSize(inHeap[3]), kSizes[3]) << "refused calls leave the block alone";

    HeapDestroy(heap);
    for (void* block : inHeap) ASSERT_EQ(GetBlockSize(block), 0u) << block;
    EXPECT_EQ(GetBlockSize(outside), 40u);
    FreeBlock(outside);
}

// Blocks packed side by side in a fresh heap, for slot sizes small and large:
// every 16-byte step between and inside them is asked, and only the block
// starts answer a size.
TEST(MemoryTest, OnlyBlockStartsOfPackedSlotsAnswerASize) {
    for (size_t size : {size_t{0}, size_t{16}, size_t{40}, size_t{64}, size_t{100}, size_t{240}, size_t{241}, size_t{500},
                        size_t{1000}, size_t{3000}, size_t{5000}, size_t{10000}, size_t{20000}, size_t{32752}}) {
        HeapHandle heap = HeapCreate();
        std::vector<uintptr_t> starts{Address(HeapAlloc(heap, 0, size))};
        starts.push_back(Address(HeapAlloc(heap, 0, size)));
        const uintptr_t stride = starts[1] - starts[0];
        // Slots carry a header in front, but for blocks of 64, which fill theirs.
        if (size == 64)
            ASSERT_EQ(stride, size);
        else
            ASSERT_GT(stride, size) << size;
        // The run of evenly spaced blocks ends where a new page is taken.
        for (;;) {
            const uintptr_t next = Address(HeapAlloc(heap, 0, size));
            if (next != starts.back() + stride) break;
            starts.push_back(next);
        }
        for (uintptr_t at = starts.front() - 16; at < starts.back() + stride; at += 16) {
            const bool isStart = (at - starts.front()) % stride == 0;
            ASSERT_EQ(GetBlockSize(reinterpret_cast<void*>(at)), isStart ? size : 0u)
                << "blocks of " << size << ", " << (at - starts.front()) << " bytes past the first";
        }
        HeapDestroy(heap);
    }
}

// Slots are zeroed once, when their page comes to a heap: pages a destroyed
// heap filled with other bytes still give zeroed blocks of any size.
TEST(MemoryTest, ZeroedBlocksOnRecycledPagesReadZero) {
    HeapHandle first = HeapCreate();
    for (size_t size : {size_t{8}, size_t{64}, size_t{72}, size_t{700}, size_t{5000}})
        for (int i = 0; i < 400; ++i) std::memset(HeapAlloc(first, 0, size), 0xFF, size);
    HeapDestroy(first);

    HeapHandle second = HeapCreate();
    for (size_t size : {size_t{72}, size_t{64}, size_t{24}, size_t{5000}, size_t{300}})
        for (int i = 0; i < 400; ++i) {
            const auto* block = static_cast<const unsigned char*>(HeapAlloc(second, HEAP_ZERO_MEMORY, size));
            ASSERT_NE(block, nullptr);
            for (size_t byte = 0; byte < size; ++byte) ASSERT_EQ(block[byte], 0) << size << " at " << byte;
        }
    HeapDestroy(second);
}

// A destroyed heap's pages go to the next heap, which may cut them into
// another slot size: the old block starts must not read as live blocks.
TEST(MemoryTest, RecycledPagesShowNoOldBlocks) {
    HeapHandle first = HeapCreate();
    std::vector<char*> old;
    for (int i = 0; i < 6000; ++i) old.push_back(static_cast<char*>(HeapAlloc(first, 0, 8)));
    HeapDestroy(first);

    HeapHandle second = HeapCreate();
    std::vector<char*> fresh;
    for (int i = 0; i < 1000; ++i) fresh.push_back(static_cast<char*>(HeapAlloc(second, 0, 100)));
    size_t reused = 0;
    for (char* address : old) {
        const bool isFresh = std::find(fresh.begin(), fresh.end(), address) != fresh.end();
        reused += isFresh;
        EXPECT_EQ(GetBlockSize(address), isFresh ? 100u : 0u) << static_cast<void*>(address);
    }
    EXPECT_GT(reused, 0u) << "the second heap should have taken over pages of the first";
    HeapDestroy(second);
}

// Blocks of 64 bytes have pages of their own, with no header in front: the
// page's first 128 bytes are its own bookkeeping, never a block, and a block
// is live exactly from its allocation to its free, in either kind of page.
TEST(MemoryTest, SixtyFourByteBlocksHaveExactPages) {
    HeapHandle heap = HeapCreate();
    std::vector<char*> blocks;
    for (int i = 0; i < 1100; ++i) blocks.push_back(static_cast<char*>(HeapAlloc(heap, HEAP_ZERO_MEMORY, 64)));
    std::vector<char*> sorted = blocks;
    std::sort(sorted.begin(), sorted.end());
    for (size_t i = 1; i < sorted.size(); ++i) ASSERT_GE(sorted[i] - sorted[i - 1], 64) << "blocks overlap";
    for (char* block : blocks) {
        ASSERT_NE(block, nullptr);
        char* page = reinterpret_cast<char*>(Address(block) & ~uintptr_t{0xFFFF});
        ASSERT_GE(block - page, 128) << "a block over the page's bookkeeping";
        for (size_t offset : {size_t{0}, size_t{16}, size_t{64}, size_t{112}}) {
            EXPECT_EQ(GetBlockSize(page + offset), 0u) << offset;
            EXPECT_FALSE(FreeBlock(page + offset)) << offset;
        }
        EXPECT_EQ(GetBlockSize(block + 16), 0u);
        EXPECT_EQ(GetBlockSize(block + 48), 0u);
        EXPECT_EQ(GetBlockHeap(block), heap);
        for (int byte = 0; byte < 64; ++byte) ASSERT_EQ(block[byte], 0);
        std::memset(block, 0xFF, 64);
    }
    // Every other block freed: its neighbours stay, a second free is refused,
    // and the freed slots come back zeroed when asked.
    for (size_t i = 0; i < blocks.size(); i += 2) ASSERT_TRUE(HeapFree(heap, blocks[i]));
    for (size_t i = 0; i < blocks.size(); ++i) {
        EXPECT_EQ(GetBlockSize(blocks[i]), i % 2 ? 64u : 0u) << i;
        if (i % 2 == 0) {
            EXPECT_FALSE(HeapFree(heap, blocks[i])) << "a second free of " << i;
        }
    }
    for (size_t i = 0; i < blocks.size(); i += 2) {
        blocks[i] = static_cast<char*>(HeapAlloc(heap, HEAP_ZERO_MEMORY, 64));
        for (int byte = 0; byte < 64; ++byte) ASSERT_EQ(blocks[i][byte], 0) << i;
    }
    // Resizing moves a block between the two kinds of page, keeping its bytes.
    std::memset(blocks[1], 0x3C, 64);
    char* grown = static_cast<char*>(HeapReAlloc(heap, 0, blocks[1], 100));
    ASSERT_NE(grown, nullptr);
    EXPECT_EQ(GetBlockSize(grown), 100u);
    EXPECT_EQ(grown[63], 0x3C);
    char* back = static_cast<char*>(HeapReAlloc(heap, 0, grown, 64));
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(GetBlockSize(back), 64u);
    EXPECT_EQ(back[0], 0x3C);
    void* same = HeapReAlloc(heap, 0, blocks[3], 64);
    EXPECT_EQ(same, blocks[3]) << "a block of 64 resized to 64 stays";
    HeapDestroy(heap);
    for (char* block : blocks) EXPECT_EQ(GetBlockSize(block), 0u);
}

// The free that answers the heap it freed from, and frees nothing else.
TEST(MemoryTest, FreeOfAnyHeapAnswersTheBlocksHeap) {
    HeapHandle privateHeap = HeapCreate();
    ASSERT_NE(privateHeap, nullptr);
    void* processBlock = AllocateBlock(40);
    void* privateBlock = HeapAlloc(privateHeap, 0, 40);
    void* large = AllocateBlock(100000);
    char local[32];
    EXPECT_EQ(FreeBlockOfAnyHeap(static_cast<char*>(processBlock) + 16), nullptr) << "inside a block";
    EXPECT_EQ(FreeBlockOfAnyHeap(local), nullptr);
    EXPECT_EQ(FreeBlockOfAnyHeap(nullptr), nullptr);
    EXPECT_EQ(FreeBlockOfAnyHeap(processBlock), GetProcessHeap());
    EXPECT_EQ(FreeBlockOfAnyHeap(privateBlock), privateHeap);
    EXPECT_EQ(FreeBlockOfAnyHeap(large), GetProcessHeap());
    EXPECT_FALSE(IsLiveBlock(processBlock));
    EXPECT_FALSE(IsLiveBlock(privateBlock));
    EXPECT_EQ(FreeBlockOfAnyHeap(processBlock), nullptr) << "a second free";
    HeapDestroy(privateHeap);
}

// A run ends at the first address that is not a live block of the heap,
// leaving it and everything after it as they were.
TEST(MemoryTest, FreeRunStopsAtTheFirstBlockItMayNotFree) {
    HeapHandle heap = HeapCreate();
    HeapHandle other = HeapCreate();
    ASSERT_NE(heap, nullptr);
    ASSERT_NE(other, nullptr);
    char local[32];
    void* freedBefore = HeapAlloc(heap, 0, 40);
    ASSERT_TRUE(HeapFree(heap, freedBefore));
    struct Stopper {
        const char* what;
        void* address;
    };
    const Stopper stoppers[] = {
        {"null", nullptr},
        {"another heap's block", HeapAlloc(other, 0, 40)},
        {"a stack address", local},
        {"a block freed before", freedBefore},
        {"an address inside a block", static_cast<char*>(HeapAlloc(heap, 0, 64)) + 16},
        {"another heap's block of 64", HeapAlloc(other, 0, 64)},
        {"a block of 64 freed before", nullptr},  // made in the loop: a later block could take its slot
        {"an address inside a block of 80", static_cast<char*>(HeapAlloc(heap, 0, 80)) + 64},
    };
    // Runs of mixed sizes, and runs of 64-byte blocks only, which go the
    // quickest way up to the stop.
    const std::vector<std::vector<size_t>> runs = {{1, 64, 64, 5000, 100000}, {64, 64, 64}};
    for (const auto& sizes : runs)
    for (const Stopper& stopper : stoppers) {
        SCOPED_TRACE(std::string(stopper.what) + (sizes.size() == 3 ? " after blocks of 64" : " after mixed blocks"));
        std::vector<void*> run;
        for (size_t size : sizes) run.push_back(HeapAlloc(heap, 0, size));
        void* after = HeapAlloc(heap, 0, 64);
        void* stop = stopper.address;
        if (&stopper == &stoppers[6]) {
            stop = HeapAlloc(heap, 0, 64);
            ASSERT_TRUE(HeapFree(heap, stop));
        }
        std::vector<void*> blocks = run;
        blocks.push_back(stop);
        blocks.push_back(after);
        EXPECT_EQ(HeapFreeRun(heap, blocks.data(), blocks.size()), run.size());
        for (void* block : run) EXPECT_FALSE(IsLiveBlock(block));
        EXPECT_EQ(GetBlockSize(after), 64u) << "a block after the stop stays";
        EXPECT_EQ(HeapFreeRun(heap, &after, 1), 1u);
        EXPECT_FALSE(IsLiveBlock(after));
    }
    EXPECT_EQ(GetBlockHeap(stoppers[1].address), other) << "another heap's block stays";
    EXPECT_EQ(GetBlockHeap(stoppers[5].address), other) << "another heap's block stays";
    EXPECT_EQ(HeapFreeRun(heap, nullptr, 0), 0u);
    HeapDestroy(other);
    HeapDestroy(heap);
}

// Blocks of 64 freed in runs over several pages, in an order that goes back
// and forth between them, all come back: each is free once, and the next
// blocks of 64 made take exactly those slots again.
TEST(MemoryTest, FreeRunsOfBlocksOf64OverManyPagesGiveEverySlotBack) {
    HeapHandle heap = HeapCreate();
    ASSERT_NE(heap, nullptr);
    constexpr size_t kBlocks = 5000;  // several pages' worth
    std::vector<void*> blocks;
    for (size_t i = 0; i < kBlocks; ++i) blocks.push_back(HeapAlloc(heap, 0, 64));
    std::vector<void*> order;
    for (size_t i = 0; i < kBlocks; i += 2) order.push_back(blocks[i]);
    for (size_t i = kBlocks; i-- > 0;)
        if (i % 2) order.push_back(blocks[i]);
    for (size_t at = 0; at < order.size(); at += 700) {
        const size_t count = std::min<size_t>(700, order.size() - at);
        EXPECT_EQ(HeapFreeRun(heap, order.data() + at, count), count);
    }
    for (void* block : blocks) EXPECT_FALSE(IsLiveBlock(block));
    EXPECT_EQ(HeapFreeRun(heap, order.data(), 1), 0u) << "a block freed already stops the run";
    std::vector<void*> again;
    for (size_t i = 0; i < kBlocks; ++i) again.push_back(HeapAlloc(heap, HEAP_ZERO_MEMORY, 64));
    std::sort(blocks.begin(), blocks.end());
    std::sort(again.begin(), again.end());
    EXPECT_EQ(again, blocks);
    for (void* block : again) {
        ASSERT_EQ(GetBlockSize(block), 64u);
        const auto* bytes = static_cast<const unsigned char*>(block);
        EXPECT_TRUE(std::all_of(bytes, bytes + 64, [](unsigned char b) { return b == 0; }));
    }
    HeapDestroy(heap);
}

TEST(MemoryTest, ReallocationKeepsContentAndExactSize) {
    struct Case {
        size_t from, to;
    };
    constexpr Case kCases[] = {{10, 12},      {12, 10},       {10, 1000},   {1000, 10},    {100, 0},
                               {0, 100},      {30000, 40000}, {40000, 30000}, {70000, 70010}, {70000, 200000},
                               {200000, 70000}, {65520, 65521}};
    for (const Case& c : kCases) {
        auto* block = static_cast<unsigned char*>(AllocateBlock(c.from));
        for (size_t i = 0; i < c.from; ++i) block[i] = static_cast<unsigned char>(i * 7);
        auto* moved = static_cast<unsigned char*>(ReallocateBlock(block, c.to));
        ASSERT_NE(moved, nullptr) << c.from << "->" << c.to;
        EXPECT_EQ(GetBlockSize(moved), c.to) << c.from << "->" << c.to;
        for (size_t i = 0; i < std::min(c.from, c.to); ++i)
            ASSERT_EQ(moved[i], static_cast<unsigned char>(i * 7)) << c.from << "->" << c.to << " at " << i;
        if (moved != block) {
            EXPECT_EQ(GetBlockSize(block), 0u) << "the old block is gone";
        }
        std::memset(moved, 1, c.to);
        FreeBlock(moved);
    }
    void* fresh = ReallocateBlock(nullptr, 33);
    EXPECT_EQ(GetBlockSize(fresh), 33u);
    FreeBlock(fresh);
}

// A resize in place keeps the address and the content and records the exact
// new size; one that would need another slot class or more pages is refused
// with the block untouched.
TEST(MemoryTest, ResizeInPlaceKeepsTheBlockOrRefuses) {
    struct Case {
        size_t from, to;
        bool fits;
    };
    constexpr Case kCases[] = {{10, 12, true},          {12, 10, true},           {10, 1000, false},
                               {100, 101, true},        {64, 64, true},           {64, 65, false},
                               {65, 64, false},         {70000, 70010, true},     {70000, 131056, true},
                               {70000, 131057, false},  {131056, 65521, true},    {131056, 65519, false},
                               {32752, 32753, false},   {200000, kMaxBlockSize + 1, false}};
    for (const Case& c : kCases) {
        auto* block = static_cast<unsigned char*>(AllocateBlock(c.from));
        ASSERT_NE(block, nullptr);
        for (size_t i = 0; i < c.from; ++i) block[i] = static_cast<unsigned char>(i * 7);
        const uint64_t before = CountBlockReleases();
        EXPECT_EQ(ResizeBlockInPlace(block, c.to), c.fits) << c.from << "->" << c.to;
        EXPECT_EQ(CountBlockReleases() != before, c.fits) << c.from << "->" << c.to;
        const size_t size = c.fits ? c.to : c.from;
        EXPECT_EQ(GetBlockSize(block), size) << c.from << "->" << c.to;
        for (size_t i = 0; i < std::min(c.from, size); ++i)
            ASSERT_EQ(block[i], static_cast<unsigned char>(i * 7)) << c.from << "->" << c.to << " at " << i;
        std::memset(block, 1, size);
        EXPECT_TRUE(FreeBlock(block));
    }
    void* freed = AllocateBlock(100);
    ASSERT_TRUE(FreeBlock(freed));
    int local = 0;
    for (void* address : {freed, static_cast<void*>(&local), static_cast<void*>(nullptr)})
        EXPECT_FALSE(ResizeBlockInPlace(address, 50)) << address;
    HeapHandle heap = HeapCreate();
    void* inHeap = HeapAlloc(heap, 0, 300);
    EXPECT_TRUE(ResizeBlockInPlace(inHeap, 304)) << "a block of a private heap";
    EXPECT_EQ(GetBlockSize(inHeap), 304u);
    EXPECT_EQ(GetBlockHeap(inHeap), heap);
    HeapDestroy(heap);
}

TEST(MemoryTest, ZeroingReallocationClearsTheGainedBytes) {
    HeapHandle heap = HeapCreate();
    for (size_t large : {size_t{110}, size_t{70000}}) {
        // Shrink within the same slot, then grow again: the bytes in between
        // once held data and must come back as zero.
        auto* block = static_cast<unsigned char*>(HeapAlloc(heap, 0, large));
        std::memset(block, 0xAA, large);
        block = static_cast<unsigned char*>(HeapReAlloc(heap, 0, block, large - 10));
        block = static_cast<unsigned char*>(HeapReAlloc(heap, HEAP_ZERO_MEMORY, block, large));
        ASSERT_NE(block, nullptr);
        for (size_t i = 0; i < large - 10; ++i) ASSERT_EQ(block[i], 0xAA) << i;
        for (size_t i = large - 10; i < large; ++i) ASSERT_EQ(block[i], 0) << i;
        block = static_cast<unsigned char*>(HeapReAlloc(heap, HEAP_ZERO_MEMORY, block, 5 * large));
        for (size_t i = large; i < 5 * large; ++i) ASSERT_EQ(block[i], 0) << i;
    }
    HeapDestroy(heap);
}

TEST(MemoryTest, ReallocationKeepsABlockInItsHeap) {
    HeapHandle heap = HeapCreate();
    void* block = HeapAlloc(heap, 0, 20);
    block = ReallocateBlock(block, 5000);
    EXPECT_EQ(GetBlockHeap(block), heap);
    block = ReallocateBlock(block, 100000);
    EXPECT_EQ(GetBlockHeap(block), heap);
    EXPECT_TRUE(FreeBlock(block)) << "FreeBlock takes blocks of any heap";
    HeapDestroy(heap);
}

TEST(MemoryTest, OversizedRequestsAnswerNull) {
    EXPECT_EQ(AllocateBlock(kMaxBlockSize + 1), nullptr);
    EXPECT_EQ(AllocateBlock(SIZE_MAX), nullptr);
    EXPECT_EQ(AllocateBlock(SIZE_MAX - 8), nullptr);
    void* block = AllocateBlock(10);
    EXPECT_EQ(ReallocateBlock(block, SIZE_MAX), nullptr);
    EXPECT_EQ(GetBlockSize(block), 10u) << "a failed reallocation keeps the block";
    FreeBlock(block);
    EXPECT_EQ(HeapAlloc(nullptr, 0, 10), nullptr);
}

TEST(MemoryTest, ManySmallBlocksSpreadOverManyPages) {
    std::vector<void*> blocks;
    for (int i = 0; i < 200000; ++i) {
        void* block = AllocateBlock(24);
        ASSERT_NE(block, nullptr);
        ASSERT_LT(Address(block), kLowMemoryLimit);
        blocks.push_back(block);
    }
    for (void* block : blocks) ASSERT_EQ(GetBlockSize(block), 24u);
    for (void* block : blocks) ASSERT_TRUE(FreeBlock(block));
}

// Each thread keeps its own blocks stamped with its number and checks them;
// half of the blocks are handed to the next thread, which frees them.
TEST(MemoryTest, ThreadsShareHeapsSafely) {
    constexpr int kThreads = 4;
    constexpr int kRounds = 20000;
    HeapHandle shared = HeapCreate();
    std::vector<std::vector<void*>> handedOver(kThreads);
    std::vector<std::thread> threads;
    std::vector<int> failures(kThreads, 0);
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, shared, &handedOver, &failures] {
            std::mt19937 random(t);
            std::vector<unsigned char*> mine;
            for (int round = 0; round < kRounds; ++round) {
                const size_t size = random() % 3 == 0 ? random() % 40000 : random() % 300;
                const bool inShared = random() % 2 == 0;
                auto* block = static_cast<unsigned char*>(inShared ? HeapAlloc(shared, 0, size) : AllocateBlock(size));
                if (block == nullptr) {
                    ++failures[t];
                    continue;
                }
                std::memset(block, t + 1, size);
                mine.push_back(block);
                if (mine.size() > 64) {
                    unsigned char* old = mine[random() % mine.size()];
                    std::erase(mine, old);
                    const size_t oldSize = GetBlockSize(old);
                    for (size_t i = 0; i < oldSize; ++i)
                        if (old[i] != t + 1) ++failures[t];
                    if (!FreeBlock(old)) ++failures[t];
                }
            }
            handedOver[(t + 1) % kThreads].assign(mine.begin(), mine.end());
        });
    }
    for (auto& thread : threads) thread.join();
    threads.clear();
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &handedOver, &failures] {
            for (void* block : handedOver[t])
                if (!FreeBlock(block)) ++failures[t];
        });
    }
    for (auto& thread : threads) thread.join();
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(failures[t], 0) << "thread " << t;
    HeapDestroy(shared);
}

TEST(MemoryTest, WriteTestNeverWrites) {
    void* block = AllocateBlock(100);
    int onStack = 0;
    static int inData = 0;
    static const char kReadOnly[] = "read only";
    char* pages = static_cast<char*>(mmap(nullptr, 3 * 4096, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(pages, MAP_FAILED);
    ASSERT_EQ(mprotect(pages + 4096, 4096, PROT_READ), 0);
    ASSERT_EQ(mprotect(pages + 2 * 4096, 4096, PROT_NONE), 0);
    struct Case {
        const void* address;
        size_t length;
        int expected;
    };
    const Case cases[] = {
        {block, 1, 0},
        {block, 100, 0},
        {&onStack, sizeof onStack, 0},
        {&inData, sizeof inData, 0},
        {pages, 4096, 0},
        {pages, 0, 0},  // nothing to write
        {kReadOnly, 1, 1},
        {nullptr, 1, 1},
        {pages + 4096, 1, 1},          // read only
        {pages + 2 * 4096, 1, 1},      // no access
        {pages + 4095, 2, 1},          // runs from writable into read only
        {reinterpret_cast<void*>(~uintptr_t{0} - 4), 16, 1},  // wraps around
    };
    for (const Case& c : cases) EXPECT_EQ(IsBadWritePtr(c.address, c.length), c.expected) << c.address << " " << c.length;
    EXPECT_EQ(kReadOnly[0], 'r');
    munmap(pages, 3 * 4096);
    FreeBlock(block);
}

#if defined(__SANITIZE_ADDRESS__)
TEST(MemoryTest, SanitizerSeesFreedBlocksAndBlockEnds) {
    char* block = static_cast<char*>(AllocateBlock(20));
    EXPECT_FALSE(__asan_address_is_poisoned(block + 19));
    EXPECT_TRUE(__asan_address_is_poisoned(block + 20)) << "past the exact size";
    EXPECT_TRUE(__asan_address_is_poisoned(block - 1)) << "the header";
    FreeBlock(block);
    EXPECT_TRUE(__asan_address_is_poisoned(block)) << "a freed block";
}
#endif

// Whatever ends a block or changes its size moves the release count, and
// nothing else does: a size read while the count stands still holds.
TEST(MemoryTest, ReleaseCountMovesWhenABlockEndsOrChangesSize) {
    void* kept = AllocateBlock(400);
    ASSERT_NE(kept, nullptr);
    HeapHandle heap = HeapCreate();
    ASSERT_NE(heap, nullptr);
    void* inHeap = HeapAlloc(heap, 0, 64);
    ASSERT_NE(inHeap, nullptr);
    struct Step {
        const char* what;
        std::function<void()> run;
        bool moves;
    };
    void* freed = nullptr;
    const Step kSteps[] = {
        {"allocate", [&] { freed = AllocateBlock(100); }, false},
        {"size asked", [&] { EXPECT_EQ(GetBlockSize(kept), 400u); }, false},
        {"free", [&] { EXPECT_TRUE(FreeBlock(freed)); }, true},
        {"free of no block", [&] { EXPECT_FALSE(FreeBlock(freed)); }, false},
        {"resize in place", [&] { EXPECT_EQ(ReallocateBlock(kept, 390), kept); }, true},
        {"move", [&] { kept = ReallocateBlock(kept, 5000); }, true},
        {"heap destroyed", [&] { HeapDestroy(heap); }, true},
    };
    for (const Step& step : kSteps) {
        const uint64_t before = CountBlockReleases();
        step.run();
        EXPECT_EQ(CountBlockReleases() != before, step.moves) << step.what;
    }
    EXPECT_TRUE(FreeBlock(kept));
}

}  // namespace
}  // namespace qob::platform
