// tests/runtime/vm/vm_fixture_support.cpp
// The machine tests' context, list-building helpers and test operators.

#include "vm_fixture.h"

#include <cstring>

#include "platform/memory.h"
#include "runtime/memory/pool.h"
#include "runtime/values/assignment.h"
#include "runtime/vm/push_instructions.h"
#include "runtime/vm/runtime_error.h"
#include "runtime/vm/value_stack.h"

namespace qob::testing {

std::vector<double> Recorded;

namespace {

void BinaryOperator(double (*op)(double, double)) {
    const double right = PopNumber();
    const double left = PopNumber();
    PushValue(nullptr, op(left, right), nullptr);
}

}  // namespace

void TestAdd() { BinaryOperator([](double a, double b) { return a + b; }); }
void TestSubtract() { BinaryOperator([](double a, double b) { return a - b; }); }
void TestMultiply() { BinaryOperator([](double a, double b) { return a * b; }); }
void TestLess() { BinaryOperator([](double a, double b) { return a < b ? 1.0 : 0.0; }); }
void TestEquals() { BinaryOperator([](double a, double b) { return a == b ? 1.0 : 0.0; }); }
void RecordTop() { Recorded.push_back(PopNumber()); }
void RaiseTestError() { RaiseRuntimeError("test error", 0); }

// The address comes through a volatile, so the optimiser cannot see (and warn
// about) the store to a fixed bad address.
volatile uintptr_t gFaultAddress = 16;

__attribute__((no_sanitize("address", "undefined"), noipa)) void CauseAccessViolation() {
    *reinterpret_cast<volatile int*>(gFaultAddress) = 1;
}

void VmTest::SetUp() {
    Recorded.clear();
    // Constants a test of another fixture left (ERROR% among them) go first.
    if (ConstantList) {
        FreeVariableChain(nullptr, ConstantList, true);
        FreeVariableList(nullptr, ConstantList);
        ConstantList = nullptr;
    }
    context = CreateProgramContext();
    ASSERT_NE(context, nullptr);
    context->kind = kContextIndependent;
    context->quietEnd = 1;
    context->pool = CreatePool(64 * 1024);
    CreateBottomStackEntry(context);
    context->globalHead = AllocateVariableRecord(context, false);
    CurrentContext = context;
    LocalVariableList = context->globalHead;
    MemberList = nullptr;
    CurrentInstruction = nullptr;
    CurrentProcName = nullptr;  // an earlier test's may name freed text
    StopFlag = false;
    EndingContext = nullptr;
    TryStack.depth = 0;
    CurrentCompilerPool = context->pool;
    CurrentNamespaceHash = 0;
    RuntimeLogSwitch = 0;
    cursor = EmitInstruction(nullptr, NopHandler, "test.qob", 0, nullptr, 0, nullptr, 0, 0);
    context->instructions = cursor;
}

void VmTest::TearDown() {
    for (ProgramContext* application : applications)
        if (IsLiveContext(application)) EndProgramContext(application);
    applications.clear();
    CurrentContext = context;
    CurrentInstruction = nullptr;
    MemberList = nullptr;
    TryStack.depth = 0;
    LocalVariableList = nullptr;
    EndProgramContext(context);
    CurrentContext = nullptr;
    CurrentCompilerPool = nullptr;
    if (ConstantList) {
        FreeVariableChain(nullptr, ConstantList, true);
        FreeVariableList(nullptr, ConstantList);
        ConstantList = nullptr;
    }
    StopFlag = false;
    EndingContext = nullptr;
}

ProgramContext* VmTest::Application(const char* name) {
    ProgramContext* application = CreateProgramContext();
    application->kind = kContextIndependent;
    application->quietEnd = 1;
    application->pool = CreatePool(4096);
    CreateBottomStackEntry(application);
    application->appName = static_cast<char*>(platform::AllocateBlock(std::strlen(name) + 1));
    std::strcpy(application->appName, name);
    MakeUniqueContextId(application);
    applications.push_back(application);
    return application;
}

Instruction* VmTest::Emit(Opcode opcode, Handler handler, const char* text, double operand, Instruction* target) {
    cursor = EmitInstruction(cursor, handler, text, operand, target, static_cast<uint32_t>(opcode), nullptr, 0, 0);
    return cursor;
}

Instruction* VmTest::Call(Handler handler) { return Emit(Opcode::INTERNALCALL, handler); }
Instruction* VmTest::PushInt(double value) { return Emit(Opcode::PUSHINT, Handle_PUSHINT, nullptr, value); }
Instruction* VmTest::PushVar(const char* name) { return Emit(Opcode::PUSHVAR, Handle_PUSHVAR, name); }
Instruction* VmTest::Assign(const char* name) { return Emit(Opcode::ASSIGN2, AssignOpcode, name); }
Instruction* VmTest::Branch(Instruction* target) { return Emit(Opcode::BRANCH, Handle_BRANCH, nullptr, 0.0, target); }

Instruction* VmTest::StartProc(const char* name, bool function) {
    const std::string header = std::string("\xE9 ! ") + name;
    Instruction* start = Emit(Opcode::STARTPROC, NopHandler, header.c_str(), function ? 1.0 : 0.0);
    RequireInstructionExtra(context->pool, start)->isJumpTarget = 1;
    return start;
}

Instruction* VmTest::EndProc() { return Emit(Opcode::ENDPROC, Handle_ENDPROC); }

double VmTest::CallFunction(Instruction* procedure, std::initializer_list<double> arguments) {
    OpenArgumentFrame(context);
    for (double argument : arguments) PushValue(nullptr, argument, nullptr);
    RunProcedureIn(context, procedure);
    DropFunctionStack(1);
    return PopNumber();
}

void VmTest::RunMain(Instruction* procedure) { RunProcedureIn(context, procedure); }

VariableRecord* VmTest::Global(const char* name) { return CreateVariable(context->globalHead, name, true); }

double VmTest::NumberOf(const char* name) {
    VariableRecord* variable = FindVariable(name, 0);
    if (!variable) return -1e300;
    char* text = nullptr;
    double value = 0.0;
    GetVariableValue(variable, &text, &value, nullptr);
    return value;
}

std::string VmTest::ErrorText() const {
    VariableRecord* error = ConstantList ? FindNamedItem(ConstantList, "ERROR%") : nullptr;
    return error && error->data ? std::string(error->data) : std::string();
}

}  // namespace qob::testing
