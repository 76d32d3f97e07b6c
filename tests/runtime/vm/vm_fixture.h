// tests/runtime/vm/vm_fixture.h
// A program context for the machine's tests, helpers that build instruction
// lists by hand, and a few small operator handlers for the test programs.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/values/variable_store.h"
#include "runtime/vm/instruction.h"
#include "runtime/vm/opcodes.h"
#include "runtime/vm/program_context.h"
#include "runtime/vm/vm.h"

namespace qob::testing {

// Values the test handler RecordTop saw, in order.
extern std::vector<double> Recorded;

// Test operators: pop the right operand, then the left, push the result.
void TestAdd();
void TestSubtract();
void TestMultiply();
void TestLess();
void TestEquals();
// Pops a number and appends it to Recorded.
void RecordTop();
// Raises the run-time error "test error" (continue 0).
void RaiseTestError();
// A real access violation.
void CauseAccessViolation();

class VmTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Appends a node after the cursor.
    Instruction* Emit(Opcode opcode, Handler handler, const char* text = nullptr, double operand = 0.0,
                      Instruction* target = nullptr);
    Instruction* Call(Handler handler);  // INTERNALCALL of a handler
    Instruction* PushInt(double value);
    Instruction* PushVar(const char* name);
    Instruction* Assign(const char* name);  // pops into the named variable
    Instruction* Branch(Instruction* target);
    // STARTPROC of a procedure named name (function: returns a value).
    Instruction* StartProc(const char* name, bool function);
    Instruction* EndProc();
    void Target(Instruction* node, Instruction* target) { SetJumpTarget(context->pool, node, target); }

    // Runs a procedure of the context (arguments pushed inside a frame when
    // there are any; a function's result is popped and returned).
    double CallFunction(Instruction* procedure, std::initializer_list<double> arguments);
    void RunMain(Instruction* procedure);

    // A further loaded application named name, idle; ended with the test
    // unless the test ended it.
    ProgramContext* Application(const char* name);

    VariableRecord* Global(const char* name);
    double NumberOf(const char* name);
    [[nodiscard]] std::string ErrorText() const;

    ProgramContext* context = nullptr;
    Instruction* cursor = nullptr;
    std::vector<ProgramContext*> applications;
};

}  // namespace qob::testing
