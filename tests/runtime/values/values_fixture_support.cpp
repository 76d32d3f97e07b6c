// tests/runtime/values/values_fixture_support.cpp
// The value tests' context, procedures, classes and exactly-once check.
#include "runtime/values/values_fixture.h"

#include "platform/memory.h"
#include "runtime/data/hash.h"
#include "runtime/memory/pool.h"
#include "runtime/memory/value_blocks.h"
#include "runtime/vm/runtime_error.h"
#include "runtime/vm/value_stack.h"
#include "runtime/vm/vm.h"

#include <cstring>

namespace qob::testing {

void ValuesTest::SetUp() {
    // Constants an earlier test left (its program's, or ERROR% set by a
    // refused call) go first: TearDown frees the list whole, and their
    // blocks would count as this test's.
    FreeVariableChain(nullptr, ConstantList, true);
    FreeVariableList(nullptr, ConstantList);
    ConstantList = nullptr;
    liveBlocks = LiveValueBlocks();
    rejectedFrees = RejectedValueBlockFrees();
    context = CreateProgramContext();
    ASSERT_NE(context, nullptr);
    context->kind = kContextIndependent;
    context->quietEnd = 1;
    context->pool = CreatePool(64 * 1024);
    CreateBottomStackEntry(context);
    CurrentContext = context;
    context->globalHead = AllocateVariableRecord(context, false);
    frame = AllocateVariableRecord(context, false);
    LocalVariableList = frame;
    MemberList = nullptr;
    CurrentInstruction = nullptr;
    CurrentProcName = nullptr;  // an earlier test's may name freed text
    CurrentCompilerPool = context->pool;
    CurrentNamespaceHash = 0;
    NoExplicitCheck = 0;
    RuntimeLogSwitch = 0;
    // Errors are raised inside a TRY of this context: they go to ERROR%.
    TryStack.depth = 1;
    TryStack.entries[0] = {};
    TryStack.entries[0].context = context;
}

void ValuesTest::TearDown() {
    TryStack.depth = 0;
    CurrentContext = context;
    CurrentInstruction = nullptr;
    MemberList = nullptr;
    FreeVariableChain(context, frame, true);
    FreeVariableList(context, frame);
    LocalVariableList = nullptr;
    EndProgramContext(context);
    CurrentContext = nullptr;
    CurrentCompilerPool = nullptr;
    FreeVariableChain(nullptr, ConstantList, true);
    FreeVariableList(nullptr, ConstantList);
    ConstantList = nullptr;
    StopFlag = false;
    EndingContext = nullptr;
    NoExplicitCheck = 0;
    EXPECT_EQ(LiveValueBlocks(), liveBlocks) << "value blocks left behind";
    EXPECT_EQ(RejectedValueBlockFrees(), rejectedFrees) << "a value block was freed twice";
}

Instruction* ValuesTest::AddProcedure(const std::string& name, bool function, std::initializer_list<Handler> body) {
    std::string text = "0000" + name;
    Instruction* start = EmitInstruction(cursor, NopHandler, text.c_str(), function ? 1 : 0, nullptr, 1, nullptr, 0, 0);
    if (!context->instructions)
        context->instructions = start;
    cursor = start;
    for (Handler handler : body)
        cursor = EmitInstruction(cursor, handler, nullptr, 0, nullptr, 34, nullptr, 0, 0);
    cursor = EmitInstruction(cursor, Handle_ENDPROC, nullptr, 0, nullptr, 2, nullptr, 0, 0);
    return start;
}

void ValuesTest::AddClass(const char* name) {
    auto* record = static_cast<ClassRecord*>(platform::AllocateZeroedBlock(sizeof(ClassRecord)));
    size_t length = std::strlen(name);
    record->name = static_cast<char*>(platform::AllocateZeroedBlock(length + 1));
    std::memcpy(record->name, name, length);
    record->nameHash = HashName(name, length);
    record->next = context->classRecords;
    context->classRecords = record;
    context->ownsClassRecords = 1;
}

VariableRecord* ValuesTest::Local(const char* name) {
    return CreateVariable(frame, name, true);
}

VariableRecord* ValuesTest::Global(const char* name) {
    return CreateVariable(context->globalHead, name, true);
}

std::string ValuesTest::LastError() const {
    VariableRecord* error = FindVariable("ERROR%", 0);
    return error && error->data ? std::string(error->data) : std::string();
}

void ValuesTest::ClearError() {
    if (VariableRecord* error = FindVariable("ERROR%", 0))
        SetVariableValue(error, nullptr, 0, nullptr, 0);
}

std::string TextOf(VariableRecord* v) {
    char* text = nullptr;
    double value = 0;
    GetVariableValue(v, &text, &value, nullptr);
    return text ? std::string(text) : std::string();
}

double NumberOf(VariableRecord* v) {
    char* text = nullptr;
    double value = 0;
    GetVariableValue(v, &text, &value, nullptr);
    return value;
}

}  // namespace qob::testing
