// tests/builtins/messages/message_builtins_test.cpp
// showmessage's joined text and caption, tick, isvalid and the log switch.

#include "builtins/messages/message_builtins.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

#include "builtins/operators/arithmetic_operators.h"
#include "builtins/operators/operator_fixture.h"
#include "platform/clock.h"
#include "platform/faults.h"
#include "platform/memory.h"
#include "platform/message_box.h"
#include "platform/temp_directory.h"
#include "runtime/vm/runtime_error.h"

namespace qob::testing {
namespace {

class MessageBuiltinsTest : public OperatorTest {
protected:
    void SetUp() override {
        OperatorTest::SetUp();
        output = std::tmpfile();
        errors = std::tmpfile();
        platform::SetMessageBoxOutput(output, errors);
    }

    void TearDown() override {
        platform::SetMessageBoxOutput(nullptr, nullptr);
        std::fclose(output);
        std::fclose(errors);
        platform::ClearTestClock();
        OperatorTest::TearDown();
    }

    static std::string Contents(std::FILE* file) {
        std::fflush(file);
        std::rewind(file);
        std::string text;
        char buffer[256];
        size_t count;
        while ((count = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, count);
        return text;
    }

    std::string ShowMessage(std::initializer_list<const char*> arguments) {
        OpenFrame();
        for (const char* argument : arguments) Push(argument);
        Builtin_showmessage();
        const std::string shown = Contents(output);
        std::fclose(output);
        output = std::tmpfile();
        platform::SetMessageBoxOutput(output, errors);
        return shown;
    }

    std::FILE* output = nullptr;
    std::FILE* errors = nullptr;
};

TEST_F(MessageBuiltinsTest, ShowmessageJoinsItsArguments) {
    EXPECT_EQ(ShowMessage({"t:a", "n:2", "t:b"}), "a2b\n");
    EXPECT_EQ(ShowMessage({"n:1.5"}), "1.5\n");
    EXPECT_EQ(ShowMessage({"n:10"}), "10\n");
    EXPECT_EQ(ShowMessage({}), "\n");
    EXPECT_EQ(ShowMessage({"m:[1,{x}]", "t:!"}), "[1,{x}]!\n");
    EXPECT_EQ(Contents(errors), "");
    EXPECT_EQ(StackDepth(), 0);
}

TEST_F(MessageBuiltinsTest, WideMessageWidensTheEightBitArguments) {
    // 8-bit texts in a UTF-16 message are converted, not read as UTF-16.
    EXPECT_EQ(ShowMessage({"t:caf\xc3\xa9 ", "w:\xe2\x82\xac", "n:5", "t:!"}), "caf\xc3\xa9 \xe2\x82\xac" "5!\n");
}

TEST_F(MessageBuiltinsTest, ShowmessageTakesEveryArgumentAndTextsNotStartingABlock) {
    std::string expected;
    OpenFrame();
    for (int i = 0; i < 3000; ++i) {
        Push("t:ab");
        expected += "ab";
    }
    // A text that is not the start of a block (a constant, or an inner part).
    static const char kConstant[] = "constant text";
    PushValue(kConstant + 1, 0.0, nullptr);
    expected += kConstant + 1;
    Builtin_showmessage();
    EXPECT_EQ(Contents(output), expected + "\n");
    EXPECT_EQ(StackDepth(), 0);
}

// An address taken as text faults when a framed built-in reads it; the fault
// unwinds past the handler, which then must hold no heap object. (A first
// run may make lasting records of the context: only the second is counted.)
TEST_F(MessageBuiltinsTest, AFaultReadingAnArgumentLeavesNoHeapObjectBehind) {
    for (void (*handler)() : {Builtin_showmessage, Builtin_concat, Builtin_validint}) {
        for (int run = 0; run < 2; ++run) {
            OpenFrame();
            Push("t:1");
            PushValue(reinterpret_cast<const char*>(uintptr_t{16}), 0.0, nullptr);
            Push("t:2");
            const int64_t live = LiveOperatorNewBlocks();
            const std::optional<platform::FaultReport> fault = platform::RunGuarded(handler);
            const int64_t left = LiveOperatorNewBlocks() - live;
            ASSERT_TRUE(fault.has_value());
            if (run == 1) {
                EXPECT_EQ(left, 0);
            }
        }
    }
}

TEST_F(MessageBuiltinsTest, TickReadsTheMillisecondClockAsUnsigned) {
    platform::SetTestClock(uint64_t{5000} * 1000000);
    Builtin_tick();
    const double first = PopValue();
    platform::AdvanceTestClock(uint64_t{250} * 1000000);
    Builtin_tick();
    EXPECT_EQ(PopValue() - first, 250);
    // Past 2^31 ms the count stays positive; past 2^32 it wraps.
    platform::SetTestClock((uint64_t{1} << 31) * 1000000 + 7000000);
    Builtin_tick();
    EXPECT_EQ(PopValue(), 2147483648.0 + 7);
    platform::SetTestClock((uint64_t{1} << 32) * 1000000 + 3000000);
    Builtin_tick();
    EXPECT_EQ(PopValue(), 3);
}

TEST_F(MessageBuiltinsTest, IsvalidAnswersZeroForWritableMemory) {
    void* block = platform::AllocateZeroedBlock(16);
    PushNumber(static_cast<double>(reinterpret_cast<uintptr_t>(block)));
    Builtin_isvalid();
    EXPECT_EQ(PopValue(), 0);
    PushNumber(0);
    Builtin_isvalid();
    EXPECT_NE(PopValue(), 0);
    // A cell whose number is 0 stands for its extra word.
    PushValue(nullptr, 0.0, nullptr, static_cast<int32_t>(reinterpret_cast<uintptr_t>(block)));
    Builtin_isvalid();
    EXPECT_EQ(PopValue(), 0);
    platform::FreeBlock(block);
}

TEST_F(MessageBuiltinsTest, DebuglogSwitchesTheLog) {
    TempDirectory root;
    const char* oldRoot = std::getenv("QOB_ROOT");
    const std::string savedRoot = oldRoot ? oldRoot : "";
    setenv("QOB_ROOT", (root.Path() + "/").c_str(), 1);
    PushNumber(1);
    Builtin__debuglog();
    ASSERT_NE(DebugLogPath(), nullptr);
    EXPECT_EQ(std::string(DebugLogPath()), root.Join("debuglog.txt"));
    EXPECT_EQ(RuntimeLogSwitch, 1);
    LogRuntimeError("first run");
    PushText("1");
    Builtin__debuglog();  // starts afresh: the line above is gone
    std::ifstream log(DebugLogPath());
    std::stringstream text;
    text << log.rdbuf();
    EXPECT_EQ(text.str().find("first run"), std::string::npos);
    EXPECT_NE(text.str().find("Generated by the QOB interpreter v."), std::string::npos);
    PushNumber(0.4);
    Builtin__debuglog();
    EXPECT_EQ(RuntimeLogSwitch, 0);
    EXPECT_EQ(StackDepth(), 0);
    if (oldRoot) setenv("QOB_ROOT", savedRoot.c_str(), 1);
    else unsetenv("QOB_ROOT");
}

}  // namespace
}  // namespace qob::testing
