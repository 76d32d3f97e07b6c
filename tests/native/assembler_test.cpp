// tests/native/assembler_test.cpp
// The assembler's blocks (entry, pool, branches, calls, locals, hooks) and
// its diagnostics, from small sources.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "asm_test_support.h"
#include "native/arm_words.h"
#include "native/asm_routines.h"
#include "native/asm_string_list.h"
#include "native/asm_symbols.h"
#include "runtime/registry/function_table.h"
#include "runtime/vm/runtime_error.h"
#include "runtime/vm/vm.h"

namespace qob::testing {
namespace {

class AssemblerTest : public AsmTest {};

// The routines a block calls, in code order: each "ldr pc, [r11, #offset]"
// resolved through the pool to a stub slot.
std::vector<uint32_t> RoutineCalls(const Assembled& assembled) {
    std::vector<uint32_t> routines;
    const std::vector<uint32_t> code = assembled.Code();
    const std::vector<uint32_t> pool = assembled.Pool();
    for (size_t i = 11; i < code.size(); ++i) {
        if ((code[i] & 0xFFFFF000u) != 0xE59BF000u) continue;
        const uint32_t slot = pool.at((code[i] & 0xFFF) / 4);
        routines.push_back((slot - kAsmStubPageBase) / 4);
    }
    return routines;
}

constexpr uint32_t Routine(AsmRoutine routine) { return static_cast<uint32_t>(routine); }

TEST_F(AssemblerTest, MainOnlyBlockHasEntryStatementsReturnAndPool) {
    const Assembled a = Assemble(":main\nmov r0, 1\nadd r0, r1");
    ASSERT_FALSE(a.result.failed) << a.errors;
    const std::vector<uint32_t> code = a.Code();
    ASSERT_EQ(code.size(), 15u);
    const uint32_t pool = a.result.base + a.result.codeBytes;
    const std::vector<uint32_t> entry = {0xE92D5FFF, 0xE1A0C00D, 0xE3A00000, 0xE3A01000, 0xE3A02000, 0xE3A03000,
                                         0xE3A0B400 | pool >> 24, 0xE38BB800 | (pool >> 16 & 0xFF),
                                         0xE38BBC00 | (pool >> 8 & 0xFF), 0xE38BB000 | (pool & 0xFF), 0xE59BF000};
    EXPECT_EQ(std::vector<uint32_t>(code.begin(), code.begin() + 11), entry);
    EXPECT_EQ(a.Body(), (std::vector<uint32_t>{0xE3A00001, 0xE0800001}));
    EXPECT_EQ(code[13], 0xE1A0D00Cu);
    EXPECT_EQ(code[14], 0xE8BD9FFFu);
    EXPECT_EQ(a.Pool(), std::vector<uint32_t>{a.result.base + 44});  // MAIN's address
    EXPECT_EQ(a.result.base % 4096, 0u);
}

TEST_F(AssemblerTest, ImmediatesTakeOneMovOrThePool) {
    const Assembled top = Assemble(":main\nmov r0, 4278190080");
    EXPECT_EQ(top.Body(), std::vector<uint32_t>{0xE3A004FF});
    const Assembled pooled = Assemble(":main\nmov r0, 305419896\nmov r1, 305419896");
    EXPECT_EQ(pooled.Body(), (std::vector<uint32_t>{0xE59B0004, 0xE59B1004}));
    EXPECT_EQ(pooled.Pool(), (std::vector<uint32_t>{pooled.result.base + 44, 305419896}));
    // Numbers are taken modulo 2^32, also beyond the 64-bit range.
    EXPECT_EQ(NumberToWord32(-1), 0xFFFFFFFFu);
    EXPECT_EQ(NumberToWord32(4294967297.0), 1u);
    EXPECT_EQ(NumberToWord32(3.9), 3u);
    EXPECT_EQ(NumberToWord32(1e19), static_cast<uint32_t>(10000000000000000000ull));
    EXPECT_EQ(NumberToWord32(-1e19), static_cast<uint32_t>(0ull - 10000000000000000000ull));
}

TEST_F(AssemblerTest, BackwardJumpToThePreviousWordHasOffsetMinusThree) {
    const Assembled a = Assemble(":main\n:back\nmov r0, r1\njmp back");
    ASSERT_FALSE(a.result.failed) << a.errors;
    ASSERT_EQ(a.Body().size(), 2u);
    EXPECT_EQ(a.Body()[1] & 0xFFFFFFu, 16777213u);
    EXPECT_EQ(a.Body()[1] >> 24, 0xEAu);
}

TEST_F(AssemblerTest, CallsOfOneRoutineShareAPoolWord) {
    const Assembled a = Assemble(":main\ndiv r0, r1\ndiv r0, r1\nrol r0, r1");
    ASSERT_FALSE(a.result.failed) << a.errors;
    EXPECT_EQ(a.Pool().size(), 3u);  // MAIN, the division, the shift
    EXPECT_EQ(RoutineCalls(a), (std::vector<uint32_t>{Routine(AsmRoutine::AsmSignedDivide),
                                                      Routine(AsmRoutine::AsmSignedDivide),
                                                      Routine(AsmRoutine::AsmShiftLeft)}));
}

struct DiagnosticCase {
    const char* source;
    const char* errors;
};

const DiagnosticCase kDiagnostics[] = {
    {"mov r0, 1", "error:  [No main entry point defined!]\n"},
    {"!f\nmov r0, 1\n:main", "error:  [RET operator missing at end of function]\n"},
    {"!f\n!g\nret\n:main", "error:  [Cannot embbed two functions at '!g' (2,1)]\n"},
    {":main\nmov r0, 1\n!f\nret", "error:  [RET operator missing at end of function at '!f' (3,1)]\n"},
    {":main\nmov r0, 1\nvar x", "error:  [Invalid VAR operator location at 'VAR' (3,1)]\n"},
    {"var x\n:main", "error:  [Local variable declaration must be inside a label or a function at 'VAR' (1,1)]\n"},
    {":main\nvar x y", "error:  [Syntax error at 'Y' (2,7)]\n"},
    {":main\nvar", "error:  [Syntax error at 'VAR' (2,1)]\n"},
    {"!f(a b)\nret\n:main", "error:  [Syntax error at 'B' (1,6)]\n"},
    {":main\nmov r0, [sf]", "error:  [[SF] usage is not permitted at 'SF' (2,10)]\n"},
    {":main\nmov r0, [r1", "error:  [Missing closing ]]\n"},
    {":main\nmov r0 r1", "error:  [Comma missing at 'R1' (2,8)]\n"},
    {":main\nmov r0,", "error:  [Syntax error]\n"},
    {":main\nmov r0, foo", "error:  [Syntax Error at 'FOO' (2,9)]\n"},
    {":main\nmov r0, later\n:later", "error:  [Syntax Error at 'LATER' (2,9)]\n"},
    {":main\nmov byte r0, r1", "error:  [Cannot use BYTE size on this operand at 'BYTE' (2,5)]\n"},
    {":main\nmov r0, word 5", "error:  [Cannot use WORD size on this operand at 'WORD' (2,9)]\n"},
    {":main\nret", "error:  [Misplaced RET operator at 'RET' (2,1)]\n"},
    {":main\nfoo r0", "error:  [Unknown operand error at 'FOO' (2,1)]\n"},
    {":main\njmp nowhere", "error:  [Label (NOWHERE) not found! at 'NOWHERE' (2,5)]\n"},
    {":main\nswp r0, 5", "error:  [Invalid register at 'SWP' (2,1)]\n"},
    {":main\nneg 5", "error:  [Invalid value at 'NEG' (2,1)]\n"},
    {":main\npop 5", "error:  [Indexing is missing at 'POP' (2,1)]\n"},
    {":main\npopf r0", "error:  [Unsupported type at 'POPF' (2,1)]\n"},
    {":main\nqob nosuchroutine", "error:  [QOB function or proc/func not found at 'NOSUCHROUTINE' (2,5)]\n"},
    {":main\nmov r0, [r1 + 4096]", "error:  [Invalid value at 'MOV' (2,1)]\n"},
    {":main\nmov r0, word [r1 - 256]", "error:  [Invalid value at 'MOV' (2,1)]\n"},
    {":main\nmov 5, r0", "error:  [Indexing is missing at 'MOV' (2,1)]\n"},
    {":main\ndiv 5, r0", "error:  [Invalid register at 'DIV' (2,1)]\n"},
    // One run reports every error of the source.
    {":main\nfoo\nmov r0, [sf]\njmp x",
     "error:  [Unknown operand error at 'FOO' (2,1)]\n"
     "error:  [[SF] usage is not permitted at 'SF' (3,10)]\n"
     "error:  [Label (X) not found! at 'X' (4,5)]\n"},
};

TEST_F(AssemblerTest, DiagnosticsCarryTheirExactText) {
    for (const DiagnosticCase& c : kDiagnostics) {
        const Assembled a = Assemble(c.source);
        EXPECT_EQ(a.errors, c.errors) << c.source;
        EXPECT_TRUE(a.result.failed) << c.source;
    }
    // [sf + 4] and [sf - 4] are allowed.
    EXPECT_EQ(Assemble(":main\nmov r0, [sf + 4]\nmov [sf - 4], r1").errors, "");
}

TEST_F(AssemblerTest, AFullBlockIsRefusedOnceAndNothingIsWrittenPastIt) {
    const Assembled a = Assemble(":main\nmov r0, 1\nmov r0, 2\nmov r0, 3", 52);
    EXPECT_EQ(a.errors, "error:  [Buffer size too small!]\n");
    EXPECT_TRUE(a.result.failed);
    EXPECT_LT(a.result.totalBytes, 52u);
    // A word that would exactly fill the block is refused as well.
    EXPECT_TRUE(Assemble(":main", 48 + 4 + 4).result.failed);
    EXPECT_FALSE(Assemble(":main", 48 + 4 + 5).result.failed);
}

TEST_F(AssemblerTest, PoolBeyondItsFieldIsAnError) {
    std::string source = ":main\n";
    for (int i = 0; i < 1024; ++i) source += "mov r0, " + std::to_string(0x12345000 + i) + "\n";
    const Assembled a = Assemble(source, 1 << 20);
    EXPECT_EQ(a.errors, "error:  [Too many reference values in assembly code!]\n");
    EXPECT_TRUE(a.result.failed);
    // 1,023 constants and MAIN's address fill the 1,024 words exactly.
    source = ":main\n";
    for (int i = 0; i < 1023; ++i) source += "mov r0, " + std::to_string(0x12345000 + i) + "\n";
    EXPECT_FALSE(Assemble(source, 1 << 20).result.failed);
}

TEST_F(AssemblerTest, LabelsAreLocalToTheirFunctionAndCaseBlind) {
    const Assembled a = Assemble(
        "!f\n:loop\njmp loop\nret\n"
        "!g\nmov r0, r0\n:Loop\nJMP LOOP\nret\n"
        ":Main\n:loop\nmov r0, r0\njmp loop");
    ASSERT_FALSE(a.result.failed) << a.errors;
    const std::vector<uint32_t> body = a.Body();
    // f: prologue, b . (its own loop), return.
    EXPECT_EQ(body[2], ArmBranch(ArmCondition::Always, false, -2));
    // g: prologue, mov, b . (its own Loop).
    EXPECT_EQ(body[8], ArmBranch(ArmCondition::Always, false, -2));
    // MAIN's loop, after the last ret: the label prefix was cleared.
    EXPECT_EQ(body.back(), ArmBranch(ArmCondition::Always, false, -3));
}

TEST_F(AssemblerTest, ConditionalCallsDropTheirArgumentsWhateverTheCondition) {
    const Assembled a = Assemble("!f(x)\nret\n:main\njsrne f(r1)");
    ASSERT_FALSE(a.result.failed) << a.errors;
    const std::vector<uint32_t> body = a.Body();
    EXPECT_EQ(body.back(), 0xE28DD004u);  // add sp, sp, #4, always
    EXPECT_EQ(body[body.size() - 2] >> 24, 0x1Bu);  // blne
}

TEST_F(AssemblerTest, LocalsReservationKeepsSpOnALoop) {
    const Assembled a = Assemble(":main\n:again\nvar a, b, c\nmov a, r0\njmp again");
    ASSERT_FALSE(a.result.failed) << a.errors;
    EXPECT_EQ(a.Body().front(), 0xE24CD00Cu);  // sub sp, sf, #12: the same sp on every pass
}

TEST_F(AssemblerTest, ReservationThatNeedsThePoolIsAnError) {
    std::string locals = "var v0";
    for (int i = 1; i < 257; ++i) locals += ", v" + std::to_string(i);
    EXPECT_EQ(Assemble("!f\n" + locals + "\nret\n:main").errors, "error:  [Invalid value at 'VAR' (2,1)]\n");
    locals = "var v0";
    for (int i = 1; i < 256; ++i) locals += ", v" + std::to_string(i);
    EXPECT_EQ(Assemble("!f\n" + locals + "\nret\n:main").errors, "");
}

TEST_F(AssemblerTest, DebugFramesArePushedOncePerEntryAndPoppedByTheCaller) {
    AsmOptions debug;
    debug.debugMode = true;
    const uint32_t push = Routine(AsmRoutine::AsmDebugFramePush);
    const uint32_t pop = Routine(AsmRoutine::AsmDebugFramePop);
    const uint32_t line = Routine(AsmRoutine::DebugLineHook);
    // A function with a loop label and no statement before it, called once.
    const Assembled a = Assemble("!f\nvar a\n:inner\nmov r0, a\njmp inner\nret\n:main\njsr f", 1 << 16, debug);
    ASSERT_FALSE(a.result.failed) << a.errors;
    EXPECT_EQ(RoutineCalls(a), (std::vector<uint32_t>{push, line, line, push, line, pop, pop}));
    // A function without statements still pushes what its caller pops; MAIN
    // alone pushes and pops once.
    const Assembled empty = Assemble("!f\nret\n:main\njsr f", 1 << 16, debug);
    EXPECT_EQ(RoutineCalls(empty), (std::vector<uint32_t>{push, push, line, pop, pop}));
    EXPECT_EQ(RoutineCalls(Assemble(":main", 1 << 16, debug)), (std::vector<uint32_t>{push, pop}));
}

TEST_F(AssemblerTest, DebugHookStoresAtMost128Locals) {
    AsmOptions debug;
    debug.debugMode = true;
    std::string locals = "var v0";
    for (int i = 1; i < 130; ++i) locals += ", v" + std::to_string(i);
    const Assembled a = Assemble(":main\n" + locals + "\nmov r0, v129", 1 << 20, debug);
    ASSERT_FALSE(a.result.failed) << a.errors;
    const std::vector<uint32_t> code = a.Code();
    auto has = [&](uint32_t word) { return std::find(code.begin(), code.end(), word) != code.end(); };
    EXPECT_TRUE(has(0xE3A09080u));   // mov r9, #128: the stored count
    EXPECT_FALSE(has(0xE3A09082u));  // never 130
    uint32_t largest = 0;
    for (uint32_t word : code)
        if ((word & 0xFFFFF000u) == 0xE58A9000u) largest = std::max(largest, word & 0xFFF);
    EXPECT_EQ(largest, 4u * kAsmRegisterBlockCount);
    EXPECT_TRUE(has(ArmTransfer(true, ArmSize::Word, 0, kArmSf, -4 * 130)));
}

void TestHandler() {}

TEST_F(AssemblerTest, QobCallsABuiltInThroughItsOwnRoutineNumber) {
    const int index = RegisterFunction("asmtesthandler", TestHandler);
    ASSERT_GE(index, 0);
    const Assembled a = Assemble(":main\nqob asmtesthandler\nqob ASMTESTHANDLER");
    ASSERT_FALSE(a.result.failed) << a.errors;
    const std::vector<uint32_t> calls = RoutineCalls(a);
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0], calls[1]);
    EXPECT_EQ(AsmHandlerForRoutine(calls[0]), &TestHandler);
    EXPECT_EQ(a.Pool().size(), 2u);
    ClearFunctionRecord(index);
}

TEST_F(AssemblerTest, TextOperandsLiveUnderTheBlockUntilItIsFreed) {
    const Assembled a = Assemble(":main\nmov r0, \"hello\"\nmov r1, \"hello\"\ndebug \"hi\"");
    ASSERT_FALSE(a.result.failed) << a.errors;
    EXPECT_EQ(CountAsmStrings(a.result.base), 2u);
    const char* hello = FindAsmString(a.result.base, "hello");
    ASSERT_NE(hello, nullptr);
    // Pool: MAIN, the log routine, "hi", then "hello" once for both moves.
    ASSERT_EQ(a.Pool().size(), 4u);
    EXPECT_EQ(a.Pool()[3], LowAddress(hello));
    FreeAsmBlock(a.result.base);
    blocks.clear();
    EXPECT_EQ(CountAsmStrings(a.result.base), 0u);
}

TEST_F(AssemblerTest, AFailedAssemblyLeavesNothingForTheNext) {
    const Assembled first = Assemble(":main\nvar a\n:x\nmov r0, a\njmp x");
    Assemble("!f\n:x\nvar q\njmp y\nmov r0, [sf]");
    const Assembled again = Assemble(":main\nvar a\n:x\nmov r0, a\njmp x");
    EXPECT_EQ(again.errors, "");
    EXPECT_EQ(again.Body(), first.Body());
    EXPECT_EQ(again.Pool().size(), first.Pool().size());
}

TEST_F(AssemblerTest, The16384thReferenceIsARuntimeErrorAndFailsTheAssembly) {
    std::string source = ":main\n";
    for (int i = 0; i < 16382; ++i) source += "mov r0, 305419896\n";
    EXPECT_FALSE(Assemble(source, 1 << 17).result.failed);  // with MAIN's, 16,383 references
    source += "mov r0, 305419896\nmov r0, 305419896\n";
    const int32_t reported = ReportedRuntimeErrorCount();
    const Assembled a = Assemble(source, 1 << 17);
    EXPECT_EQ(ReportedRuntimeErrorCount(), reported + 1);
    EXPECT_TRUE(a.result.failed);
    EXPECT_EQ(a.errors, "error:  [Too many reference values in assembly code! at 'MOV' (16385,1)]\n");
    EXPECT_EQ(a.Pool().size(), 1u);  // the refused word has no pool word: the block is never usable
    StopFlag = false;
}

TEST_F(AssemblerTest, LocalNamesEnterTheSymbolListOnce) {
    ASSERT_FALSE(Assemble("!g(arg)\nvar first\nmov r0, first\nmov r1, arg\nret\n:main").result.failed);
    EXPECT_EQ(FindAsmSymbol("first"), 0xFFFFFFFCu);
    EXPECT_EQ(FindAsmSymbol("arg"), 8u);
    ASSERT_FALSE(Assemble(":main\nvar a, first\nmov r0, first").result.failed);
    EXPECT_EQ(FindAsmSymbol("first"), 0xFFFFFFFCu);
    EXPECT_FALSE(FindAsmSymbol("nothing").has_value());
}

TEST_F(AssemblerTest, HookFileNameIsTheLowerCasedNamePartOfAnExistingFile) {
    AsmOptions profiling;
    profiling.profiling = true;
    profiling.sourceFile = "C:\\No\\Such\\Prog.QOB";
    const Assembled missing = Assemble(":main\nmov r0, r1", 65536, profiling);
    EXPECT_NE(FindAsmString(missing.result.base, "c:\\no\\such\\prog.qob"), nullptr);
    const std::string path = std::string(QOB_TEST_BINARY_DIR) + "/Asm_Hook_File.QOB";
    std::fclose(std::fopen(path.c_str(), "w"));
    profiling.sourceFile = path.c_str();
    const Assembled existing = Assemble(":main\nmov r0, r1", 65536, profiling);
    EXPECT_NE(FindAsmString(existing.result.base, "asm_hook_file.qob"), nullptr);
    std::remove(path.c_str());
    EXPECT_NE(FindAsmString(Assemble(":main\nmov r0, r1", 65536, {.profiling = true}).result.base, "<null>"), nullptr);
}

std::vector<std::string> listed;
void CollectLine(const char* line) { listed.emplace_back(line); }

TEST_F(AssemblerTest, DeasmListsEveryWordWithItsStatement) {
    listed.clear();
    AsmOptions options;
    options.listingSink = CollectLine;
    const Assembled a = Assemble(
        "#DEASM\n!f(a)\nmov r0, a\nret\n:Main\nvar x\nmov byte [r1 - 2], 0x12345\njsr f(x)\n:done\n"
        "mov word [sf + 16], \"hi\"",
        1 << 16, options);
    ASSERT_FALSE(a.result.failed) << a.errors;
    std::vector<std::string> expected(11, "   entry");
    for (const char* line : {"!F", "   prologue", "   prologue", "   mov        r0, [sf + #08h]", "   ret", "   ret",
                             ":MAIN", "   mov        byte [r1 - #02h], 12345h", "   mov        byte [r1 - #02h], 12345h",
                             "   jsr        F([sf - #04h])", "   jsr        F([sf - #04h])", "   jsr        F([sf - #04h])",
                             "   jsr        F([sf - #04h])", "   jsr        F([sf - #04h])", ":DONE",
                             "   mov        word [sf + #10h], (hi)", "   mov        word [sf + #10h], (hi)",
                             "   exit", "   exit", "   pool", "   pool", "   pool"})
        expected.emplace_back(line);
    expected.push_back(":Total bytes generated: " + std::to_string(a.result.totalBytes));
    EXPECT_EQ(listed, expected);
    // Without "#DEASM" nothing is listed.
    listed.clear();
    ASSERT_FALSE(Assemble(":main\nmov r0, 1", 1 << 16, options).result.failed);
    EXPECT_TRUE(listed.empty());
}

}  // namespace
}  // namespace qob::testing
