// tests/host/run_builtins_test.cpp
// The run built-ins as a running program calls them: arguments from the
// value stack, results pushed, switches put back.

#include "host/run_builtins.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "host/builtin_registry.h"
#include "host/command_line.h"
#include "host/driver.h"
#include "platform/message_box.h"
#include "platform/temp_directory.h"
#include "runtime/data/file_routines.h"
#include "runtime/memory/pool.h"
#include "runtime/registry/function_table.h"
#include "runtime/values/variable_store.h"
#include "runtime/vm/program_context.h"
#include "runtime/vm/value_stack.h"
#include "runtime/vm/vm.h"

namespace qob {
namespace {

class RunBuiltinsTest : public ::testing::Test {
protected:
    void SetUp() override {
        FreeFunctionTable();
        RegisterBuiltins();
        SetApplicationDirectory(root.Path() + "/");
        output = std::tmpfile();
        platform::SetMessageBoxOutput(output, output);
        caller = CreateProgramContext();
        caller->kind = kContextIndependent;
        caller->quietEnd = 1;
        caller->ownsClassRecords = 1;
        caller->pool = CreatePool(64 * 1024);
        CreateBottomStackEntry(caller);
        caller->globalHead = AllocateVariableRecord(caller, false);
        CurrentContext = caller;
        LocalVariableList = caller->globalHead;
    }

    void TearDown() override {
        platform::SetMessageBoxOutput(nullptr, nullptr);
        std::fclose(output);
        while (LastContext) EndProgramContext(LastContext);
        CurrentContext = nullptr;
        LocalVariableList = nullptr;
        if (ConstantList) {
            FreeVariableChain(nullptr, ConstantList, true);
            FreeVariableList(nullptr, ConstantList);
            ConstantList = nullptr;
        }
        FreeFunctionTable();
        Switches = RuntimeSwitches{};
    }

    std::string Output() {
        std::fflush(output);
        std::rewind(output);
        std::string text;
        int c;
        while ((c = std::fgetc(output)) != EOF) text += static_cast<char>(c);
        return text;
    }

    testing::TempDirectory root;
    testing::ScopedEnvironment rootVariable{"QOB_ROOT", (root.Path() + "/").c_str()};
    std::FILE* output = nullptr;
    ProgramContext* caller = nullptr;
};

TEST_F(RunBuiltinsTest, RunTakesItsArgumentAndPushesZeroForAMainProgram) {
    PushValue("PROC MAIN showmessage(\"ran\"); END;", 0.0, nullptr);
    Builtin_run();
    EXPECT_EQ(Output(), "ran\n");
    EXPECT_EQ(CountStackEntries(caller->stackTop), 2);
    EXPECT_EQ(PopNumber(), 0.0);
}

TEST_F(RunBuiltinsTest, TheRangeCheckingFormsPutTheSwitchBack) {
    const std::string path = root.Write("probe.qob", "FUNC WINMAIN\n  RETURN(1);\nEND;\n");
    PushValue(path.c_str(), 0.0, nullptr);  // a pushed text is not copied
    Builtin_runfileex();
    const auto* context = reinterpret_cast<ProgramContext*>(static_cast<uintptr_t>(PopNumber()));
    ASSERT_TRUE(IsLiveContext(context));
    EXPECT_EQ(context->rangeCheck, 1) << "made while range checking was on";
    EXPECT_FALSE(Switches.rangeCheck);
}

TEST_F(RunBuiltinsTest, EvalEndsItsChildWhenAsked) {
    for (double endFlag : {1.0, 0.0}) {
        PushValue("a$ = 3", 0.0, nullptr);
        PushNumber(kContextSharedGlobals);
        PushNumber(endFlag);
        Builtin_eval();
        const double handle = PopNumber();
        EXPECT_EQ(PopNumber(), 3) << "the child's value is on the caller's stack";
        EXPECT_EQ(handle == 0.0, endFlag != 0.0);
        EXPECT_EQ(FindNamedItem(caller->globalHead, "A$")->value, 3);
    }
}

TEST_F(RunBuiltinsTest, ImportDeclaresANativeFunctionFromSevenValues) {
    PushValue("TRIPLE", 0.0, nullptr);
    PushValue("libtriple.dll", 0.0, nullptr);
    PushValue("triple_entry", 0.0, nullptr);
    PushNumber(1);
    PushNumber(1);
    PushNumber(0);
    PushNumber(1);
    Builtin_import();
    EXPECT_EQ(CountStackEntries(caller->stackTop), 1) << "all seven values are taken";
    const FunctionRecord* record = FunctionRecordAt(FindFunctionByName("TRIPLE"));
    ASSERT_NE(record, nullptr);
    EXPECT_TRUE(record->declaredNative);
    EXPECT_EQ(record->libraryName, "libtriple.dll");
    EXPECT_EQ(record->argumentCount, 1);
    EXPECT_EQ(record->returnsValue, 1);
    EXPECT_EQ(record->sForm, 1);
}

}  // namespace
}  // namespace qob
