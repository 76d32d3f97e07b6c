// tests/native/asm_builtins_test.cpp
// AssembleText's block sizes and FreeAsmCode's care for texts that the
// value stack still points at.
#include "native/asm_builtins.h"

#include <gtest/gtest.h>

#include <cstring>

#include "compiler/compile_messages.h"
#include "native/asm_string_list.h"
#include "native/assembler.h"
#include "platform/memory.h"
#include "runtime/memory/allocation_tracking.h"
#include "runtime/values/values_fixture.h"
#include "runtime/vm/switches.h"
#include "runtime/vm/value_stack.h"

namespace qob {
namespace {

class AsmBuiltinsTest : public testing::ValuesTest {
protected:
    void SetUp() override {
        ValuesTest::SetUp();
        saved = Switches;
        ::testing::internal::CaptureStderr();  // the "ERROR" box of failed assemblies
    }
    void TearDown() override {
        boxes = ::testing::internal::GetCapturedStderr();
        Switches = saved;
        ValuesTest::TearDown();
    }
    RuntimeSwitches saved;
    std::string boxes;
};

TEST_F(AsmBuiltinsTest, DebugAndProfilingSizesAreComputedIn64BitsWithACap) {
    // 16 MiB times 16 times 16 is 2^32: in 32 bits it would be 0.
    Switches.debugMode = true;
    Switches.profiling = true;
    const uint32_t block = AssembleText(16 << 20, ":main mov r0, 1");
    EXPECT_NE(block, 0u) << GetCompileMessageState().compileErrors;
    EXPECT_TRUE(IsAsmBlock(block));
    FreeAsmCode(block);
    EXPECT_FALSE(IsAsmBlock(block));
}

TEST_F(AsmBuiltinsTest, ABlockSmallerThanTheEntrySequenceIsRefusedWithoutWriting) {
    for (int32_t size : {0, -4096, 40}) {
        EXPECT_EQ(AssembleText(size, ":main"), 0u) << size;
        EXPECT_NE(GetCompileMessageState().compileErrors.find("Buffer size too small!"), std::string::npos) << size;
    }
}

TEST_F(AsmBuiltinsTest, FreeingKeepsTheTextsTheValueStackStillPointsAt) {
    const uint32_t block = AssembleText(512, ":main mov r0, \"kept\" mov r1, \"dropped\"");
    ASSERT_NE(block, 0u);
    char* kept = FindAsmString(block, "kept");
    ASSERT_NE(kept, nullptr);
    PushValue(kept, 0, nullptr, 0);
    const int32_t tracked = CountTrackedAllocations(context);
    FreeAsmCode(block);
    EXPECT_EQ(CountAsmStrings(block), 0u);
    EXPECT_TRUE(platform::IsLiveBlock(kept));
    EXPECT_STREQ(kept, "kept");
    EXPECT_EQ(CountTrackedAllocations(context), tracked + 1);
    FreeAsmCode(block);  // no longer a block: nothing happens
    FreeAsmCode(12345);
}

}  // namespace
}  // namespace qob
