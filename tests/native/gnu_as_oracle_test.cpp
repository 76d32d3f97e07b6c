// tests/native/gnu_as_oracle_test.cpp
// Every encoder path against GNU as: each source beside its GNU-syntax
// equivalent in position-free forms (branches relative to ".", pool loads
// as ldr rX, [r11, #offset]; the pool's first word is MAIN's address, so a
// statement's own constants start at offset 4, the last one first).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "asm_test_support.h"
#include "gnu_as_support.h"
#include "native/arm_words.h"
#include "native/asm_routines.h"
#include "native/asm_string_list.h"

namespace qob::testing {
namespace {

struct OracleCase {
    const char* source;  // after ":main" unless it starts with "!"
    const char* gnu;     // the words after the entry, without the final return
};

const OracleCase kCases[] = {
    // moves between registers, immediates, the pool
    {"mov sf, sp", "mov r12, sp"},
    {"mov r0, r0\nmov sp, r3", "mov r0, r0\nmov sp, r3"},
    {"mov r0, 255", "mov r0, #255"},
    {"mov r3, 4278190080", "mov r3, #0xFF000000"},
    {"mov r1, 305419896", "ldr r1, [r11, #4]"},
    {"mov r2, 0xFFFFFFFF", "ldr r2, [r11, #4]"},
    // loads and stores: word, byte, halfword; positive, negative, zero, largest
    {"mov r1, [r2 + 8]", "ldr r1, [r2, #8]"},
    {"mov r1, [r2 - 8]", "ldr r1, [r2, #-8]"},
    {"mov r1, [r2]", "ldr r1, [r2, #-0]"},
    {"mov r0, [sf + 4095]", "ldr r0, [r12, #4095]"},
    {"mov r0, [sp - 4]", "ldr r0, [sp, #-4]"},
    {"mov r3, byte [r0 + 1]", "ldrb r3, [r0, #1]"},
    {"mov r3, byte [r0 - 1]", "ldrb r3, [r0, #-1]"},
    {"mov r3, byte [r0]", "ldrb r3, [r0, #-0]"},
    {"mov r2, word [r1 + 0xAB]", "ldrh r2, [r1, #0xAB]"},
    {"mov r2, word [r1 - 6]", "ldrh r2, [r1, #-6]"},
    {"mov r2, word [r1]", "ldrh r2, [r1, #-0]"},
    {"mov r2, word [r1 + 255]", "ldrh r2, [r1, #255]"},
    {"mov [r1 + 12], r0", "str r0, [r1, #12]"},
    {"mov [r1 - 12], sf", "str r12, [r1, #-12]"},
    {"mov [r1], r0", "str r0, [r1, #-0]"},
    {"mov byte [r2 + 3], r1", "strb r1, [r2, #3]"},
    {"mov byte [r2 - 3], r1", "strb r1, [r2, #-3]"},
    {"mov word [r3 + 0x12], r0", "strh r0, [r3, #0x12]"},
    {"mov word [r3 - 2], r0", "strh r0, [r3, #-2]"},
    {"mov word [r3], r0", "strh r0, [r3, #-0]"},
    {"mov [r1 + 4], 5", "mov r9, #5\nstr r9, [r1, #4]"},
    {"mov word [r1 + 4], 305419896", "ldr r9, [r11, #4]\nstrh r9, [r1, #4]"},
    {"mov [r1], [r2 + 4]", "ldr r10, [r2, #4]\nstr r10, [r1, #-0]"},
    {"mov byte [r1 + 1], word [r2 + 2]", "ldrh r10, [r2, #2]\nstrb r10, [r1, #1]"},
    {"mov r0, [0x1000]", "mov r0, #0x1000\nldr r0, [r0, #-0]"},
    {"mov [0x2000 + 8], r1", "mov r9, #0x2000\nstr r1, [r9, #8]"},
    {"mov [0x2000], [0x3000]", "mov r10, #0x3000\nldr r10, [r10, #-0]\nmov r9, #0x2000\nstr r10, [r9, #-0]"},
    // locals and parameters
    {"var a, b\nmov r0, b\nmov a, r1", "sub sp, r12, #8\nldr r0, [r12, #-8]\nstr r1, [r12, #-4]"},
    {"var p\nmov r0, [p + 4]", "sub sp, r12, #4\nldr r10, [r12, #-4]\nldr r0, [r10, #4]"},
    {"var p, q\nmov [p], [q]", "sub sp, r12, #8\nldr r9, [r12, #-4]\nldr r10, [r12, #-8]\nldr r10, [r10, #-0]\nstr r10, [r9, #-0]"},
    {"var p\nmov [p], 7", "sub sp, r12, #4\nldr r9, [r12, #-4]\nmov r8, #7\nstr r8, [r9, #-0]"},
    {"!f(a, b)\nmov r0, a\nmov r1, b\nret\n:main",
     "stmfd sp!, {r12, lr}\nmov r12, sp\nldr r0, [r12, #12]\nldr r1, [r12, #8]\nmov sp, r12\nldmfd sp!, {r12, pc}"},
    // arithmetic: registers, immediates, pool, memory operands
    {"add r0, r1", "add r0, r0, r1"},
    {"sub sp, sf", "sub sp, sp, r12"},
    {"mul r2, r3", "mul r2, r2, r3"},
    {"and r1, r2", "and r1, r1, r2"},
    {"or r3, r0", "orr r3, r3, r0"},
    {"xor r0, r0", "eor r0, r0, r0"},
    {"cmp r1, r2", "cmp r1, r2"},
    {"swp r0, r1", "swp r0, r0, [r1]"},
    {"add r0, 4", "add r0, r0, #4"},
    {"sub r1, 0x3FC", "sub r1, r1, #0x3FC"},
    {"and r2, 0xFF00", "and r2, r2, #0xFF00"},
    {"or r3, 0x80000000", "orr r3, r3, #0x80000000"},
    {"xor r0, 1", "eor r0, r0, #1"},
    {"add r0, 0x12345", "ldr r8, [r11, #4]\nadd r0, r0, r8"},
    {"mul r1, 3", "ldr r8, [r11, #4]\nmul r1, r8, r1"},
    {"cmp r2, 3", "ldr r8, [r11, #4]\ncmp r2, r8"},
    {"add r0, [r1 + 4]", "ldr r10, [r1, #4]\nadd r0, r0, r10"},
    {"add [r1 + 4], r0", "ldr r9, [r1, #4]\nadd r9, r9, r0\nstr r9, [r1, #4]"},
    {"sub byte [r1 - 1], 3", "ldrb r9, [r1, #-1]\nsub r9, r9, #3\nstrb r9, [r1, #-1]"},
    {"xor [r1], 0x12345", "ldr r9, [r1, #-0]\nldr r8, [r11, #4]\neor r9, r9, r8\nstr r9, [r1, #-0]"},
    {"mul [r1], [r2]", "ldr r10, [r2, #-0]\nldr r9, [r1, #-0]\nmul r9, r9, r10\nstr r9, [r1, #-0]"},
    {"mul [r1], 9", "ldr r9, [r1, #-0]\nldr r8, [r11, #4]\nmul r9, r8, r9\nstr r9, [r1, #-0]"},
    {"cmp [r1 + 8], r2", "ldr r9, [r1, #8]\ncmp r9, r2"},
    {"cmp [r1], 1", "ldr r9, [r1, #-0]\nldr r8, [r11, #4]\ncmp r9, r8"},
    {"var p\nadd [p], 1", "sub sp, r12, #4\nldr r9, [r12, #-4]\nldr r8, [r9, #-0]\nadd r8, r8, #1\nstr r8, [r9, #-0]"},
    {"var p\nadd [p], 0x12345", "sub sp, r12, #4\nldr r9, [r12, #-4]\nldr r8, [r9, #-0]\nldr r10, [r11, #4]\nadd r8, r8, r10\nstr r8, [r9, #-0]"},
    // neg, push, pop
    {"neg r0", "mvn r0, r0"},
    {"neg r3", "mvn r3, r3"},
    {"neg sf", "mvn r12, r12"},
    {"neg [r2 + 4]", "ldr r10, [r2, #4]\nmvn r10, r10\nstr r10, [r2, #4]"},
    {"push r0\npush r1\npush r2\npush r3\npush sf\npush sp",
     "stmfd sp!, {r0}\nstmfd sp!, {r1}\nstmfd sp!, {r2}\nstmfd sp!, {r3}\nstmfd sp!, {r12}\nstmfd sp!, {sp}"},
    {"pop r0\npop r3\npop sf\npop sp", "ldmfd sp!, {r0}\nldmfd sp!, {r3}\nldmfd sp!, {r12}\nldr sp, [sp]"},
    {"push 5\npush [r1 + 4]", "mov r10, #5\nstmfd sp!, {r10}\nldr r10, [r1, #4]\nstmfd sp!, {r10}"},
    {"pop [r1 + 4]", "ldmfd sp!, {r10}\nstr r10, [r1, #4]"},
    {"pushad\npopad", "mrs r4, cpsr\nstmfd sp!, {r0-r4, r11, r12}\nldmfd sp!, {r0-r4, r11, r12}\nmsr cpsr_fc, r4"},
    {"popf [r1 + 8]\npopf 3", "ldr r10, [r1, #8]\nmov r10, #3"},
    // branches and calls with every condition
    {"jmp l\n:l", "b .+4"},
    {":l\nmov r0, r1\njmp l", "mov r0, r1\nb .-4"},
    {":l\njeq l\njne l\njge l\njgt l\njle l\njlt l",
     "beq .\nbne .-4\nbge .-8\nbgt .-12\nble .-16\nblt .-20"},
    {"!f\nret\n:main\njsr f\njsreq f\njsrne f\njsrge f\njsrgt f\njsrle f\njsrlt f",
     "stmfd sp!, {r12, lr}\nmov r12, sp\nmov sp, r12\nldmfd sp!, {r12, pc}\n"
     "mov lr, pc\nbl .-20\nmov lr, pc\nbleq .-28\nmov lr, pc\nblne .-36\nmov lr, pc\nblge .-44\n"
     "mov lr, pc\nblgt .-52\nmov lr, pc\nblle .-60\nmov lr, pc\nbllt .-68"},
    {"!f(a, b)\nret\n:main\njsr f(r0, 7)",
     "stmfd sp!, {r12, lr}\nmov r12, sp\nmov sp, r12\nldmfd sp!, {r12, pc}\n"
     "stmfd sp!, {r0}\nmov r10, #7\nstmfd sp!, {r10}\nmov lr, pc\nbl .-32\nadd sp, sp, #8"},
    // routine statements, with the source staged when r0 would be overwritten
    {"div r0, r1", "stmfd sp!, {r11, r12}\nmov lr, pc\nldr pc, [r11, #4]\nldmfd sp!, {r11, r12}"},
    {"rol r2, r3", "mov r0, r2\nmov r1, r3\nstmfd sp!, {r11, r12}\nmov lr, pc\nldr pc, [r11, #4]\nldmfd sp!, {r11, r12}\nmov r2, r0"},
    {"ror r1, r0", "mov r10, r0\nmov r0, r1\nmov r1, r10\nstmfd sp!, {r11, r12}\nmov lr, pc\nldr pc, [r11, #4]\nldmfd sp!, {r11, r12}\nmov r1, r0"},
    {"div r2, [r0 + 4]", "ldr r10, [r0, #4]\nmov r0, r2\nmov r1, r10\nstmfd sp!, {r11, r12}\nmov lr, pc\nldr pc, [r11, #4]\nldmfd sp!, {r11, r12}\nmov r2, r0"},
    {"div [r1 + 4], 3", "stmfd sp!, {r1}\nldr r0, [r1, #4]\nmov r1, #3\nstmfd sp!, {r11, r12}\nmov lr, pc\nldr pc, [r11, #4]\nldmfd sp!, {r11, r12}\nldmfd sp!, {r9}\nstr r0, [r9, #4]"},
    // value-stack routines with the registers and flags kept
    {"qobpull", "mrs r4, cpsr\nstmfd sp!, {r1-r4, r11, r12}\nstmfd sp!, {r11, r12}\nmov lr, pc\nldr pc, [r11, #4]\nldmfd sp!, {r11, r12}\nldmfd sp!, {r1-r4, r11, r12}\nmsr cpsr_fc, r4"},
    {"qobpush r2", "mrs r4, cpsr\nstmfd sp!, {r0-r4, r11, r12}\nmov r0, r2\nstmfd sp!, {r11, r12}\nmov lr, pc\nldr pc, [r11, #4]\nldmfd sp!, {r11, r12}\nldmfd sp!, {r0-r4, r11, r12}\nmsr cpsr_fc, r4"},
    {"setpixel r1, r0, 5",
     "mrs r4, cpsr\nstmfd sp!, {r0-r4, r11, r12}\nmov r10, #5\nstmfd sp!, {r10}\nstmfd sp!, {r0}\nstmfd sp!, {r1}\nldmfd sp!, {r0-r2}\n"
     "stmfd sp!, {r11, r12}\nmov lr, pc\nldr pc, [r11, #4]\nldmfd sp!, {r11, r12}\nldmfd sp!, {r0-r4, r11, r12}\nmsr cpsr_fc, r4"},
    {"sin [r0 + 8]", "ldr r1, [r0, #12]\nldr r0, [r0, #8]\nstmfd sp!, {r11, r12}\nmov lr, pc\nldr pc, [r11, #4]\nldmfd sp!, {r11, r12}"},
};

// Each byte at each even rotation, and values that need the pool.
std::vector<uint32_t> ImmediateSweep() {
    std::vector<uint32_t> values;
    for (uint32_t byte : {0x01u, 0x02u, 0x03u, 0x0Fu, 0x10u, 0x3Fu, 0x40u, 0x81u, 0xA5u, 0xFFu})
        for (uint32_t rotation = 0; rotation < 32; rotation += 2)
            values.push_back(rotation == 0 ? byte : (byte >> rotation) | (byte << (32 - rotation)));
    for (uint32_t value : {0x101u, 0x1FEu, 0x102u, 0xFF0000FFu, 0x12345678u, 0xFFFFFFFFu, 0x80000001u, 0x00FFFF00u})
        values.push_back(value);
    return values;
}

class GnuAsOracleTest : public AsmTest {
protected:
    void SetUp() override {
        AsmTest::SetUp();
        const std::string reason = GnuAsUnavailableReason();
        if (!reason.empty()) GTEST_SKIP() << reason;
    }
    static std::vector<uint32_t> Gnu(const std::string& lines) {
        std::string errors;
        auto words = AssembleWithGnuAs(lines, &errors);
        EXPECT_TRUE(words.has_value()) << lines << "\n" << errors;
        return words.value_or(std::vector<uint32_t>{});
    }
};

std::string Hex(const std::vector<uint32_t>& words) {
    std::string text;
    for (uint32_t word : words) {
        char item[12];
        std::snprintf(item, sizeof item, "%08X ", word);
        text += item;
    }
    return text;
}

TEST_F(GnuAsOracleTest, StatementsEncodeAsGnuAsDoes) {
    std::string gnu;
    std::vector<std::vector<uint32_t>> ours;
    std::vector<size_t> ends;
    for (const OracleCase& c : kCases) {
        const std::string source = c.source[0] == '!' ? std::string(c.source) : std::string(":main\n") + c.source;
        const Assembled assembled = Assemble(source);
        ASSERT_FALSE(assembled.result.failed) << c.source << "\n" << assembled.errors;
        ours.push_back(assembled.Body());
        gnu += std::string(c.gnu) + "\n.word 0xAAAAAAAA\n";  // a separator no case emits
    }
    const std::vector<uint32_t> reference = Gnu(gnu);
    size_t at = 0;
    for (size_t i = 0; i < ours.size(); ++i) {
        std::vector<uint32_t> expected;
        while (at < reference.size() && reference[at] != 0xAAAAAAAAu) expected.push_back(reference[at++]);
        ++at;
        EXPECT_EQ(Hex(ours[i]), Hex(expected)) << kCases[i].source;
    }
}

TEST_F(GnuAsOracleTest, EveryNameableRegisterInEveryField) {
    struct Name {
        const char* ours;
        const char* gnu;
    };
    const Name names[] = {{"r0", "r0"}, {"r1", "r1"}, {"r2", "r2"}, {"r3", "r3"}, {"sp", "sp"}, {"sf", "r12"}};
    std::string source = ":main\n";
    std::string gnu;
    for (const Name& d : names)
        for (const Name& m : names) {
            const std::string o = std::string(d.ours) + ", " + m.ours;
            const std::string dg = d.gnu;
            const std::string mg = m.gnu;
            source += "mov " + o + "\nadd " + o + "\nsub " + o + "\nand " + o + "\nor " + o + "\nxor " + o +
                      "\ncmp " + o + "\n";
            gnu += "mov " + dg + ", " + mg + "\nadd " + dg + ", " + dg + ", " + mg + "\nsub " + dg + ", " + dg + ", " + mg +
                   "\nand " + dg + ", " + dg + ", " + mg + "\norr " + dg + ", " + dg + ", " + mg + "\neor " + dg + ", " +
                   dg + ", " + mg + "\ncmp " + dg + ", " + mg + "\n";
            source += "mov " + std::string(d.ours) + ", [" + m.ours + " + 4]\nmov [" + d.ours + " - 8], " + m.ours +
                      "\nmov " + d.ours + ", byte [" + m.ours + " - 1]\nmov word [" + d.ours + " + 2], " + m.ours + "\n";
            gnu += "ldr " + dg + ", [" + mg + ", #4]\nstr " + mg + ", [" + dg + ", #-8]\nldrb " + dg + ", [" + mg +
                   ", #-1]\nstrh " + mg + ", [" + dg + ", #2]\n";
            if (d.ours != m.ours && std::string(d.ours) != "sp" && std::string(m.ours) != "sp") {
                source += "mul " + o + "\nswp " + o + "\n";
                gnu += "mul " + dg + ", " + dg + ", " + mg + "\nswp " + dg + ", " + dg + ", [" + mg + "]\n";
            }
        }
    const Assembled assembled = Assemble(source, 1 << 20);
    ASSERT_FALSE(assembled.result.failed) << assembled.errors;
    EXPECT_EQ(Hex(assembled.Body()), Hex(Gnu(gnu)));
}

TEST_F(GnuAsOracleTest, ImmediatesPickTheSameRotationAsGnuAs) {
    std::string source = ":main\n";
    std::string gnu;
    uint32_t poolOffset = 0;
    std::vector<uint32_t> values = ImmediateSweep();
    // Pool constants are laid out last first, after MAIN's address.
    std::vector<uint32_t> poolOffsets(values.size());
    for (size_t i = values.size(); i-- > 0;)
        if (!EncodeRotatedImmediate(values[i])) poolOffsets[i] = (poolOffset += 4);
    for (size_t i = 0; i < values.size(); ++i) {
        source += "mov r1, " + std::to_string(values[i]) + "\n";
        gnu += EncodeRotatedImmediate(values[i]) ? "mov r1, #" + std::to_string(values[i]) + "\n"
                                                 : "ldr r1, [r11, #" + std::to_string(poolOffsets[i]) + "]\n";
    }
    const Assembled assembled = Assemble(source);
    ASSERT_FALSE(assembled.result.failed) << assembled.errors;
    EXPECT_EQ(Hex(assembled.Body()), Hex(Gnu(gnu)));
}

TEST_F(GnuAsOracleTest, EntrySequenceAndPoolLoadMatchGnuAs) {
    const Assembled assembled = Assemble(":main\nmov r0, 1");
    ASSERT_FALSE(assembled.result.failed) << assembled.errors;
    const uint32_t pool = assembled.result.base + assembled.result.codeBytes;
    char lines[512];
    std::snprintf(lines, sizeof lines,
                  "stmfd sp!, {r0-r12, lr}\nmov r12, sp\nmov r0, #0\nmov r1, #0\nmov r2, #0\nmov r3, #0\n"
                  "mov r11, #%u, 8\norr r11, r11, #%u, 16\norr r11, r11, #%u, 24\norr r11, r11, #%u\n"
                  "ldr pc, [r11, #0]\nmov r0, #1\nmov sp, r12\nldmfd sp!, {r0-r12, pc}\n",
                  pool >> 24, pool >> 16 & 0xFF, pool >> 8 & 0xFF, pool & 0xFF);
    EXPECT_EQ(Hex(assembled.Code()), Hex(Gnu(lines)));
}

TEST_F(GnuAsOracleTest, HookWordsMatchGnuAsAndLeaveTheStatementAlone) {
    AsmOptions profiling;
    profiling.profiling = true;
    const Assembled plain = Assemble(":main\nadd r0, r1");
    const Assembled hooked = Assemble(":main\nadd r0, r1", 65536, profiling);
    ASSERT_FALSE(hooked.result.failed) << hooked.errors;
    const std::vector<uint32_t> body = hooked.Body();
    ASSERT_FALSE(body.empty());
    EXPECT_EQ(body.front(), plain.Body().front());
    // line 2, the file text at pool offset 4 and ProfileStamp's slot at 8
    const std::vector<uint32_t> hook(body.begin() + 1, body.end());
    EXPECT_EQ(Hex(hook), Hex(Gnu("mrs r4, cpsr\nstmfd sp!, {r0-r4, r11, r12}\nmov r0, #2\nldr r1, [r11, #8]\n"
                                 "stmfd sp!, {r11, r12}\nmov lr, pc\nldr pc, [r11, #4]\nldmfd sp!, {r11, r12}\n"
                                 "ldmfd sp!, {r0-r4, r11, r12}\nmsr cpsr_fc, r4")));
}

// The GNU text that puts value into reg the way the assembler does: one mov
// when it fits, else a load from the value's word in the block's pool.
std::string LoadLine(const Assembled& a, const char* reg, uint32_t value) {
    if (EncodeRotatedImmediate(value)) return std::string("mov ") + reg + ", #" + std::to_string(value) + "\n";
    const std::vector<uint32_t> pool = a.Pool();
    for (size_t i = 0; i < pool.size(); ++i)
        if (pool[i] == value) return std::string("ldr ") + reg + ", [r11, #" + std::to_string(4 * i) + "]\n";
    ADD_FAILURE() << "no pool word for " << value;
    return {};
}

std::string CallLines(const Assembled& a, AsmRoutine routine) {
    return "stmfd sp!, {r11, r12}\nmov lr, pc\n" + LoadLine(a, "pc", AsmRoutineSlotAddress(routine)) +
           "ldmfd sp!, {r11, r12}\n";
}

TEST_F(GnuAsOracleTest, DebugHookWordsMatchGnuAsAndLeaveTheStatementAlone) {
    AsmOptions debug;
    debug.debugMode = true;
    const Assembled plain = Assemble(":main\nmov r0, r1");
    const Assembled a = Assemble(":main\nmov r0, r1", 65536, debug);
    ASSERT_FALSE(a.result.failed) << a.errors;
    const uint32_t block = AsmRegisterBlockAddress();
    const char* save = "mrs r4, cpsr\nstmfd sp!, {r0-r4, r11, r12}\n";
    const char* restore = "ldmfd sp!, {r0-r4, r11, r12}\nmsr cpsr_fc, r4\n";
    std::string gnu = save + LoadLine(a, "r10", block) + "mov r9, #0\nstr r9, [r10, #1048]\nmov r0, #0\n" +
                      LoadLine(a, "r1", LowAddress(FindAsmString(a.result.base, "MAIN"))) +
                      CallLines(a, AsmRoutine::AsmDebugFramePush) + restore;
    gnu += save + LoadLine(a, "r10", block) +
           "str r0, [r10, #-0]\nstr r1, [r10, #4]\nstr r2, [r10, #8]\nstr r3, [r10, #12]\nstr r12, [r10, #16]\n"
           "add r9, sp, #28\nstr r9, [r10, #20]\nmov r9, #0\nstr r9, [r10, #1048]\nmov r0, #0\nmov r1, #2\n" +
           LoadLine(a, "r2", LowAddress(FindAsmString(a.result.base, "<null>"))) +
           CallLines(a, AsmRoutine::DebugLineHook) + restore;
    gnu += "mov r0, r1\n";
    gnu += save + std::string("mov r0, #0\n") + CallLines(a, AsmRoutine::AsmDebugFramePop) + restore;
    EXPECT_EQ(Hex(a.Body()), Hex(Gnu(gnu)));
    ASSERT_EQ(plain.Body().size(), 1u);
    const std::vector<uint32_t> body = a.Body();
    EXPECT_NE(std::find(body.begin(), body.end(), plain.Body()[0]), body.end());
}

}  // namespace
}  // namespace qob::testing
