// tests/native/arm_cpu_test.cpp
// The emulated CPU: words placed in a low-memory block run and leave their
// results in memory; bad code comes back as a fault outcome; routines on the
// stub page, nested runs and runs on two threads.
#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

#include "arm_runner_support.h"
#include "native/arm_cpu.h"
#include "platform/memory.h"

namespace qob::testing {
namespace {

using platform::FaultKind;

TEST(ArmCpu, RunsWordsThatWriteMemory) {
    DataBuffer data(64);
    // mov r1, #42; str r1, [r0]; add r1, r1, r1; str r1, [r0, #4]; mov pc, lr
    CodeBuffer code({0xE3A0102Au, 0xE5801000u, 0xE0811001u, 0xE5801004u, 0xE1A0F00Eu});
    const ArmOutcome outcome = RunArmCode(code.base(), {data.base(), 0, 0, 0});
    EXPECT_EQ(outcome.stop, ArmStop::Returned);
    EXPECT_EQ(data.word(0), 42u);
    EXPECT_EQ(data.word(1), 84u);
}

struct FaultCase {
    const char* name;
    std::vector<uint32_t> words;  // r0 holds a data buffer, r1 an unmapped address
    FaultKind kind;
    uint32_t faultingWord;        // index of the faulting instruction
};

TEST(ArmCpu, BadCodeComesBackAsAFault) {
    SetArmExactFaultAddresses(true);
    const FaultCase cases[] = {
        {"load from unmapped memory", {0xE1A00000u, 0xE5912000u, 0xE1A0F00Eu}, FaultKind::AccessViolation, 1},
        {"store to unmapped memory", {0xE5812000u, 0xE1A0F00Eu}, FaultKind::AccessViolation, 0},
        {"undefined instruction", {0xE1A00000u, 0xE7F000F0u, 0xE1A0F00Eu}, FaultKind::IllegalInstruction, 1},
        {"store into the code block", {0xE1A0200Fu, 0xE5822000u, 0xE1A0F00Eu}, FaultKind::AccessViolation, 1},
    };
    for (const FaultCase& c : cases) {
        DataBuffer data(16);
        CodeBuffer code(c.words);
        const ArmOutcome outcome = RunArmCode(code.base(), {data.base(), kUnmappedAddress, 0, 0});
        EXPECT_EQ(outcome.stop, ArmStop::Fault) << c.name;
        EXPECT_EQ(outcome.fault, c.kind) << c.name;
        EXPECT_EQ(outcome.address, code.base() + 4 * c.faultingWord) << c.name;
    }
    SetArmExactFaultAddresses(false);
}

TEST(ArmCpu, AJumpIntoDataIsAnAccessViolation) {
    DataBuffer data(16);
    data.set(0, 0xE1A0F00Eu);  // a return word, but in data
    CodeBuffer code({0xE1A0F000u});  // mov pc, r0
    const ArmOutcome outcome = RunArmCode(code.base(), {data.base(), 0, 0, 0});
    EXPECT_EQ(outcome.stop, ArmStop::Fault);
    EXPECT_EQ(outcome.fault, FaultKind::AccessViolation);
    EXPECT_EQ(outcome.address, data.base());
}

TEST(ArmCpu, StackOverflowReachesTheGuardPage) {
    // loop: stmfd sp!, {r0-r3}; b loop
    CodeBuffer code({0xE92D000Fu, 0xEAFFFFFDu});
    const ArmOutcome outcome = RunArmCode(code.base(), {0, 0, 0, 0});
    EXPECT_EQ(outcome.stop, ArmStop::Fault);
    EXPECT_EQ(outcome.fault, FaultKind::AccessViolation);
}

TEST(ArmCpu, AReleasedRegionIsNoLongerMapped) {
    // Large enough that the allocator gives its pages back at once.
    void* block = platform::AllocateBlock(16u << 20);
    ASSERT_NE(block, nullptr);
    const auto address = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(block));
    CodeBuffer code({0xE5901000u, 0xE1A0F00Eu});  // ldr r1, [r0]; mov pc, lr
    EXPECT_EQ(RunArmCode(code.base(), {address, 0, 0, 0}).stop, ArmStop::Returned);
    platform::FreeBlock(block);
    const ArmOutcome outcome = RunArmCode(code.base(), {address, 0, 0, 0});
    EXPECT_EQ(outcome.stop, ArmStop::Fault);
    EXPECT_EQ(outcome.dataAddress, address);
}

TEST(ArmCpu, AnEndlessLoopStopsAtTheTimeLimit) {
    SetArmTimeLimit(50);
    CodeBuffer code({0xEAFFFFFEu});  // b .
    const ArmOutcome outcome = RunArmCode(code.base(), {0, 0, 0, 0});
    SetArmTimeLimit(0);
    EXPECT_EQ(outcome.stop, ArmStop::TimeLimit);
    EXPECT_EQ(outcome.fault, platform::FaultKind::TimeLimitExceeded);
    EXPECT_EQ(outcome.address, code.base());
}

TEST(ArmCpu, CodeWrittenAgainAtTheSameAddressRunsAnew) {
    DataBuffer data(16);
    CodeBuffer code({0xE3A01001u, 0xE5801000u, 0xE1A0F00Eu});  // mov r1, #1; str r1, [r0]; mov pc, lr
    ASSERT_EQ(RunArmCode(code.base(), {data.base(), 0, 0, 0}).stop, ArmStop::Returned);
    EXPECT_EQ(data.word(0), 1u);
    code.Rewrite({0xE3A01002u, 0xE5801000u, 0xE1A0F00Eu});
    ASSERT_EQ(RunArmCode(code.base(), {data.base(), 0, 0, 0}).stop, ArmStop::Returned);
    EXPECT_EQ(data.word(0), 2u);
}

// Routines: slot 0 adds r0 and r1; slot 1 runs the block in r0 again (one
// level deeper) unless r1 is 0; slot 2 stops the run with a divide fault.
uint32_t gNestedDepthSeen = 0;

void TestDispatcher(ArmCall& call) {
    switch (call.number) {
    case 0:
        call.result[0] = call.r[0] + call.r[1];
        call.setsR0 = true;
        break;
    case 1:
        gNestedDepthSeen = std::max<uint32_t>(gNestedDepthSeen, static_cast<uint32_t>(ArmRunDepth()));
        if (call.r[1] != 0) {
            const ArmOutcome inner = RunArmCode(call.r[0], {call.r[0], call.r[1] - 1, call.r[2], call.r[3]});
            call.result[0] = inner.stop == ArmStop::Returned ? 1 : 0;
            call.setsR0 = true;
        }
        break;
    case 2:
        StopArmRunWithFault(FaultKind::IntegerDivideByZero, call.callerAddress);
        break;
    }
}

class ArmRoutines : public ::testing::Test {
protected:
    void SetUp() override { SetArmRoutineDispatcher(TestDispatcher); }
    void TearDown() override { SetArmRoutineDispatcher(nullptr); }
};

TEST_F(ArmRoutines, ARoutineReadsArgumentsAndReturnsInR0) {
    DataBuffer data(16);
    // stmfd sp!, {r0, lr}; mov r0, #40; mov r1, #2; mov lr, pc; ldr pc, =slot0 (via r3); ldmfd sp!, {r2, lr};
    // str r0, [r2]; mov pc, lr
    CodeBuffer code({0xE92D4001u, 0xE3A00028u, 0xE3A01002u, 0xE1A0E00Fu, 0xE1A0F003u, 0xE8BD4004u, 0xE5820000u,
                     0xE1A0F00Eu});
    ASSERT_EQ(RunArmCode(code.base(), {data.base(), 0, 0, kArmStubBase}).stop, ArmStop::Returned);
    EXPECT_EQ(data.word(0), 42u);
}

TEST_F(ArmRoutines, ARoutineFaultNamesTheCallingInstruction) {
    // mov lr, pc; mov pc, r3 (slot 2); mov pc, lr
    CodeBuffer code({0xE1A0E00Fu, 0xE1A0F003u, 0xE1A0F00Eu});
    const ArmOutcome outcome = RunArmCode(code.base(), {0, 0, 0, kArmStubBase + 8});
    EXPECT_EQ(outcome.stop, ArmStop::Fault);
    EXPECT_EQ(outcome.fault, FaultKind::IntegerDivideByZero);
    EXPECT_EQ(outcome.address, code.base() + 4);
}

TEST_F(ArmRoutines, RunsNestThreeDeep) {
    // stmfd sp!, {r4, lr}; mov lr, pc; mov pc, r3 (slot 1); ldmfd sp!, {r4, pc}
    CodeBuffer code({0xE92D4010u, 0xE1A0E00Fu, 0xE1A0F003u, 0xE8BD8010u});
    gNestedDepthSeen = 0;
    // The block is its own r0; r1 counts the levels still to go.
    const uint32_t registers[4] = {code.base(), 2, 0, kArmStubBase + 4};
    const ArmOutcome outcome = RunArmCode(code.base(), {registers[0], registers[1], registers[2], registers[3]});
    EXPECT_EQ(outcome.stop, ArmStop::Returned);
    EXPECT_EQ(gNestedDepthSeen, 3u);
    EXPECT_EQ(ArmRunDepth(), 0);
}

TEST(ArmCpu, BlocksRunOnTwoThreads) {
    // r0 data; loop r1 times adding 1 to [r0]: ldr r2,[r0]; add r2,r2,#1; str r2,[r0]; subs r1,r1,#1; bne loop; mov pc,lr
    CodeBuffer code({0xE5902000u, 0xE2822001u, 0xE5802000u, 0xE2511001u, 0x1AFFFFFAu, 0xE1A0F00Eu});
    DataBuffer first(16), second(16);
    auto work = [&](uint32_t address) { (void)RunArmCode(code.base(), {address, 100000, 0, 0}); };
    std::thread a(work, first.base()), b(work, second.base());
    a.join();
    b.join();
    EXPECT_EQ(first.word(0), 100000u);
    EXPECT_EQ(second.word(0), 100000u);
}

}  // namespace
}  // namespace qob::testing
