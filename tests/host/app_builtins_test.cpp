// tests/host/app_builtins_test.cpp
// The application built-ins over live and refused contexts, the name lists
// and script threads with their exit codes.

#include "host/app_builtins.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "platform/memory.h"
#include "runtime/memory/pool.h"
#include "runtime/registry/function_table.h"
#include "runtime/values/list_values.h"
#include "runtime/vm/interpreter_lock.h"
#include "runtime/vm/push_instructions.h"
#include "runtime/vm/script_threads.h"
#include "runtime/vm/value_stack.h"
#include "runtime/vm/vm_fixture.h"
#include "windows/window_records.h"

namespace qob {
namespace {

double Address(const void* pointer) { return static_cast<double>(reinterpret_cast<uintptr_t>(pointer)); }

class AppBuiltinsTest : public testing::VmTest {
protected:
    // Calls a built-in of one argument; the value it pushed, if any.
    const StackEntry* CallWith(void (*builtin)(), const char* text, double value) {
        PushValue(text, value, nullptr);
        builtin();
        return context->stackTop;
    }

    // The texts of a list variable's nodes, from the first.
    static std::vector<std::string> ListTexts(const VariableRecord* list) {
        std::vector<std::string> texts;
        const ListNode* node = list->currentNode;
        while (node && node->previous) node = node->previous;
        for (; node; node = node->next) texts.emplace_back(node->data ? node->data : "(none)");
        return texts;
    }
};

TEST_F(AppBuiltinsTest, FindAppComparesAnUpperCasedCopyOfTheName) {
    ProgramContext* prog = Application("PROG.QOB");
    ProgramContext* numbered = Application("1234");
    char* argument = static_cast<char*>(platform::AllocateBlock(9));
    std::strcpy(argument, "prog.qob");
    EXPECT_EQ(CallWith(Builtin_findapp, argument, 0)->value, Address(prog));
    EXPECT_STREQ(argument, "prog.qob") << "the caller's text must stay as it was";
    EXPECT_EQ(CallWith(Builtin_findapp, nullptr, 1234)->value, Address(numbered));
    EXPECT_EQ(CallWith(Builtin_findapp, "other.qob", 0)->value, 0);
    EXPECT_EQ(CountStackEntries(context->stackTop), 4);
    platform::FreeBlock(argument);
}

TEST_F(AppBuiltinsTest, ReadersGiveTheContextsFacts) {
    ProgramContext* other = Application("OTHER.QOB");
    other->appSize = 777;
    CurrentCompilerPool = other->pool;
    other->instructions = EmitInstruction(nullptr, NopHandler, nullptr, 0, nullptr, 0, nullptr, 0, 0);
    CurrentCompilerPool = context->pool;
    other->uniqueId = 0x123456789ull;
    AddWindowRecord(other, 0x55, nullptr, 0, nullptr);
    AddWindowRecord(other, 0x66, nullptr, 0, nullptr);
    struct Case {
        void (*builtin)();
        double expected;
    };
    const Case cases[] = {{Builtin_appsize, 777},
                          {Builtin_appbuffer, Address(other->instructions)},
                          {Builtin_appform, 0x55},
                          {Builtin_appuniqueid, static_cast<double>(0x123456789ull)}};
    for (const Case& c : cases) EXPECT_EQ(CallWith(c.builtin, nullptr, Address(other))->value, c.expected);
    other->windows = nullptr;  // the records belong to no window layer: nothing to destroy
}

TEST_F(AppBuiltinsTest, AppNameGivesACopyThatOutlivesTheApplication) {
    ProgramContext* other = Application("OTHER.QOB");
    const StackEntry* cell = CallWith(Builtin_appname, nullptr, Address(other));
    ASSERT_NE(cell->text, nullptr);
    EXPECT_NE(cell->text, other->appName);
    const char* copy = cell->text;
    EndProgramContext(other);
    EXPECT_STREQ(copy, "OTHER.QOB");
    EXPECT_TRUE(platform::IsLiveBlock(copy));
}

TEST_F(AppBuiltinsTest, NumbersThatNameNoLiveContextAreRefused) {
    ProgramContext* ended = Application("GONE.QOB");
    EndProgramContext(ended);
    const double refused[] = {0, -1, 12345, Address(ended), Address(context) + 8};
    void (*const readers[])() = {Builtin_appname, Builtin_appsize, Builtin_appbuffer, Builtin_appform,
                                 Builtin_appuniqueid};
    for (double number : refused) {
        for (auto reader : readers) {
            const StackEntry* cell = CallWith(reader, nullptr, number);
            EXPECT_EQ(cell->value, 0) << number;
            EXPECT_EQ(cell->text, nullptr) << number;
            PopStackEntry();
        }
        for (auto ender : {Builtin_killapp, Builtin_freeapp}) {
            CallWith(ender, nullptr, number);
            EXPECT_EQ(CountStackEntries(context->stackTop), 1) << number;
        }
        EXPECT_TRUE(IsLiveContext(context));
    }
    EXPECT_EQ(CallWith(Builtin_appsize, "not a number", 0)->value, 0);
}

TEST_F(AppBuiltinsTest, AnIdleApplicationEndsAtOnce) {
    for (auto ender : {Builtin_killapp, Builtin_freeapp}) {
        ProgramContext* other = Application("IDLE.QOB");
        CallWith(ender, nullptr, Address(other));
        EXPECT_FALSE(IsLiveContext(other));
    }
}

TEST_F(AppBuiltinsTest, EndingTheRunningApplicationWaitsForItsRunToReturn) {
    for (auto ender : {Builtin_freeapp, Builtin_killapp}) {
        testing::Recorded.clear();
        Instruction* main = StartProc("MAIN", false);
        PushInt(Address(context));
        Call(ender);
        PushInt(1);
        Call(testing::RecordTop);  // not reached: the application has stopped
        EndProc();
        RunMain(main);
        EXPECT_TRUE(IsLiveContext(context));
        EXPECT_EQ(EndingContext, context);
        EXPECT_EQ(context->endPending, 1);
        EXPECT_TRUE(testing::Recorded.empty());
        EndingContext = nullptr;
        context->endPending = 0;
        StopFlag = false;
    }
}

TEST_F(AppBuiltinsTest, FunctionsListsTheTableAndLeavesOutDeclaredNativesWithoutAll) {
    FreeFunctionTable();
    ASSERT_GE(RegisterBuiltin("alpha", NopHandler, 0, false), 0);
    ASSERT_GE(RegisterBuiltin("Beta", NopHandler, 1, true), 0);
    ASSERT_GE(DeclareDllFunction("gamma", "gamma", "libc.so.6", 0, false, false, false), 0);
    VariableRecord* list = Global("L$");
    struct Case {
        double all;
        std::vector<std::string> names;
    };
    const Case cases[] = {{1, {"ALPHA", "BETA", "GAMMA"}}, {0, {"ALPHA", "BETA"}}};
    for (const Case& c : cases) {
        PushValue(nullptr, 0, list);
        PushValue(nullptr, c.all, nullptr);
        Builtin_functions();
        EXPECT_EQ(PopNumber(), static_cast<double>(c.names.size()));
        EXPECT_TRUE(list->flags & kVarList);
        EXPECT_EQ(ListTexts(list), c.names);
        EXPECT_STREQ(list->data, "ALPHA") << "the first node is current";
    }
    FreeFunctionTable();
}

TEST_F(AppBuiltinsTest, VariablesListsTheChosenList) {
    Global("FIRST$")->value = 1;
    Global("SECOND$")->value = 2;
    VariableRecord* list = Global("L$");
    struct Case {
        double which;
        std::vector<std::string> names;
    };
    const Case cases[] = {{1, {"FIRST$", "SECOND$", "L$"}}, {3, {}}, {-1, {}}};
    for (const Case& c : cases) {
        PushValue(nullptr, 0, list);
        PushValue(nullptr, c.which, nullptr);
        Builtin_variables();
        EXPECT_EQ(PopNumber(), static_cast<double>(c.names.size())) << c.which;
        EXPECT_EQ(ListTexts(list), c.names) << c.which;
    }
}

class ScriptThreadTest : public AppBuiltinsTest {
protected:
    // FUNC T(P$): RETURN the value built by body (P$ on the stack at its start).
    Instruction* ThreadFunction(const char* name, const std::function<void()>& body) {
        Instruction* start = StartProc(name, true);
        Emit(Opcode::PARMSPUSHVAR, Handle_PARMSPUSHVAR, "P$");
        Emit(Opcode::SAVESP, Builtin___savesp);
        body();
        Emit(Opcode::RETURN, Handle_RETURN);
        EndProc();
        return start;
    }

    // createthread as a script calls it, under the interpreter lock.
    double CreateThread(double procedure, double parameter) {
        InterpreterLockGuard lock;
        for (double value : {0.0, procedure, parameter, 4.0 /* a suspended start: ignored */, 0.0})
            PushValue(nullptr, value, nullptr);
        Builtin_createthread();
        return PopNumber();
    }
};

TEST_F(ScriptThreadTest, AThreadEndsWithTheValueItsProcedureReturns) {
    Instruction* twice = ThreadFunction("TWICE(1,1)", [this] {
        PushVar("P$");
        PushInt(2);
        Call(testing::TestMultiply);
    });
    Instruction* text = ThreadFunction("TEXT(1,1)", [this] { Emit(Opcode::PUSHSTR, Handle_PUSHSTR, "12"); });
    Instruction* negative = ThreadFunction("NEGATIVE(1,1)", [this] { PushInt(-1); });
    struct Case {
        Instruction* procedure;
        double parameter;
        uint32_t exitCode;
    };
    const Case cases[] = {{twice, 21, 42}, {text, 0, 12}, {negative, 0, 4294967295u}};
    const StackEntry* top = context->stackTop;
    for (const Case& c : cases) {
        const double handle = CreateThread(Address(c.procedure), c.parameter);
        ASSERT_GT(handle, 0);
        EXPECT_EQ(JoinScriptThread(handle), c.exitCode);
        EXPECT_EQ(context->stackTop, top);
        EXPECT_EQ(context->argumentFrame.count, 0);
    }
    EXPECT_EQ(JoinScriptThread(1e9), std::nullopt);
}

TEST_F(ScriptThreadTest, AProcedureThatLeavesNoValueEndsWithZeroAndTakesNoOtherCell) {
    PushValue(nullptr, 99, nullptr);  // a value of the caller's that the thread must not take
    StackEntry* top = context->stackTop;
    Instruction* proc = StartProc("QUIET(1,0)", false);
    Emit(Opcode::PARMSPUSHVAR, Handle_PARMSPUSHVAR, "P$");
    EndProc();
    const double handle = CreateThread(Address(proc), 5);
    EXPECT_EQ(JoinScriptThread(handle), 0u);
    EXPECT_EQ(context->stackTop, top);
    EXPECT_EQ(top->value, 99);
}

TEST_F(ScriptThreadTest, OnlyTheStartOfAProcedureOfTheRunningProgramIsAccepted) {
    Instruction* start = StartProc("WORK(1,0)", false);
    Instruction* body = PushInt(1);
    EndProc();
    ProgramContext* other = Application("OTHER.QOB");
    CurrentCompilerPool = other->pool;
    Instruction* foreign = EmitInstruction(nullptr, NopHandler, "\xE9 ! F", 0, nullptr,
                                           static_cast<uint32_t>(Opcode::STARTPROC), nullptr, 0, 0);
    CurrentCompilerPool = context->pool;
    other->instructions = foreign;
    for (double procedure : {0.0, 12345.0, Address(body), Address(foreign), -Address(start)})
        EXPECT_EQ(CreateThread(procedure, 0), 0) << procedure;
    EXPECT_EQ(CountStackEntries(context->stackTop), 1);
}

TEST_F(ScriptThreadTest, AThreadWhoseApplicationEndedBeforeItRanDoesNothing) {
    ProgramContext* other = Application("OTHER.QOB");
    CurrentCompilerPool = other->pool;
    Instruction* start = EmitInstruction(nullptr, NopHandler, "\xE9 ! T", 1.0, nullptr,
                                         static_cast<uint32_t>(Opcode::STARTPROC), nullptr, 0, 0);
    EmitInstruction(start, Handle_ENDPROC, nullptr, 0, nullptr, static_cast<uint32_t>(Opcode::ENDPROC), nullptr, 0, 0);
    other->instructions = start;
    double handle = 0;
    {
        InterpreterLockGuard lock;  // the thread cannot start running before the end
        CurrentContext = other;
        handle = CreateThread(Address(start), 3);
        CurrentContext = context;
        EndProgramContext(other);
    }
    CurrentCompilerPool = context->pool;
    ASSERT_GT(handle, 0);
    EXPECT_EQ(JoinScriptThread(handle), 0u);
}

}  // namespace
}  // namespace qob
