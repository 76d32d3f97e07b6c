// tests/host/driver_test.cpp
// CompileAndRun and the run built-ins' routines on real programs: compiling
// and loading, the reports of failed compiles, the parent modes, WINMAIN,
// the application names and the loader program.

#include "host/driver.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "compiler/compile_messages.h"
#include "compiler/compiled_file/compiled_file.h"
#include "host/builtin_registry.h"
#include "host/command_line.h"
#include "host/debugger_link.h"
#include "host/run_builtins.h"
#include "platform/files.h"
#include "platform/memory.h"
#include "platform/message_box.h"
#include "platform/temp_directory.h"
#include "runtime/data/file_routines.h"
#include "runtime/data/number_text.h"
#include "runtime/memory/pool.h"
#include "runtime/registry/function_table.h"
#include "runtime/values/variable_store.h"
#include "runtime/vm/instruction.h"
#include "runtime/vm/opcodes.h"
#include "runtime/vm/program_context.h"
#include "runtime/vm/runtime_error.h"
#include "runtime/vm/value_stack.h"
#include "runtime/vm/vm.h"

namespace qob {
namespace {

using testing::ScopedEnvironment;
using testing::TempDirectory;

TEST(CompiledFileNameTest, TheExtensionOfTheFileNamePartIsReplacedOrOneAppended) {
    struct Case {
        const char* source;
        const char* compiled;
    };
    constexpr Case kCases[] = {
        {"prog.qob", "prog.qoc"},         {"PROG.QOB", "PROG.qoc"},           {"prog", "prog.qoc"},
        {"ab", "ab.qoc"},                 {"a", "a.qoc"},                     {"notes.txt", "notes.qoc"},
        {"/dir.v2/prog", "/dir.v2/prog.qoc"}, {"\\dir.v2\\prog", "\\dir.v2\\prog.qoc"}, {"x.tar.qob", "x.tar.qoc"},
        {"/a/.hidden", "/a/.hidden.qoc"},
    };
    for (const Case& c : kCases) EXPECT_EQ(CompiledFileNameFor(c.source), c.compiled) << c.source;
}

class DriverTest : public ::testing::Test {
protected:
    void SetUp() override {
        FreeFunctionTable();
        RegisterBuiltins();
        SetApplicationDirectory(root.Path() + "/");
        boxes = std::tmpfile();
        errors = std::tmpfile();
        platform::SetMessageBoxOutput(boxes, errors);
        DeclareVariable("ERROR%", nullptr, 0.0, nullptr, 0);
        DeclareVariable("LASTERROR%", nullptr, 0.0, nullptr, 0);
    }

    void TearDown() override {
        platform::SetMessageBoxOutput(nullptr, nullptr);
        std::fclose(boxes);
        std::fclose(errors);
        CurrentContext = nullptr;
        LocalVariableList = nullptr;
        // Children first: they live on their parents' heaps. A detached
        // child is never torn down by the runtime; it owns what an
        // independent context owns, so it goes as one.
        while (ProgramContext* context = LastContext) {
            if (context->kind == kContextDetached) context->kind = kContextIndependent;
            EndProgramContext(context);
        }
        CurrentContext = nullptr;
        if (ConstantList) {
            FreeVariableChain(nullptr, ConstantList, true);
            FreeVariableList(nullptr, ConstantList);
            ConstantList = nullptr;
        }
        CloseCompileLog();
        ResetCompileMessages();
        FreeFunctionTable();
        Switches = RuntimeSwitches{};
        LoaderFlag = false;
    }

    std::string Write(const std::string& name, const std::string& source) { return root.Write(name, source); }

    static std::string Read(std::FILE* file) {
        std::fflush(file);
        std::rewind(file);
        std::string text;
        int c;
        while ((c = std::fgetc(file)) != EOF) text += static_cast<char>(c);
        return text;
    }
    std::string Output() { return Read(boxes); }
    std::string Errors() { return Read(errors); }
    std::string Log() { return platform::ReadFileBytes(root.Join("errorlog.txt")).value_or(""); }
    bool Exists(const std::string& name) { return std::filesystem::exists(root.Join(name)); }
    static std::string Lower(std::string text) {
        for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return text;
    }

    // A context that stands for a running program calling into the driver.
    ProgramContext* MakeParent() {
        ProgramContext* parent = CreateProgramContext();
        parent->kind = kContextIndependent;
        parent->quietEnd = 1;
        parent->ownsClassRecords = 1;
        parent->pool = CreatePool(64 * 1024);
        CreateBottomStackEntry(parent);
        parent->globalHead = AllocateVariableRecord(parent, false);
        CurrentContext = parent;
        LocalVariableList = parent->globalHead;
        return parent;
    }

    static double NumberIn(VariableRecord* list, const char* name) {
        VariableRecord* variable = FindNamedItem(list, name);
        return variable ? variable->value : -1.0;
    }

    TempDirectory root;
    ScopedEnvironment rootVariable{"QOB_ROOT", (root.Path() + "/").c_str()};
    ScopedEnvironment registry{"QOB_REGISTRY", root.Join("registry").c_str()};
    std::FILE* boxes = nullptr;
    std::FILE* errors = nullptr;
};

constexpr const char* kHello = "PROC MAIN\n  showmessage(\"hi\");\nEND;\n";

TEST_F(DriverTest, ASourceRunsAndItsCompiledFileIsLoadedTheNextTime) {
    const std::string path = Write("prog.qob", kHello);
    EXPECT_EQ(CompileAndRun(path.c_str(), nullptr, false, 0), nullptr) << "a MAIN program ends at once";
    EXPECT_EQ(Output(), "hi\n");
    EXPECT_TRUE(Exists("prog.qoc"));
    EXPECT_NE(Log().find("Compiling... ("), std::string::npos) << Log();
    EXPECT_NE(Log().find("Saving qoc file... ("), std::string::npos) << Log();

    EXPECT_EQ(CompileAndRun(path.c_str(), nullptr, false, 0), nullptr);
    EXPECT_EQ(Output(), "hi\nhi\n");
    EXPECT_NE(Log().find("Loading qoc file... ("), std::string::npos) << Log();
    EXPECT_EQ(Log().find("Compiling"), std::string::npos) << Log();
}

TEST_F(DriverTest, ACompiledFileThatIsRefusedGivesWayToItsSource) {
    const std::string path = Write("prog.qob", kHello);
    const std::string compiled = Write("prog.qoc", "damaged beyond repair");
    std::filesystem::last_write_time(compiled, std::filesystem::file_time_type::clock::now() + std::chrono::hours(1));
    CompileAndRun(path.c_str(), nullptr, false, 0);
    EXPECT_EQ(Output(), "hi\n");
    EXPECT_NE(Errors().find("The compiled file prog.qoc cannot be used"), std::string::npos) << Errors();
    const std::string bytes = *platform::ReadFileBytes(compiled);
    EXPECT_TRUE(DecodeCompiledImage({reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()}).has_value())
        << "the source's compiled file replaces the damaged one";
}

TEST_F(DriverTest, AProgramWithoutAnExtensionNeverTouchesAnotherFile) {
    const std::string path = Write("script", kHello);
    Write("scrqoc", "someone else's file");
    CompileAndRun(path.c_str(), nullptr, false, 0);
    EXPECT_EQ(Output(), "hi\n");
    EXPECT_EQ(platform::ReadFileBytes(root.Join("scrqoc")), "someone else's file");
    EXPECT_TRUE(Exists("script.qoc"));
}

TEST_F(DriverTest, SwitchesThatCompileAgainDespiteACurrentCompiledFile) {
    const std::string path = Write("prog.qob", kHello);
    CompileAndRun(path.c_str(), nullptr, false, 0);
    ASSERT_TRUE(Exists("prog.qoc"));
    for (bool RuntimeSwitches::* flag : {&RuntimeSwitches::recompile, &RuntimeSwitches::profiling,
                                          &RuntimeSwitches::memoryTracking}) {
        Switches = RuntimeSwitches{};
        Switches.*flag = true;
        CompileAndRun(path.c_str(), nullptr, false, 0);
        EXPECT_NE(Log().find("Compiling..."), std::string::npos) << Log();
        EXPECT_TRUE(Exists("prog.qoc"));
    }
    EXPECT_EQ(Output(), "hi\nhi\nhi\nhi\n");
}

TEST_F(DriverTest, DebugModeNeitherLoadsNorWritesCompiledFiles) {
    const std::string path = Write("prog.qob", kHello);
    WriteDebuggerValue("RUNNING", "1");  // without a debugger the program would end at its first line
    Switches.debugMode = true;
    CompileAndRun(path.c_str(), nullptr, false, 0);
    EXPECT_EQ(Output(), "hi\n");
    EXPECT_FALSE(Exists("prog.qoc"));
}

TEST_F(DriverTest, CompileOnlyCompilesAndRunsNothing) {
    const std::string path = Write("prog.qob", kHello);
    EXPECT_EQ(CompileAndRun(path.c_str(), nullptr, true, 0), nullptr);
    EXPECT_EQ(Output(), "");
    EXPECT_TRUE(Exists("prog.qoc"));
    EXPECT_EQ(FirstContext, nullptr) << "the context is ended";
}

TEST_F(DriverTest, AFailedCompileIsLoggedShownAndCounted) {
    const std::string path = Write("bad.qob", "PROC MAIN\n  showmessage(\"x\")\nEND;\n");
    const int failedBefore = FailedCompileCount();
    for (int32_t logSwitch : {1, 0}) {
        RuntimeLogSwitch = logSwitch;
        EXPECT_EQ(CompileAndRun(path.c_str(), nullptr, false, 0), nullptr);
        EXPECT_EQ(RuntimeLogSwitch, logSwitch) << "the run-time log switch is put back";
    }
    EXPECT_EQ(Output(), "");
    const std::string box = "ERROR: error: (" + Lower(path) + ") [Syntax error at 'END' (3,1)]\n\n";
    EXPECT_EQ(Errors(), box + box);
    EXPECT_NE(Log().find("** error ** (" + Lower(path) + ") Syntax error at 'END' (3,1)\n"), std::string::npos)
        << Log();
    EXPECT_NE(Log().find("\n** 1 error(s), 0 warning(s)\n"), std::string::npos) << Log();
    EXPECT_FALSE(Exists("bad.qoc"));
    EXPECT_EQ(FailedCompileCount(), failedBefore + 2);
}

TEST_F(DriverTest, AProgramWithoutMainIsAnError) {
    const std::string path = Write("nomain.qob", "PROC other\nEND;\n");
    EXPECT_EQ(CompileAndRun(path.c_str(), nullptr, false, 0), nullptr);
    EXPECT_NE(Errors().find("No main entry point defined"), std::string::npos) << Errors();
}

TEST_F(DriverTest, TheErrorProgramReceivesTheErrorsInsteadOfTheBox) {
    Write("ShowError.qob", "PROC MAIN\n  showmessage(\"shown by ShowError: \", LASTERROR%);\nEND;\n");
    const std::string path = Write("bad.qob", "PROC MAIN\n  x$ = ;\nEND;\n");
    CompileAndRun(path.c_str(), nullptr, false, 0);
    const std::string errors = "error: (" + Lower(path) + ") [Expression expected at ';' (2,8)]\n";
    EXPECT_EQ(Output(), "shown by ShowError: " + errors + "\n");
    EXPECT_EQ(Errors(), "");
    EXPECT_EQ(GetCompileMessageState().compileErrors, errors) << "the failed program's errors are put back";
}

TEST_F(DriverTest, AnErrorProgramThatFailsItselfEndsInTheBox) {
    const std::string showError = Write("ShowError.qob", "PROC MAIN\n  x$ = ;\nEND;\n");
    CompileAndRun(showError.c_str(), nullptr, false, 0);
    EXPECT_EQ(Output(), "");
    EXPECT_EQ(Errors(), "ERROR: error: (" + Lower(showError) + ") [Expression expected at ';' (2,8)]\n\n");
}

TEST_F(DriverTest, NoErrorDisplayShowsNoFailedCompile) {
    Switches.noErrorDisplay = true;
    const std::string path = Write("bad.qob", "PROC MAIN\n  x$ = ;\nEND;\n");
    CompileAndRun(path.c_str(), nullptr, false, 0);
    EXPECT_EQ(Output() + Errors(), "");
    EXPECT_NE(Log().find("Expression expected"), std::string::npos);
}

TEST_F(DriverTest, WinMainKeepsItsContextOnlyWhenItReturnsNonZero) {
    const std::string ends = Write("ends.qob", "FUNC WINMAIN\n  RETURN(0);\nEND;\n");
    EXPECT_EQ(CompileAndRun(ends.c_str(), nullptr, false, 0), nullptr);
    EXPECT_EQ(FirstContext, nullptr);
    const std::string stays = Write("stays.qob", "FUNC WINMAIN\n  RETURN(1);\nEND;\n");
    ProgramContext* context = CompileAndRun(stays.c_str(), nullptr, false, 0);
    ASSERT_NE(context, nullptr);
    EXPECT_TRUE(IsLiveContext(context));
    EXPECT_EQ(CurrentContext, nullptr) << "the caller's (no) context is current again";
}

TEST_F(DriverTest, AnIndependentRunNamesItsApplication) {
    const std::string path = Write("Named.qob",
                                   "FUNC WINMAIN\n  showmessage(APPNAME$);\n  showmessage(APPPATH$);\n"
                                   "  showmessage(APPHANDLE$);\n  RETURN(1);\nEND;\n");
    ProgramContext* context = CompileAndRun(path.c_str(), nullptr, false, 0);
    ASSERT_NE(context, nullptr);
    char handle[kNumberTextSize];
    FormatNumber(static_cast<double>(reinterpret_cast<uintptr_t>(context)), handle);
    EXPECT_EQ(Output(), "named.qob\n" + Lower(root.Path()) + "/\n" + handle + "\n");
    EXPECT_STREQ(context->appName, "NAMED.QOB");
}

TEST_F(DriverTest, ChildrenShareWhatTheirModeSays) {
    ProgramContext* parent = MakeParent();
    StackEntry* bottom = parent->stackTop;

    ProgramContext* globals = CompileAndRun(nullptr, "a$ = 5; 7", false, kContextSharedGlobals);
    ASSERT_NE(globals, nullptr);
    EXPECT_EQ(CurrentContext, parent);
    EXPECT_EQ(NumberIn(parent->globalHead, "A$"), 5);
    ASSERT_EQ(CountStackEntries(parent->stackTop), 3) << "the child's values are on the caller's stack";
    EXPECT_EQ(parent->stackTop->value, 7);
    EXPECT_EQ(parent->stackTop->below->value, 5);
    parent->stackTop = bottom;

    ProgramContext* ownList = CompileAndRun(nullptr, "b$ = 1", false, kContextSharedOwnList);
    ASSERT_NE(ownList, nullptr);
    EXPECT_EQ(FindNamedItem(parent->globalHead, "B$"), nullptr);
    EXPECT_EQ(NumberIn(ownList->localHead, "B$"), 1);
    parent->stackTop = bottom;

    VariableRecord* list = AllocateVariableRecord(parent, false);
    const auto listMode = static_cast<int64_t>(reinterpret_cast<uintptr_t>(list));
    ASSERT_NE(CompileAndRun(nullptr, "d$ = 4", false, listMode), nullptr);
    EXPECT_EQ(NumberIn(list, "D$"), 4);
    parent->stackTop = bottom;

    ProgramContext* detached = CompileAndRun(nullptr, "c$ = 3; 9", false, kContextDetached);
    ASSERT_NE(detached, nullptr);
    EXPECT_EQ(parent->stackTop, bottom) << "a detached child has its own stack";
    EXPECT_EQ(FindNamedItem(parent->globalHead, "C$"), nullptr);
    EXPECT_EQ(LocalVariableList, parent->globalHead);
}

// A child sharing its caller's classes keeps the classes it brings as its
// own list: the caller's list stays as it was and ends with the caller.
TEST_F(DriverTest, AChildsOwnClassesStayOffItsCallersList) {
    const std::string path = Write("shapes.qob", "#CLASS Shape\n#ENDCLASS\nPROC MAIN\nEND;\n");
    CompileFile(path.c_str(), false);
    ASSERT_TRUE(Exists("shapes.qoc"));
    ProgramContext* parent = MakeParent();
    auto* own = static_cast<ClassRecord*>(platform::AllocateZeroedBlock(sizeof(ClassRecord)));
    parent->classRecords = own;
    ProgramContext* child = CompileAndRun(root.Join("shapes.qoc").c_str(), nullptr, false, kContextSharedGlobals);
    ASSERT_NE(child, nullptr);
    EXPECT_EQ(parent->classRecords, own);
    EXPECT_EQ(own->next, nullptr);
    ASSERT_NE(child->classRecords, nullptr);
    EXPECT_STREQ(child->classRecords->name, "SHAPE");
    EXPECT_EQ(child->classRecords->next, nullptr) << "the caller's records are not the child's";
    EXPECT_TRUE(child->ownsClassRecords);
}

// The RUNFILE opcode names its program in its text and leaves the stack alone.
TEST_F(DriverTest, TheRunFileOpcodeRunsTheFileItNames) {
    Write("child.qob", kHello);
    ProgramContext* parent = MakeParent();
    CurrentCompilerPool = parent->pool;
    Instruction* node = EmitInstruction(nullptr, Builtin_runfile, root.Join("child").c_str(), 0, nullptr,
                                        static_cast<uint32_t>(Opcode::RUNFILE), nullptr, 0, 0);
    parent->instructions = node;
    CurrentCompilerPool = nullptr;
    StackEntry* top = parent->stackTop;
    CurrentInstruction = node;
    Builtin_runfile();
    CurrentInstruction = nullptr;
    EXPECT_EQ(Output(), "hi\n");
    EXPECT_EQ(parent->stackTop, top);
}

TEST_F(DriverTest, AParentModeThatNamesNoVariableListIsRefused) {
    MakeParent();
    for (int64_t mode : {int64_t{-5}, int64_t{12345}, int64_t{-1000000}}) {
        EXPECT_EQ(CompileAndRun(nullptr, "a$ = 1", false, mode), nullptr) << mode;
        EXPECT_NE(GetCompileMessageState().compileErrors.find("Invalid parent mode"), std::string::npos) << mode;
    }
}

TEST_F(DriverTest, AChildTextWithErrorsShowsNothing) {
    MakeParent();
    EXPECT_EQ(CompileAndRun(nullptr, "a$ = ;", false, kContextSharedGlobals), nullptr);
    EXPECT_EQ(Output() + Errors(), "");
    EXPECT_NE(GetCompileMessageState().compileErrors, "");
}

// The loader program hears the compile through UPDATE and cannot start
// another compile from there.
TEST_F(DriverTest, TheLoaderProgramHearsTheCompileButCannotStartAnother) {
    Write("LOAD.QOB",
          "FUNC WINMAIN\n  RETURN(1);\nEND;\n"
          "PROC UPDATE(kind$, text$, current$, total$)\n"
          "  IF (kind$ == 1)\n"
          "    showmessage(\"loading \", text$, \", a run gives \", run(\"PROC MAIN showmessage(1); END;\"));\n"
          "  END;\n"
          "  IF (kind$ == 2)\n    showmessage(\"loaded\");\n  END;\n"
          "END;\n");
    const std::string path = Write("prog.qob", kHello);
    LoaderFlag = true;
    CompileAndRun(path.c_str(), nullptr, false, 0);
    EXPECT_EQ(Output(), "loading " + Lower(path) + ", a run gives 0\nloaded\nhi\n");
    EXPECT_EQ(FirstContext, nullptr) << "the loader program ends with the progress window";
}

TEST_F(DriverTest, CompilingDeletesOnlyTheCompiledFileOfASource) {
    Write("data.txt", kHello);
    Write("data.txc", "not a compiled file");
    CompileFile(root.Join("data.txt").c_str(), false);
    EXPECT_TRUE(Exists("data.txc"));
    EXPECT_EQ(Output(), "") << "compiling runs nothing";

    const std::string path = Write("prog.qob", kHello);
    CompileFile(path.c_str(), false);
    ASSERT_TRUE(Exists("prog.qoc"));
    Write("prog.qob", "PROC MAIN\n  x$ = ;\nEND;\n");
    CompileFile(path.c_str(), false);
    EXPECT_FALSE(Exists("prog.qoc")) << "a compile with errors leaves no compiled file";
    EXPECT_EQ(Errors(), "") << "a compile-only run shows no box";
}

TEST_F(DriverTest, AFailedMakeCompileDeletesItsExecutable) {
    const std::string path = Write("prog.qob", "PROC MAIN\n  x$ = ;\nEND;\n");
    Write("prog.exe", "built before");
    Write("other.exe", "another program");
    CompileFile(path.c_str(), true);
    EXPECT_FALSE(Exists("prog.exe"));
    EXPECT_TRUE(Exists("other.exe"));
    EXPECT_FALSE(Switches.makeMode);
}

TEST_F(DriverTest, RunningAMissingFileWithFileOnlyShowsTheRunError) {
    EXPECT_EQ(RunFileOrSource(root.Join("none.qob").c_str(), true), nullptr);
    EXPECT_EQ(Output(), "Syntax error of file not found!\n\"" + root.Join("none.qob") + "\"\n");
    EXPECT_FALSE(LoaderFlag);
}

}  // namespace
}  // namespace qob
