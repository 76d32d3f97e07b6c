// tests/runtime/vm/opcodes_test.cpp
// The opcode list: numbers, names and the unused slots.

#include "runtime/vm/opcodes.h"

#include <gtest/gtest.h>

#include <cstring>

namespace qob {
namespace {

TEST(Opcodes, NamesSitAtTheirNumbers) {
    struct Case { uint32_t number; const char* name; };
    constexpr Case kCases[] = {
        {1, "STARTPROC"}, {2, "ENDPROC"}, {3, "BRANCH"}, {10, "PARMSPUSHVAR"}, {33, "=2"},
        {34, "INTERNALCALL"}, {40, "OFFSET2_1"}, {51, "PUSHINTCASE"}, {65, "==2"}, {76, "OFFSET2_2"},
        {77, "ADDR2"}, {82, "^=2"}, {83, "&=2"}, {87, "PUSHSTRINT"}, {88, "<>2"}, {96, "GETKEYLIST2"},
        {104, "/6"}, {105, "FIRST_OP"}, {109, "SCALLP0"}, {125, "SCALLP16"}, {126, "SCALLF0"},
        {143, "CALLP0"}, {160, "CALLF0"}, {176, "CALLF16"}, {177, "DECLARE"}, {180, "C_DECLAREAPI"},
        {181, "SAVESP"}, {182, "STACKDROP"}, {184, "FORWARDPROC"}, {185, "INITWHILE"}, {186, "ENDLOOP"},
    };
    for (const Case& c : kCases) {
        ASSERT_NE(OpcodeName(c.number), nullptr) << c.number;
        EXPECT_STREQ(OpcodeName(c.number), c.name) << c.number;
    }
    EXPECT_EQ(static_cast<uint32_t>(Opcode::PUSHINTCASE), 51u);
    EXPECT_EQ(static_cast<uint32_t>(Opcode::ENDLOOP), 186u);
}

TEST(Opcodes, UnusedNumbersHaveNoName) {
    for (uint32_t number : {0u, 11u, 32u, 42u, 45u, 55u, 62u, 63u, 183u, 187u, 199u, 200u, 5000u})
        EXPECT_EQ(OpcodeName(number), nullptr) << number;
}

TEST(Opcodes, ListHas178NamedDistinctOpcodes) {
    int named = 0;
    for (uint32_t i = 0; i < kOpcodeTableSize; ++i) {
        if (!OpcodeName(i)) continue;
        ++named;
        for (uint32_t j = i + 1; j < kOpcodeTableSize; ++j)
            if (OpcodeName(j)) {
                EXPECT_STRNE(OpcodeName(i), OpcodeName(j)) << i << " " << j;
            }
    }
    EXPECT_EQ(named, 178);
}

}  // namespace
}  // namespace qob
