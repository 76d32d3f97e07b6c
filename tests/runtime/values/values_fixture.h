// tests/runtime/values/values_fixture.h
// A program context with a local frame and a global list for the value tests,
// hand-built procedures and classes, and the check that every value block
// made during a test was freed exactly once.
#pragma once

#include "runtime/values/variable_store.h"
#include "runtime/vm/instruction.h"
#include "runtime/vm/program_context.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <string>

namespace qob::testing {

class ValuesTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // A procedure "name" of nodes STARTPROC, body..., ENDPROC appended to the
    // program; returns its STARTPROC node.
    Instruction* AddProcedure(const std::string& name, bool function, std::initializer_list<Handler> body);
    // A class of the program (methods are procedures "__CLASSCODE_<name>.<method>").
    void AddClass(const char* name);

    // A variable of the local frame / of the globals.
    VariableRecord* Local(const char* name);
    VariableRecord* Global(const char* name);

    // Errors raise inside a TRY, so they land in ERROR%: its text, or "".
    [[nodiscard]] std::string LastError() const;
    void ClearError();

    ProgramContext* context = nullptr;
    VariableRecord* frame = nullptr;
    Instruction* cursor = nullptr;

private:
    int64_t liveBlocks = 0;
    int64_t rejectedFrees = 0;
};

// Text of a variable's plain value (empty when it holds a number).
std::string TextOf(VariableRecord* v);
double NumberOf(VariableRecord* v);

}  // namespace qob::testing
