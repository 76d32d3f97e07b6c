// tests/windows/context_end_test.cpp
// What the window layer does through the runtime's hooks: a context's end
// takes its windows, classes and events with it, and a run-time error box
// parks every script window's events while it is up.

#include <gtest/gtest.h>

#include <cstdio>

#include "platform/message_box.h"
#include "runtime/memory/pool.h"
#include "runtime/registry/hooks.h"
#include "runtime/vm/program_context.h"
#include "runtime/vm/runtime_error.h"
#include "runtime/vm/vm_fixture.h"
#include "windows/event_table.h"
#include "windows/window_records.h"
#include "windows/windows_registrations.h"

namespace qob::testing {
namespace {

class ContextEndTest : public ::testing::Test {
protected:
    void SetUp() override { FillWindowsRuntimeHooks(); }
    void TearDown() override { ResetRuntimeHooks(); }
};

class WindowEventsTest : public VmTest {
protected:
    void SetUp() override {
        VmTest::SetUp();
        FillWindowsRuntimeHooks();
    }
    void TearDown() override {
        ResetRuntimeHooks();
        VmTest::TearDown();
    }
};

ProgramContext* NewContext(int32_t kind) {
    ProgramContext* context = CreateProgramContext();
    context->kind = kind;
    context->quietEnd = 1;
    context->pool = CreatePool(4096);
    CreateBottomStackEntry(context);
    return context;
}

// Window classes live on the process heap, tagged with their context: one
// context's end removes exactly its own.
TEST_F(ContextEndTest, EndRemovesOnlyItsOwnWindowClasses) {
    ProgramContext* a = NewContext(kContextIndependent);
    ProgramContext* b = NewContext(kContextIndependent);
    CurrentContext = a;
    AddWindowClass("ACLASS", 1);
    CurrentContext = b;
    AddWindowClass("BCLASS", 2);
    EndProgramContext(a);
    EXPECT_EQ(FindWindowClass("ACLASS"), nullptr);
    WindowClassRecord* kept = FindWindowClass("BCLASS");
    ASSERT_NE(kept, nullptr);
    EXPECT_EQ(kept->value, 2);
    RemoveWindowClass("BCLASS");
    EXPECT_EQ(FindWindowClass("BCLASS"), nullptr);
    CurrentContext = nullptr;
    EndProgramContext(b);
}

TEST_F(ContextEndTest, EndRemovesWindowsAndEventsOfTheContext) {
    ProgramContext* a = NewContext(kContextIndependent);
    ProgramContext* b = NewContext(kContextIndependent);
    WindowRecord* first = AddWindowRecord(a, 11, nullptr, 0, nullptr);
    WindowRecord* second = AddWindowRecord(a, 12, nullptr, 0, nullptr);
    EXPECT_EQ(first->firstWindow, 1);
    EXPECT_EQ(second->firstWindow, 0);
    AddWindowRecord(b, 21, nullptr, 0, nullptr);
    AddEventRecord(a, 11, 1, 0, nullptr);
    AddEventRecord(b, 21, 1, 0, nullptr);
    ProgramContext* owner = nullptr;
    EXPECT_EQ(FindWindowRecordByHandle(12, &owner), second);
    EXPECT_EQ(owner, a);
    EndProgramContext(a);
    EXPECT_EQ(FindWindowRecordByHandle(11, nullptr), nullptr);
    ASSERT_NE(EventTable, nullptr);
    EXPECT_EQ(EventTable->owner, b);
    EXPECT_EQ(EventTable->next, nullptr);
    EndProgramContext(b);
    EXPECT_EQ(EventTable, nullptr);
}

// A report raised while a box is up (here: while the box writes its text)
// must not save the already-parked event procedures over the real ones.
Instruction* gSeenDuringBox = reinterpret_cast<Instruction*>(1);
int gNested = 0;
WindowRecord* gWindow = nullptr;

ssize_t WriteAndReportAgain(void*, const char*, size_t size) {
    if (gNested++ == 0) {
        gSeenDuringBox = gWindow->eventProcedure;
        RaiseRuntimeError("inner", 1);
    }
    return static_cast<ssize_t>(size);
}

TEST_F(WindowEventsTest, NestedReportsRestoreTheEventProcedures) {
    Instruction* procedure = cursor;
    gWindow = AddWindowRecord(context, 5, nullptr, 0, procedure);
    gNested = 0;
    cookie_io_functions_t io = {nullptr, WriteAndReportAgain, nullptr, nullptr};
    std::FILE* box = fopencookie(nullptr, "w", io);
    platform::SetMessageBoxOutput(box, box);
    RaiseRuntimeError("outer", 1);
    std::fflush(box);
    platform::SetMessageBoxOutput(nullptr, nullptr);
    std::fclose(box);
    EXPECT_GE(gNested, 2) << "the inner report ran while the outer box was up";
    EXPECT_EQ(gSeenDuringBox, nullptr) << "no script window runs while a box is up";
    EXPECT_EQ(gWindow->eventProcedure, procedure);
}

}  // namespace
}  // namespace qob::testing
