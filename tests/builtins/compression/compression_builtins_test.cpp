// tests/builtins/compression/compression_builtins_test.cpp
// compress and uncompress held to their blocks, the programs' pools with
// their handles, the clipboard and quiet mode.

#include "builtins/compression/compression_builtins.h"

#include <cstring>
#include <random>
#include <string>

#include "builtins/operators/operator_fixture.h"
#include "platform/clipboard.h"
#include "platform/memory.h"
#include "runtime/registry/hooks.h"
#include "runtime/vm/switches.h"

namespace qob::testing {
namespace {

class CompressionBuiltinsTest : public OperatorTest {
protected:
    void TearDown() override {
        for (void* block : blocks) platform::FreeBlock(block);
        OperatorTest::TearDown();
    }

    // A block of the runtime's allocator holding the bytes, as a described address.
    std::string Block(const std::string& bytes) {
        void* block = platform::AllocateZeroedBlock(bytes.size());
        if (!bytes.empty()) std::memcpy(block, bytes.data(), bytes.size());
        blocks.push_back(block);
        return Address(block);
    }
    static std::string Address(const void* address) {
        return "n:" + std::to_string(reinterpret_cast<uintptr_t>(address));
    }
    static const char* At(const std::string& address) {
        return reinterpret_cast<const char*>(std::stoull(address.substr(2)));
    }

    std::string Run(void (*handler)(), const std::vector<std::string>& arguments) {
        for (const std::string& argument : arguments) Push(argument);
        handler();
        EXPECT_EQ(StackDepth(), 1);
        return PopDescription();
    }
    void RunNothing(void (*handler)(), const std::vector<std::string>& arguments) {
        for (const std::string& argument : arguments) Push(argument);
        handler();
        EXPECT_EQ(StackDepth(), 0);
    }

    std::vector<void*> blocks;
};

TEST_F(CompressionBuiltinsTest, EachMethodRoundTripsThroughAnExactDestination) {
    std::string input;
    for (int i = 0; i < 600; ++i) input += "abcabcabc"[i % 9] + static_cast<char>(i % 7 == 0 ? i % 5 : 0);
    input += std::string(200, 'z');
    for (const char* method : {"n:0", "n:1", "n:2"}) {
        const std::string source = Block(input);
        const std::string size = "n:" + std::to_string(input.size());
        const std::string roomy = Block(std::string(input.size() * 2 + 1024, '\0'));
        const std::string length = Run(Builtin_compress, {method, source, roomy, size});
        const size_t packed = std::stoul(length.substr(2));
        ASSERT_GT(packed, 0u) << method;
        const std::string exact = Block(std::string(packed, '\0'));
        EXPECT_EQ(Run(Builtin_compress, {method, source, exact, size}), length) << method;
        EXPECT_EQ(Run(Builtin_compress, {method, source, Block(std::string(packed - 1, '\0')), size}), "n:0") << method;
        const std::string output = Block(std::string(input.size(), '\0'));
        RunNothing(Builtin_uncompress, {method, exact, output, length});
        EXPECT_EQ(std::string(At(output), input.size()), input) << method;
    }
}

TEST_F(CompressionBuiltinsTest, UnknownMethodsAndUnknownRoomDoNothing) {
    const std::string source = Block("aaaaaaaaaaaaaaaa");
    const std::string destination = Block(std::string(64, '\0'));
    for (const char* method : {"n:3", "n:-1"}) {
        EXPECT_EQ(Run(Builtin_compress, {method, source, destination, "n:16"}), "n:0") << method;
        RunNothing(Builtin_uncompress, {method, source, destination, "n:16"});
    }
    EXPECT_EQ(std::string(At(destination), 64), std::string(64, '\0'));
    // An address inside a block has no known room: nothing is written.
    const std::string inside = Address(At(destination) + 8);
    EXPECT_EQ(Run(Builtin_compress, {"n:0", source, inside, "n:16"}), "n:0");
    // A size past the source's block reads the block only.
    EXPECT_EQ(Run(Builtin_compress, {"n:0", source, destination, "n:100000"}),
              Run(Builtin_compress, {"n:0", source, destination, "n:16"}));
}

TEST_F(CompressionBuiltinsTest, DamagedStreamsStayInsideTheDestination) {
    std::mt19937 random(1211);
    for (int round = 0; round < 300; ++round) {
        std::string stream(1 + random() % 64, '\0');
        for (char& c : stream) c = static_cast<char>(random());
        const std::string method = "n:" + std::to_string(round % 3);
        const std::string source = Block(stream);
        const std::string destination = Block(std::string(1 + random() % 32, '\0'));
        RunNothing(Builtin_uncompress, {method, source, destination, "n:" + std::to_string(stream.size())});
    }
}

TEST_F(CompressionBuiltinsTest, PoolsFollowTheirBlocks) {
    const std::string pool = Run(Builtin_mmcreate, {"n:16"});
    ASSERT_NE(pool, "n:0");
    const int32_t handle = static_cast<int32_t>(std::stoll(pool.substr(2)));
    EXPECT_EQ(CountPoolBlocksWithMemory(handle), 0);
    // 5 bytes take 8; two of 8 share a block of 16, a third opens another.
    const std::string a = Run(Builtin_mmalloc, {pool, "n:5"});
    const std::string b = Run(Builtin_mmalloc, {pool, "n:8"});
    EXPECT_EQ(std::stoull(b.substr(2)) - std::stoull(a.substr(2)), 8u);
    const std::string c = Run(Builtin_mmalloc, {pool, "n:8"});
    EXPECT_EQ(CountPoolBlocksWithMemory(handle), 2);
    // Above the block size, and below 0, nothing is given.
    EXPECT_EQ(Run(Builtin_mmalloc, {pool, "n:17"}), "n:0");
    EXPECT_EQ(Run(Builtin_mmalloc, {pool, "n:-8"}), "n:0");
    // Freeing both allocations of the first block releases it.
    RunNothing(Builtin_mmfree, {pool, a});
    EXPECT_EQ(CountPoolBlocksWithMemory(handle), 2);
    RunNothing(Builtin_mmfree, {pool, b});
    EXPECT_EQ(CountPoolBlocksWithMemory(handle), 1);
    // A second free of a released block's address finds no block.
    RunNothing(Builtin_mmfree, {pool, a});
    EXPECT_EQ(CountPoolBlocksWithMemory(handle), 1);
    RunNothing(Builtin_mmfree, {pool, c});
    EXPECT_EQ(CountPoolBlocksWithMemory(handle), 0);
    // The current block was released: the next allocation opens a fresh one,
    // and sizes round to 4, so 4 and 12 fill it exactly.
    const std::string d = Run(Builtin_mmalloc, {pool, "n:4"});
    EXPECT_NE(d, "n:0");
    EXPECT_EQ(Run(Builtin_mmalloc, {pool, "n:12"}), "n:" + std::to_string(std::stoull(d.substr(2)) + 4));
    EXPECT_EQ(CountPoolBlocksWithMemory(handle), 1);
    RunNothing(Builtin_mmdestroy, {pool});
    // A destroyed pool is no pool any more.
    RunNothing(Builtin_mmdestroy, {pool});
    EXPECT_EQ(Run(Builtin_mmalloc, {pool, "n:4"}), "n:0");
    RunNothing(Builtin_mmfree, {pool, d});
    EXPECT_EQ(CountPoolBlocksWithMemory(handle), -1);
    EXPECT_EQ(Run(Builtin_mmcreate, {"n:-1"}), "n:0");
}

TEST_F(CompressionBuiltinsTest, ClipboardHoldsACopyOfTheText) {
    platform::EmptyClipboard();
    EXPECT_EQ(Run(Builtin_getclip, {}), "n:0");
    RunNothing(Builtin_setclip, {"n:12"});
    EXPECT_EQ(Run(Builtin_getclip, {}), "t:12");
    // The text pushed is the program's own copy: a later setclip leaves it.
    Builtin_getclip();
    const char* held = context->stackTop->text;
    Push("t:caf\xc3\xa9");
    Builtin_setclip();
    EXPECT_EQ(StackDepth(), 1);
    EXPECT_STREQ(held, "12");
    PopDescription();
    EXPECT_EQ(Run(Builtin_getclip, {}), "t:caf\xc3\xa9");
    platform::EmptyClipboard();
}

bool gQuietSeen = false;

TEST_F(CompressionBuiltinsTest, QuietModeReachesTheCompileDriver) {
    Hooks.setQuietMode = [](bool quiet) { gQuietSeen = quiet; };
    RunNothing(Builtin_QuietMode, {"n:1"});
    EXPECT_TRUE(gQuietSeen);
    EXPECT_TRUE(Switches.quiet);
    RunNothing(Builtin_QuietMode, {"n:0.5"});
    EXPECT_FALSE(gQuietSeen);
    EXPECT_FALSE(Switches.quiet);
    ResetRuntimeHooks();
}

}  // namespace
}  // namespace qob::testing
