// tests/runtime/registry/hooks_test.cpp
// The runtime reaches the layers above it only through its hooks: each is
// called where the runtime needs that layer, in the order the layers rely
// on, and the defaults leave a process without those layers working.

#include "runtime/registry/hooks.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/message_box.h"
#include "runtime/memory/pool.h"
#include "runtime/values/declarations.h"
#include "runtime/vm/program_context.h"
#include "runtime/vm/runtime_error.h"
#include "runtime/vm/value_stack.h"
#include "runtime/vm/vm_fixture.h"

namespace qob::testing {
namespace {

// What the fake hooks saw, in order: one letter a call, and for the context
// hooks whether the context named was the ending one and the current one.
std::string gCalls;
ProgramContext* gEnding = nullptr;

void RecordContextCall(char letter, ProgramContext* context) {
    gCalls += letter;
    if (context != gEnding) gCalls += '!';  // the hook was given another context
    if (CurrentContext == context) gCalls += '*';
}

void FillRecordingHooks() {
    Hooks.endGraphics = [] { gCalls += 'G'; };
    Hooks.releaseContextDisplay = [](ProgramContext* c) { RecordContextCall('D', c); };
    Hooks.destroyContextWindows = [](ProgramContext* c) { RecordContextCall('W', c); };
    Hooks.removeContextEvents = [](ProgramContext* c) { RecordContextCall('E', c); };
    Hooks.suspendWindowEvents = [] { gCalls += 'S'; };
    Hooks.resumeWindowEvents = [] { gCalls += 'R'; };
}

class HooksTest : public VmTest {
protected:
    void SetUp() override {
        VmTest::SetUp();
        gCalls.clear();
        FillRecordingHooks();
    }
    void TearDown() override {
        ResetRuntimeHooks();
        VmTest::TearDown();
    }
};

ProgramContext* NewIdleContext() {
    ProgramContext* context = CreateProgramContext();
    context->kind = kContextIndependent;
    context->quietEnd = 1;
    context->pool = CreatePool(4096);
    CreateBottomStackEntry(context);
    return context;
}

// The engine lets the display go before the windows it was drawn in; the
// windows go while the ending context is the current one (their destroy
// messages run its code), the events after the context is unlinked.
TEST_F(HooksTest, ContextEndReleasesDisplayThenWindowsThenEvents) {
    ProgramContext* running = CurrentContext;
    gEnding = NewIdleContext();
    EndProgramContext(gEnding);
    EXPECT_EQ(gCalls, "DW*E");
    EXPECT_EQ(CurrentContext, running) << "the current context is put back after the windows went";
}

// Only the outermost box parks and resumes the window events, once each.
TEST_F(HooksTest, ErrorBoxParksWindowEventsWhileItIsUp) {
    std::FILE* sink = std::fopen("/dev/null", "w");
    ASSERT_NE(sink, nullptr);
    platform::SetMessageBoxOutput(sink, sink);
    RaiseRuntimeError("first", 1);
    RaiseRuntimeError("second", 1);
    platform::SetMessageBoxOutput(nullptr, nullptr);
    std::fclose(sink);
    EXPECT_EQ(gCalls, "SRSR");
}

// HALT ends the engine's use of the display before the process ends.
TEST_F(HooksTest, HaltEndsGraphicsBeforeTheProcessEnds) {
    EXPECT_EXIT(
        {
            Hooks.endGraphics = [] { std::fputs("graphics ended\n", stderr); };
            SetShutdownRoutine([] {});
            Builtin_HALT();
        },
        ::testing::ExitedWithCode(0), "^graphics ended\n$");
}

// Without any layer above, a context still ends whole and an error is still
// reported: every default is callable and does nothing harmful.
TEST_F(HooksTest, DefaultsServeAProcessWithoutTheLayersAbove) {
    ResetRuntimeHooks();
    ProgramContext* context = NewIdleContext();
    EndProgramContext(context);
    EXPECT_FALSE(IsLiveContext(context));
    std::FILE* sink = std::fopen("/dev/null", "w");
    ASSERT_NE(sink, nullptr);
    platform::SetMessageBoxOutput(sink, sink);
    RaiseRuntimeError("no windows", 1);
    platform::SetMessageBoxOutput(nullptr, nullptr);
    std::fclose(sink);
    Hooks.endGraphics();
    EXPECT_EQ(gCalls, "");
}

}  // namespace
}  // namespace qob::testing
