// tests/builtins/operators/operator_fixture.h
// The value tests' program context, for the operator tests: pushing numbers, 8-bit and
// UTF-16 texts and matrices, running a handler (alone or on a hand-built
// node), reading results back as short descriptions, and the check that every
// value block made during a test is freed exactly once.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "runtime/values/values_fixture.h"
#include "runtime/values/variable_store.h"
#include "runtime/vm/instruction.h"
#include "runtime/vm/opcodes.h"
#include "runtime/vm/program_context.h"

namespace qob::testing {

class OperatorTest : public ValuesTest {
protected:
    void SetUp() override;
    void TearDown() override;

    // Operands. A description pushes what it names:
    //   "n:1.5"  the number 1.5        "t:abc"  the 8-bit text abc
    //   "w:abc"  the UTF-16 text abc   "m:[1,{a},[2]]"  a matrix (bracket form)
    void Push(const std::string& description);
    void PushNumber(double value);
    void PushText(const std::string& text);
    void PushWide(const std::string& text);
    void PushMatrix(const std::string& form);
    // Pushes a variable's value as a variable push does (value, text, the
    // variable itself, its matrix and UTF-16 marks).
    void PushVariable(VariableRecord* variable);

    // Pops the top cell and describes it as Push takes it ("n:15", "t:ab",
    // "w:ab", "m:[1,2]"). Numbers print with up to 17 significant digits.
    std::string PopDescription();
    [[nodiscard]] double PopValue();

    // Cells above the bottom cell.
    [[nodiscard]] int StackDepth() const;

    // Runs a binary built-in on two described operands and describes the result.
    std::string RunBinary(void (*handler)(), const std::string& left, const std::string& right);

    // A hand-built node: operand and text as the optimiser sets them; it is
    // made current. A variable node takes the variable's name as its text.
    Instruction* Node(Opcode opcode, void (*handler)(), double operand, const char* text = nullptr);
    // Runs the handler with the node current.
    void RunNode(Instruction* node);

    // Variables of the local frame.
    VariableRecord* Variable(const char* name);
    void SetNumber(VariableRecord* variable, double value);
    void SetText(VariableRecord* variable, const std::string& text);
    void SetWide(VariableRecord* variable, const std::string& text);
    void SetMatrix(VariableRecord* variable, const std::string& form);
    // The variable's value described as a cell would be ("n:..", "t:..", "w:..", "m:..").
    std::string Describe(VariableRecord* variable);

    // Opens an argument frame at the current top (what __savesp does).
    void OpenFrame();
};

// The number as the descriptions print it.
std::string FormatValue(double value);

// Blocks of the global operator new still live in this test program: a
// handler that a fault unwinds must hold none (nothing would free them).
[[nodiscard]] int64_t LiveOperatorNewBlocks();

}  // namespace qob::testing
