// tests/runtime/memory/memory_blocks_test.cpp
// The memory-block registry: what a record holds, and the list order when
// blocks come and go.
#include "runtime/memory/memory_blocks.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/memory.h"
#include "runtime/data/hash.h"

namespace qob {
namespace {

const char* gApplication = nullptr;
const char* gRoutine = nullptr;

class MemoryBlocksTest : public ::testing::Test {
protected:
    void SetUp() override {
        gApplication = "DEMO.QOB";
        gRoutine = nullptr;
        SetMemoryBlockNameSources([] { return gApplication; }, [] { return gRoutine; });
    }
    void TearDown() override {
        while (MemoryBlockRecord* record = GetNewestMemoryBlock()) UnregisterMemoryBlock(record->block);
        SetMemoryBlockNameSources(nullptr, nullptr);
    }

    // The blocks of the list from the newest to the oldest, checking that
    // the links agree both ways.
    static std::vector<void*> Blocks() {
        std::vector<void*> blocks;
        const MemoryBlockRecord* newer = nullptr;
        for (MemoryBlockRecord* record = GetNewestMemoryBlock(); record != nullptr; record = record->older) {
            EXPECT_EQ(record->newer, newer);
            blocks.push_back(record->block);
            newer = record;
        }
        return blocks;
    }
};

TEST_F(MemoryBlocksTest, ARecordHoldsWhereTheBlockWasMade) {
    char source[] = "lib\\util.qob";
    gRoutine = "DRAWALL(2,0)";
    int block = 0;
    const MemoryBlockRecord* record = RegisterMemoryBlock(source, 42, &block, 16);
    EXPECT_EQ(record->sourceName, "lib\\util.qob");
    EXPECT_EQ(record->sourceHash, HashName(source, std::strlen(source)));
    ASSERT_TRUE(record->routineName.has_value());
    EXPECT_EQ(*record->routineName, "DRAWALL(2,0)");
    EXPECT_EQ(record->line, 42u);
    EXPECT_EQ(record->block, &block);
    EXPECT_EQ(record->size, 16u);
    EXPECT_EQ(GetNewestMemoryBlock(), record);

    // The record keeps copies: later changes to the caller's texts do not reach it.
    source[0] = 'X';
    gRoutine = "OTHER(0,0)";
    EXPECT_EQ(record->sourceName, "lib\\util.qob");
    EXPECT_EQ(*record->routineName, "DRAWALL(2,0)");
}

TEST_F(MemoryBlocksTest, MissingNamesComeFromTheApplicationOrStayEmpty) {
    int block = 0;
    const MemoryBlockRecord* record = RegisterMemoryBlock(nullptr, 0, &block, 4);
    EXPECT_EQ(record->sourceName, "DEMO.QOB");
    EXPECT_EQ(record->sourceHash, HashName("DEMO.QOB", 8));
    EXPECT_FALSE(record->routineName.has_value());

    gApplication = nullptr;
    record = RegisterMemoryBlock(nullptr, 0, &block, 4);
    EXPECT_EQ(record->sourceName, "");
    EXPECT_EQ(record->sourceHash, 0u);
}

TEST_F(MemoryBlocksTest, SizeZeroTakesTheBlocksOwnSize) {
    void* block = platform::AllocateBlock(123);
    EXPECT_EQ(RegisterMemoryBlock("a.qob", 1, block, 0)->size, 123u);
    EXPECT_EQ(RegisterMemoryBlock("a.qob", 1, block, 7)->size, 7u) << "a given size wins";
    int notABlock = 0;
    EXPECT_EQ(RegisterMemoryBlock("a.qob", 1, &notABlock, 0)->size, 0u);
    UnregisterMemoryBlock(block);
    UnregisterMemoryBlock(block);
    platform::FreeBlock(block);
}

TEST_F(MemoryBlocksTest, UnregisteringRemovesTheNewestRecordOfTheBlock) {
    int a = 0, b = 0, c = 0;
    MemoryBlockRecord* olderA = RegisterMemoryBlock("x.qob", 1, &a, 4);
    RegisterMemoryBlock("x.qob", 2, &b, 4);
    RegisterMemoryBlock("x.qob", 3, &a, 4);
    RegisterMemoryBlock("x.qob", 4, &c, 4);
    EXPECT_EQ(Blocks(), (std::vector<void*>{&c, &a, &b, &a}));

    UnregisterMemoryBlock(&a);
    EXPECT_EQ(Blocks(), (std::vector<void*>{&c, &b, &a}));
    EXPECT_EQ(GetNewestMemoryBlock()->older->older, olderA) << "the older record of a stays";

    int never = 0;
    UnregisterMemoryBlock(&never);
    UnregisterMemoryBlock(nullptr);
    EXPECT_EQ(Blocks(), (std::vector<void*>{&c, &b, &a})) << "unknown blocks change nothing";

    UnregisterMemoryBlock(&c);  // the newest
    UnregisterMemoryBlock(&a);  // the oldest
    EXPECT_EQ(Blocks(), std::vector<void*>{&b});
    UnregisterMemoryBlock(&b);
    EXPECT_EQ(GetNewestMemoryBlock(), nullptr);
}

}  // namespace
}  // namespace qob
