// tests/host/debugger_link_test.cpp
// The debugger link through the registry store: the test plays the debugger
// on its own thread while the program runs (and stops) on another.

#include "host/debugger_link.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <spawn.h>
#include <sys/wait.h>

#include <fcntl.h>

#include <atomic>
#include <fstream>
#include <functional>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "host/debugger_views.h"
#include "platform/clock.h"
#include "platform/registry.h"
#include "platform/temp_directory.h"
#include "platform/text_codec.h"
#include "runtime/data/interned_names.h"
#include "runtime/values/assignment.h"
#include "runtime/vm/interpreter_lock.h"
#include "runtime/vm/push_instructions.h"
#include "runtime/vm/runtime_error.h"
#include "runtime/vm/value_stack.h"
#include "runtime/vm/vm_fixture.h"

namespace qob {
namespace {

using testing::ScopedEnvironment;
using testing::TempDirectory;

// --- the debugger's side of the registry key ----------------------------------------------

std::vector<uint16_t> Units(std::string_view text) { return platform::DecodeAnsi(text); }

void DebuggerWrite(const char* value, std::string_view text) {
    platform::HKEY key = nullptr;
    ASSERT_EQ(platform::RegCreateKeyExW(platform::HKEY_CURRENT_USER, Units("QOBDEBUGGER"), &key), platform::ERROR_SUCCESS);
    std::vector<uint16_t> units = Units(text);
    units.push_back(0);
    platform::RegSetValueExW(key, Units(value), platform::REG_SZ,
                             std::span(reinterpret_cast<const uint8_t*>(units.data()), units.size() * 2));
    platform::RegCloseKey(key);
}

std::optional<std::string> DebuggerRead(const char* value) {
    platform::HKEY key = nullptr;
    if (platform::RegOpenKeyExW(platform::HKEY_CURRENT_USER, Units("QOBDEBUGGER"), &key) != platform::ERROR_SUCCESS)
        return std::nullopt;
    uint32_t size = 0;
    std::optional<std::string> text;
    if (platform::RegQueryValueExW(key, Units(value), nullptr, nullptr, &size) == platform::ERROR_SUCCESS) {
        std::vector<uint16_t> units(size / 2);
        if (platform::RegQueryValueExW(key, Units(value), nullptr, reinterpret_cast<uint8_t*>(units.data()), &size) ==
            platform::ERROR_SUCCESS) {
            while (!units.empty() && units.back() == 0) units.pop_back();
            text = platform::EncodeAnsi(units);
        }
    }
    platform::RegCloseKey(key);
    return text;
}

void DebuggerDelete(const char* value) {
    platform::HKEY key = nullptr;
    if (platform::RegOpenKeyExW(platform::HKEY_CURRENT_USER, Units("QOBDEBUGGER"), &key) != platform::ERROR_SUCCESS)
        return;
    platform::RegDeleteValueW(key, Units(value));
    platform::RegCloseKey(key);
}

// The program under the debugger, on a thread of its own: a stop blocks it,
// and STOP or a debugger that has gone ends it.
class ProgramThread {
public:
    explicit ProgramThread(std::function<void()> run) : body(std::move(run)) {
        pthread_create(&thread, nullptr, &ProgramThread::Main, this);
    }
    ~ProgramThread() { Join(); }
    void Join() {
        if (joined) return;
        pthread_join(thread, nullptr);
        joined = true;
    }
    bool Finished() const { return finished.load(); }

private:
    static void* Main(void* self) {
        auto* program = static_cast<ProgramThread*>(self);
        {
            InterpreterLockGuard lock;
            program->body();
        }
        program->finished = true;
        return nullptr;
    }
    std::function<void()> body;
    pthread_t thread{};
    std::atomic<bool> finished{false};
    bool joined = false;
};

class DebuggerLinkTest : public testing::VmTest {
protected:
    void SetUp() override {
        VmTest::SetUp();
        platform::SetTestClock(10'000'000'000);
        ResetDebuggerLink();
        DebuggerWrite("RUNNING", "1");
        file = InternName("C:\\Work\\Prog.QOB");
    }
    void TearDown() override {
        ResetDebuggerLink();
        platform::ClearTestClock();
        VmTest::TearDown();
    }

    // Sends commands and waits for the reply that starts with prefix (or
    // for the program to end).
    std::string Command(std::string_view commands, std::string_view prefix, const ProgramThread& program) {
        DebuggerDelete("RUNTIME");
        DebuggerWrite("IDE", commands);
        return AwaitRuntime(prefix, program);
    }
    std::string AwaitRuntime(std::string_view prefix, const ProgramThread& program) {
        for (;;) {
            const std::optional<std::string> reply = DebuggerRead("RUNTIME");
            if (reply && reply->starts_with(prefix)) return *reply;
            if (program.Finished()) return reply.value_or("(program ended)");
            std::this_thread::yield();
        }
    }

    // The per-line hook step before a statement of the test file.
    void Line(int32_t line) {
        cursor = EmitInstruction(cursor, Builtin___debug, nullptr, 0, nullptr, static_cast<uint32_t>(Opcode::INTERNALCALL),
                                 file, line, 1);
    }
    void SetNumber(const char* name, double value) {
        PushInt(value);
        Assign(name);
    }

    // SUB: lines 10 and 11. MAIN: lines 1 to 4, calling SUB on line 3.
    Instruction* BuildProgram() {
        Instruction* sub = StartProc("SUB(0,0)", false);
        Line(10);
        SetNumber("A$", 5);
        Line(11);
        SetNumber("B$", 6);
        EndProc();
        Instruction* main = StartProc("MAIN", false);
        Line(1);
        SetNumber("X$", 1);
        Line(2);
        Emit(Opcode::PUSHSTR, Handle_PUSHSTR, "hello\r\nworld");
        Assign("Y$");
        Line(3);
        Emit(Opcode::CALL, RunProcedure, "SUB(0,0)", 0.0, sub);
        Line(4);
        SetNumber("Z$", 3);
        EndProc();
        return main;
    }

    TempDirectory store;
    ScopedEnvironment storeSetting{"QOB_REGISTRY", store.Path().c_str()};
    const char* file = nullptr;
};

// Items of a view reply ("\nVAR%\n<count>" then "\n"-started items).
std::vector<std::string> ReplyItems(const std::string& reply, int* count) {
    std::vector<std::string> items;
    const std::string header = "\nVAR%\n";
    if (!reply.starts_with(header)) return items;
    size_t at = header.size();
    size_t next = reply.find('\n', at);
    *count = std::stoi(reply.substr(at, next - at));
    while (next != std::string::npos) {
        const size_t end = reply.find('\n', next + 1);
        items.push_back(reply.substr(next + 1, end == std::string::npos ? std::string::npos : end - next - 1));
        next = end;
    }
    return items;
}

TEST_F(DebuggerLinkTest, TheDebuggerStopsViewsStepsAndResumesARunningProgram) {
    DebuggerWrite("IDE", "Prog.qob|3");
    ReadInitialBreakpoints();
    EXPECT_FALSE(DebuggerRead("IDE"));
    Instruction* main = BuildProgram();
    ProgramThread program([&] { RunProcedureIn(context, main); });

    EXPECT_EQ(AwaitRuntime("\nBREAK", program), "\nBREAK\nprog.qob\n3");

    int count = 0;
    std::vector<std::string> items = ReplyItems(Command("LOCAL", "\nVAR%", program), &count);
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(items[0], "X$|1");
    EXPECT_TRUE(std::regex_match(items[1], std::regex("Y\\$ \\(C\\)\\|0x[0-9A-F]{8,}:\"hello\x01world\"")))
        << items[1];

    EXPECT_EQ(Command("STEPINTO", "\nBREAK", program), "\nBREAK\nprog.qob\n10");
    items = ReplyItems(Command("CALLSTACK", "\nVAR%", program), &count);
    ASSERT_EQ(items.size(), 2u);
    EXPECT_TRUE(std::regex_match(items[0], std::regex("SUB\\|0x[0-9A-F]{8,}"))) << items[0];
    EXPECT_TRUE(std::regex_match(items[1], std::regex("MAIN\\|0x[0-9A-F]{8,}"))) << items[1];
    EXPECT_EQ(Command("STEPOVER", "\nBREAK", program), "\nBREAK\nprog.qob\n11");

    DebuggerDelete("RUNTIME");
    DebuggerWrite("IDE", "RUN");
    program.Join();
    EXPECT_TRUE(program.Finished());
    EXPECT_FALSE(DebuggerRead("RUNTIME")) << "no stop after RUN";
}

TEST_F(DebuggerLinkTest, StepOverRunsACalledProcedureWithoutStoppingInIt) {
    SetBreakpoint("prog.qob", 3, 0);
    Instruction* main = BuildProgram();
    ProgramThread program([&] { RunProcedureIn(context, main); });
    EXPECT_EQ(AwaitRuntime("\nBREAK", program), "\nBREAK\nprog.qob\n3");
    EXPECT_EQ(Command("STEPOVER", "\nBREAK", program), "\nBREAK\nprog.qob\n4");
    DebuggerWrite("IDE", "RUN");
    program.Join();
    EXPECT_TRUE(program.Finished());
}

TEST_F(DebuggerLinkTest, RunToStopsOnceAtItsLineAndForgetsEarlierTemporaryBreakpoints) {
    SetBreakpoint("prog.qob", 1, 0);
    SetBreakpoint("prog.qob", 10, 1);  // an earlier RUNTO target: replaced by the next RUNTO
    Instruction* main = BuildProgram();
    ProgramThread program([&] { RunProcedureIn(context, main); });
    EXPECT_EQ(AwaitRuntime("\nBREAK", program), "\nBREAK\nprog.qob\n1");
    EXPECT_EQ(Command("RUNTO|PROG.QOB|11", "\nBREAK", program), "\nBREAK\nprog.qob\n11");
    for (int32_t i = 0; i < BreakpointCount(); ++i)
        EXPECT_FALSE(BreakpointAt(i)->used && BreakpointAt(i)->temporary) << BreakpointAt(i)->line;
    DebuggerWrite("IDE", "RUN");
    program.Join();
    EXPECT_TRUE(program.Finished());
}

TEST_F(DebuggerLinkTest, ABreakpointOnARepeatedLineStopsOnlyTheFirstTime) {
    SetBreakpoint("prog.qob", 5, 0);
    std::atomic<int> passes{0};
    ProgramThread program([&] {
        for (int i = 0; i < 3; ++i) {
            DebugLineHook(5, file);
            ++passes;
        }
    });
    EXPECT_EQ(AwaitRuntime("\nBREAK", program), "\nBREAK\nprog.qob\n5");
    EXPECT_EQ(passes.load(), 0);
    DebuggerDelete("RUNTIME");
    DebuggerWrite("IDE", "RUN");
    program.Join();
    EXPECT_EQ(passes.load(), 3);
    EXPECT_FALSE(DebuggerRead("RUNTIME"));
}

TEST_F(DebuggerLinkTest, StopEndsTheProgramThreadAndRemovesTheValues) {
    SetBreakpoint("prog.qob", 1, 0);
    Instruction* main = BuildProgram();
    ProgramThread program([&] { RunProcedureIn(context, main); });
    EXPECT_EQ(AwaitRuntime("\nBREAK", program), "\nBREAK\nprog.qob\n1");
    DebuggerWrite("IDE", "STOP");
    program.Join();
    EXPECT_FALSE(program.Finished());
    EXPECT_FALSE(DebuggerRead("RUNNING"));
    EXPECT_FALSE(DebuggerRead("IDE"));
    EXPECT_FALSE(DebuggerRead("RUNTIME"));
    AcquireInterpreterLock();  // the ended thread gave the lock back
    ReleaseInterpreterLock();
}

TEST_F(DebuggerLinkTest, AMissingRunningValueEndsTheThreadAtTheNextPoll) {
    DebuggerDelete("RUNNING");
    DebuggerWrite("RUNTIME", "stale");
    ProgramThread program([&] { DebugLineHook(1, file); });  // the first line polls at once
    program.Join();
    EXPECT_FALSE(program.Finished());
    EXPECT_FALSE(DebuggerRead("RUNTIME"));
}

TEST_F(DebuggerLinkTest, WhilePollingOnlyRunResumesAndTheOtherResumeCommandsAreConsumed) {
    struct Case {
        const char* commands;
        bool resumes;
        int32_t stepMode;
    };
    constexpr Case kCases[] = {
        {"STEPOVER", false, 0}, {"STEPINTO", false, 0}, {"RUNTO|a.qob|3", false, 0}, {"RUN", true, 0}};
    for (const Case& c : kCases) {
        DebuggerWrite("IDE", c.commands);
        EXPECT_EQ(ServeDebugger(file, true), c.resumes) << c.commands;
        EXPECT_EQ(DebugStepMode(), c.stepMode) << c.commands;
        EXPECT_EQ(BreakpointCount(), 0) << c.commands;
        EXPECT_FALSE(DebuggerRead("IDE")) << c.commands;
    }
    DebuggerWrite("IDE", "STEPINTO");
    EXPECT_TRUE(ServeDebugger(file, false));
    EXPECT_EQ(DebugStepMode(), 2);
}

TEST_F(DebuggerLinkTest, BreakTogglesAndClearEmptiesTheTable) {
    DebuggerWrite("IDE", "BREAK|a.qob|5|BREAK|A.QOB|5|BREAK|\\dir\\b.qob|7|BREAK|c.qob");
    EXPECT_FALSE(ServeDebugger(file, true));
    int32_t used = 0;
    for (int32_t i = 0; i < BreakpointCount(); ++i) {
        if (!BreakpointAt(i)->used) continue;
        ++used;
        EXPECT_EQ(BreakpointAt(i)->file, "b.qob");
        EXPECT_EQ(BreakpointAt(i)->line, 7);
    }
    EXPECT_EQ(used, 1);
    DebuggerWrite("IDE", "CLEAR");
    ServeDebugger(file, true);
    EXPECT_EQ(BreakpointCount(), 0);
}

TEST_F(DebuggerLinkTest, AFullBreakpointTableRefusesMoreBreakpoints) {
    for (int32_t line = 1; line <= kMaxBreakpoints; ++line) ASSERT_TRUE(SetBreakpoint("a.qob", line, 0));
    EXPECT_FALSE(SetBreakpoint("a.qob", kMaxBreakpoints + 1, 0));
    EXPECT_FALSE(SetBreakpoint("b.qob", 1, 1));
    EXPECT_EQ(BreakpointCount(), kMaxBreakpoints);
    // Removing one makes room again, in the freed record.
    EXPECT_TRUE(SetBreakpoint("a.qob", 10, 0));
    EXPECT_TRUE(SetBreakpoint("b.qob", 1, 0));
    EXPECT_EQ(BreakpointAt(9)->file, "b.qob");
}

TEST_F(DebuggerLinkTest, ClearingTheLastTemporaryBreakpointLowersTheCount) {
    SetBreakpoint("a.qob", 1, 0);
    SetBreakpoint("a.qob", 2, 1);
    ClearTemporaryBreakpoints("A.QOB");
    EXPECT_EQ(BreakpointCount(), 1);
    EXPECT_TRUE(BreakpointAt(0)->used);
}

TEST_F(DebuggerLinkTest, AnItemThatDoesNotFitEndsTheReplyWellFormed) {
    // A text longer than the whole reply, between two short variables.
    Global("A$")->value = 1;
    const std::string huge(kViewReplyCapacity + 10, 'x');
    SetVariableValue(Global("B$"), huge.c_str(), 0.0, nullptr, static_cast<int64_t>(huge.size() + 1));
    Global("C$")->value = 3;
    LocalVariableList = context->globalHead;
    DebuggerWrite("IDE", "LOCAL");
    ServeDebugger(file, true);
    const std::optional<std::string> reply = DebuggerRead("RUNTIME");
    ASSERT_TRUE(reply);
    int count = 0;
    const std::vector<std::string> items = ReplyItems(*reply, &count);
    EXPECT_EQ(count, 1);
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0], "A$|1");
}

TEST(ViewReplyTest, KeepsWholeItemsUpToItsCapacity) {
    auto reply = std::make_unique<ViewReply>();
    const std::string chunk(1000, 'v');
    int32_t added = 0;
    while (!reply->IsFull()) {
        reply->BeginItem();
        reply->AddRaw("name|");
        reply->AddValueText(chunk);
        reply->EndItem();
        if (!reply->IsFull()) ++added;
    }
    reply->BeginItem();
    reply->AddRaw("small|1");
    reply->EndItem();
    EXPECT_EQ(reply->Count(), added);
    EXPECT_EQ(reply->Items().size(), static_cast<size_t>(added) * (1 + 5 + 1000));
    EXPECT_LE(reply->Items().size(), kViewReplyCapacity);
}

TEST(ViewReplyTest, LineEndsInValuesBecomeOneByte) {
    auto reply = std::make_unique<ViewReply>();
    reply->BeginItem();
    reply->AddValueText("a\r\nb\nc\rd");
    reply->EndItem();
    EXPECT_EQ(reply->Items(), "\na\x01" "b\x01" "c\rd");
}

TEST_F(DebuggerLinkTest, StackViewNumbersTheEntriesFromTheTopDown) {
    PushValue(nullptr, 7.0, nullptr);
    PushValue("two\nlines", 0.0, Global("V$"));
    context->stackTop->flags = kEntryByReference;
    DebuggerWrite("IDE", "STACK|0|APPLICATION");
    ServeDebugger(file, true);
    int count = 0;
    const std::vector<std::string> items = ReplyItems(DebuggerRead("RUNTIME").value_or(""), &count);
    ASSERT_EQ(count, 7);
    EXPECT_EQ(items[0], "Item #2 R| (V$)|two\x01lines");
    EXPECT_EQ(items[1], "Item #1 |7");
    EXPECT_EQ(items[2], "Name|");
    EXPECT_EQ(items[5], "Stack count|3");
    EXPECT_EQ(items[6], "Windows count|0");
}

TEST_F(DebuggerLinkTest, DisassemblyMarksTheStatementAboutToRunAndLeavesOutHookSteps) {
    Instruction* main = BuildProgram();
    for (Instruction* node = main; node; node = node->next)
        if (node->opcode == static_cast<uint32_t>(Opcode::CALL)) CurrentInstruction = node->previous;  // line 3's hook
    ASSERT_TRUE(IsDebugStep(CurrentInstruction));
    DebuggerWrite("IDE", "DISASM|0");
    ServeDebugger(file, true);
    int count = 0;
    const std::vector<std::string> items = ReplyItems(DebuggerRead("RUNTIME").value_or(""), &count);
    int marked = 0;
    for (const std::string& item : items) {
        EXPECT_EQ(item.find("__debug"), std::string::npos) << item;
        if (item[0] == '*') {
            ++marked;
            EXPECT_NE(item.find("CALL"), std::string::npos) << item;
        }
    }
    EXPECT_EQ(marked, 1);
    EXPECT_EQ(static_cast<int>(items.size()), count);
}

TEST_F(DebuggerLinkTest, RegistersComeFromTheAssemblerMachine) {
    DebuggerWrite("IDE", "REGISTERS");
    EXPECT_FALSE(ServeDebugger(file, true));
    EXPECT_FALSE(DebuggerRead("RUNTIME")) << "no machine, no items, no reply";
    SetRegisterSource([](std::span<RegisterValue> registers) -> size_t {
        registers[0] = {"R0", 12};
        registers[1] = {"SP", 4096};
        return 2;
    });
    DebuggerWrite("IDE", "REGISTERS");
    ServeDebugger(file, true);
    SetRegisterSource(nullptr);
    EXPECT_EQ(DebuggerRead("RUNTIME"), "\nVAR%\n2\nR0|12\nSP|4096");
}

TEST_F(DebuggerLinkTest, LocalStackTakesOnlyHandlesOfFramesTheHookSaw) {
    VariableRecord* frame = context->globalHead;
    Global("A$")->value = 4;
    LocalVariableList = frame;
    NoteDebuggedFrame(context, frame, "MAIN");
    char handle[32];
    // As CALLSTACK shows it.
    std::snprintf(handle, sizeof handle, "0x%08llX", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(frame)));
    DebuggerWrite("IDE", std::string("LOCALSTACK|12345|LOCALSTACK|") + handle);
    ServeDebugger(file, true);
    EXPECT_EQ(DebuggerRead("RUNTIME"), "\nVAR%\n1\nA$|4");
}

TEST_F(DebuggerLinkTest, StackParamsListsTheRecordsAfterOneOfASeenFrame) {
    VariableRecord* first = Global("P1$");
    first->value = 1;
    Global("P2$")->value = 2;
    Global("P3$")->value = 3;
    NoteDebuggedFrame(context, context->globalHead, "MAIN");
    DebuggerWrite("IDE", "STACKPARAMS|" + std::to_string(reinterpret_cast<uintptr_t>(first)) + "|STACKPARAMS|" +
                             std::to_string(reinterpret_cast<uintptr_t>(&first->value)));
    ServeDebugger(file, true);
    EXPECT_EQ(DebuggerRead("RUNTIME"), "\nVAR%\n2\nP2$|2\nP3$|3");
}

TEST_F(DebuggerLinkTest, DebugWritesToTheRunTimeLog) {
    TempDirectory root;
    ScopedEnvironment rootSetting{"QOB_ROOT", (root.Path() + "/").c_str()};
    RuntimeLogSwitch = 1;
    OpenDebugLog(nullptr);
    PushValue("checkpoint", 0.0, nullptr);
    Builtin_debug();
    RuntimeLogSwitch = 0;
    PushValue("dropped", 0.0, nullptr);
    Builtin_debug();
    EXPECT_EQ(CountStackEntries(context->stackTop), 1);
    std::ifstream log(root.Join("debuglog.txt"));
    std::stringstream text;
    text << log.rdbuf();
    EXPECT_TRUE(std::regex_search(text.str(), std::regex(" : DEBUG \\([0-9,]+ bytes free\\)> checkpoint\n")))
        << text.str();
    EXPECT_EQ(text.str().find("dropped"), std::string::npos);
}

// The debugger and a real qob process in debug mode ("D"): the program is
// compiled with a line hook before each statement and stops where the
// debugger asks.
class DebuggerProcessTest : public ::testing::Test {
protected:
    // Starts qob on the program, its output going to files.
    pid_t Start(const std::string& program, const char* extraSwitch = nullptr) {
        root.Write("watched.qob", program);
        const std::string executable = std::string(QOB_TEST_BINARY_DIR) + "/../qob";
        const std::string output = root.Join("stdout.txt");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, 2, root.Join("stderr.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addchdir_np(&actions, root.Path().c_str());
        char* argv[] = {const_cast<char*>(executable.c_str()), const_cast<char*>("watched.qob"), const_cast<char*>("D"),
                        const_cast<char*>(extraSwitch), nullptr};
        pid_t pid = 0;
        EXPECT_EQ(posix_spawn(&pid, executable.c_str(), &actions, nullptr, argv, environ), 0) << executable;
        posix_spawn_file_actions_destroy(&actions);
        return pid;
    }
    // Sends commands and waits for the reply that starts with prefix, or
    // for the process to end.
    std::string Command(std::string_view commands, std::string_view prefix) {
        DebuggerDelete("RUNTIME");
        DebuggerWrite("IDE", commands);
        return AwaitRuntime(prefix);
    }
    std::string AwaitRuntime(std::string_view prefix) {
        for (;;) {
            const std::optional<std::string> reply = DebuggerRead("RUNTIME");
            if (reply && reply->starts_with(prefix)) return *reply;
            if (!exitStatus && waitpid(pid, &status, WNOHANG) == pid) exitStatus = status;
            if (exitStatus) return reply.value_or("(program ended)");
            std::this_thread::yield();
        }
    }
    // The exit status (after waiting) and what the program printed.
    int Finish() {
        if (!exitStatus) waitpid(pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::string Output() const {
        std::ifstream file(root.Join("stdout.txt"));
        std::stringstream text;
        text << file.rdbuf();
        return text.str();
    }

    TempDirectory root;
    ScopedEnvironment rootSetting{"QOB_ROOT", (root.Path() + "/").c_str()};
    ScopedEnvironment storeSetting{"QOB_REGISTRY", root.Join("registry").c_str()};
    pid_t pid = 0;
    int status = 0;
    std::optional<int> exitStatus;
};

constexpr const char* kWatchedProgram =
    "FUNC twice(n$)\n"          // 1
    "  r$ = n$ * 2;\n"          // 2
    "  RETURN(r$);\n"           // 3
    "END;\n"                    // 4
    "\n"                        // 5
    "PROC MAIN\n"               // 6
    "  x$ = 20;\n"              // 7
    "  y$ = \"hello\";\n"     // 8
    "  z$ = twice(x$);\n"       // 9
    "  showmessage(x$, \" \", y$, \" \", z$);\n"  // 10
    "END;\n";

TEST_F(DebuggerProcessTest, TheDebuggerWatchesStepsAndResumesAQobProcess) {
    DebuggerWrite("RUNNING", "1");
    DebuggerWrite("IDE", "WATCHED.QOB|9");  // the breakpoints the debugger starts with
    pid = Start(kWatchedProgram);
    EXPECT_EQ(AwaitRuntime("\nBREAK"), "\nBREAK\nwatched.qob\n9");
    EXPECT_TRUE(std::regex_match(Command("LOCAL", "\nVAR%"),
                                 std::regex("\nVAR%\n2\nX\\$\\|20\nY\\$ \\(C\\)\\|0x[0-9A-F]{8,}:\"hello\"")));
    EXPECT_EQ(Command("TRACE|x$ + 1|y$", "\nVAR%"), "\nVAR%\n2\nx$ + 1|21\ny$|hello");
    EXPECT_EQ(Command("STEPINTO", "\nBREAK"), "\nBREAK\nwatched.qob\n2");
    EXPECT_TRUE(std::regex_match(Command("CALLSTACK", "\nVAR%"),
                                 std::regex("\nVAR%\n2\nTWICE\\|0x[0-9A-F]{8,}\nMAIN\\|0x[0-9A-F]{8,}")));
    EXPECT_EQ(Command("STEPOVER", "\nBREAK"), "\nBREAK\nwatched.qob\n3");
    EXPECT_EQ(Command("STEPOVER", "\nBREAK"), "\nBREAK\nwatched.qob\n10");
    DebuggerWrite("IDE", "RUN");
    EXPECT_EQ(Finish(), 0);
    EXPECT_EQ(Output(), "20 hello 40\n");
    EXPECT_FALSE(DebuggerRead("RUNNING")) << "shut-down removes the debugger's values";
}

TEST_F(DebuggerProcessTest, ARunTimeErrorStopsForTheDebuggerAfterItsBox) {
    DebuggerWrite("RUNNING", "1");
    pid = Start("PROC MAIN\n"
                "  showmessage(\"before\");\n"
                "  x$ = undeclared$ + 1;\n"  // an error with explicit declarations (X)
                "  showmessage(\"after\");\n"
                "END;\n",
                "X");
    EXPECT_EQ(AwaitRuntime("\nBREAK"), "\nBREAK\nwatched.qob\n3");
    DebuggerWrite("IDE", "RUN");
    EXPECT_NE(Finish(), 0);
    EXPECT_EQ(Output(), "before\n");
}

TEST_F(DebuggerProcessTest, StopEndsTheProcess) {
    DebuggerWrite("RUNNING", "1");
    DebuggerWrite("IDE", "watched.qob|8");
    pid = Start(kWatchedProgram);
    EXPECT_EQ(AwaitRuntime("\nBREAK"), "\nBREAK\nwatched.qob\n8");
    DebuggerWrite("IDE", "STOP");
    EXPECT_EQ(Finish(), 0);
    EXPECT_EQ(Output(), "");
    EXPECT_FALSE(DebuggerRead("RUNNING"));
}

}  // namespace
}  // namespace qob
