// tests/native/arm_oracle_test.cpp
// The encoder and the emulator wiring checked apart: the same statements,
// once as our assembler's block and once as GNU as's fragment, run on the
// emulated CPU and must leave the same memory.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "arm_runner_support.h"
#include "asm_test_support.h"
#include "gnu_as_support.h"
#include "native/arm_cpu.h"

namespace qob::testing {
namespace {

struct OracleCase {
    const char* name;
    const char* ours;  // after ":main mov r2, <data>"
    const char* gnu;   // r2 holds the data address; ends by returning
};

const OracleCase kCases[] = {
    {"add an immediate", "mov r0, 7 add r0, 5 mov [r2], r0", "mov r0, #7\nadd r0, r0, #5\nstr r0, [r2]"},
    {"a pool constant", "mov r0, 305419896 mov [r2 + 4], r0", "ldr r0, =0x12345678\nstr r0, [r2, #4]"},
    {"sub and mul", "mov r0, 100 sub r0, 1 mov r1, 3 mul r0, r1 mov [r2 + 8], r0",
     "mov r0, #100\nsub r0, r0, #1\nmov r1, #3\nmul r3, r0, r1\nstr r3, [r2, #8]"},
    {"sized stores", "mov r0, 0x1234 mov WORD [r2 + 12], r0 mov r0, 0xAB mov BYTE [r2 + 14], r0",
     "ldr r0, =0x1234\nstrh r0, [r2, #12]\nmov r0, #0xAB\nstrb r0, [r2, #14]"},
    {"sized loads", "mov r0, BYTE [r2 + 1] mov r1, WORD [r2 + 2] add r0, r1 mov [r2 + 4], r0",
     "ldrb r0, [r2, #1]\nldrh r1, [r2, #2]\nadd r0, r0, r1\nstr r0, [r2, #4]"},
    {"a counted loop", "mov r0, 0 mov r1, 10 :again add r0, r1 sub r1, 1 cmp r1, 0 jne again mov [r2], r0",
     "mov r0, #0\nmov r1, #10\n1: add r0, r0, r1\nsub r1, r1, #1\ncmp r1, #0\nbne 1b\nstr r0, [r2]"},
    {"bitwise", "mov r0, 0xF0F0 and r0, 0xFF0 or r0, 1 xor r0, 0xFFFF0000 mov [r2 + 8], r0",
     "ldr r0, =0xF0F0\nldr r1, =0xFF0\nand r0, r0, r1\norr r0, r0, #1\nldr r1, =0xFFFF0000\neor r0, r0, r1\nstr r0, [r2, #8]"},
    {"negative displacement and neg", "mov r1, r2 add r1, 8 mov r0, [r1 - 8] neg r0 mov [r1 - 4], r0",
     "add r1, r2, #8\nldr r0, [r1, #-8]\nmvn r0, r0\nstr r0, [r1, #-4]"},
    {"push and pop", "mov r0, 11 push r0 mov r0, 22 pop r1 add r0, r1 mov [r2 + 12], r0",
     "mov r0, #11\nstmfd sp!, {r0}\nmov r0, #22\nldmfd sp!, {r1}\nadd r0, r0, r1\nstr r0, [r2, #12]"},
};

constexpr uint32_t kDataBytes = 16;

void Fill(DataBuffer& data) {
    for (uint32_t i = 0; i < kDataBytes / 4; ++i) data.set(i, 0x11223344u * (i + 1));
}

class ArmOracle : public AsmTest {};

TEST_F(ArmOracle, OurBlocksAndGnuFragmentsLeaveTheSameMemory) {
    if (const std::string why = GnuAsUnavailableReason(); !why.empty()) GTEST_SKIP() << why;
    for (const OracleCase& c : kCases) {
        DataBuffer data(kDataBytes);
        Fill(data);
        char source[512];
        std::snprintf(source, sizeof source, ":main mov r2, %u %s", data.base(), c.ours);
        const Assembled ours = Assemble(source, 1024);
        ASSERT_EQ(ours.errors, "") << c.name;
        MarkArmCodeBlock(ours.result.base, 4096);
        const ArmOutcome ourRun = RunArmCode(ours.result.base, {0, 0, 0, 0});
        UnmarkArmCodeBlock(ours.result.base);
        ASSERT_EQ(ourRun.stop, ArmStop::Returned) << c.name;
        const std::vector<uint8_t> ourMemory = data.bytes();

        std::string errors;
        const auto words = AssembleWithGnuAs(std::string(c.gnu) + "\nmov pc, lr\n.ltorg", &errors);
        ASSERT_TRUE(words.has_value()) << c.name << ": " << errors;
        Fill(data);
        CodeBuffer fragment(*words);
        ASSERT_EQ(RunArmCode(fragment.base(), {0, 0, data.base(), 0}).stop, ArmStop::Returned) << c.name;
        EXPECT_EQ(data.bytes(), ourMemory) << c.name;
    }
}

}  // namespace
}  // namespace qob::testing
