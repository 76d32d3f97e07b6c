// tests/windows/event_calls_test.cpp
// Running event procedures by the one call path (the direct parameter writes
// and the pushed arguments agreeing for procedures and functions of 0, 2 and
// 4 parameters, the value stack left as found), the event table's matching
// rules and its built-ins.

#include "windows/event_calls.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/window_manager.h"
#include "runtime/vm/instruction.h"
#include "runtime/vm/program_context.h"
#include "runtime/vm/value_stack.h"
#include "script_windows_support.h"
#include "windows/window_records.h"

namespace qob {
namespace {

using testing::Address;

class EventCallsTest : public testing::ScriptWindowsTest {};

constexpr const char* kProcedures = R"(
FORCELINK FUNC f0() showmessage("f0"); RETURN(7); END;
FORCELINK FUNC f2(a$, b$) showmessage("f2 ", a$, " ", b$); RETURN(a$ + b$); END;
FORCELINK FUNC f4(w$, m$, a$, b$) showmessage("f4 ", w$, " ", m$, " ", a$, " ", b$); RETURN(m$ + a$ + b$); END;
FORCELINK PROC p0() showmessage("p0"); END;
FORCELINK PROC p2(a$, b$) showmessage("p2 ", a$, " ", b$); END;
FORCELINK PROC p4(w$, m$, a$, b$) showmessage("p4 ", w$, " ", m$, " ", a$, " ", b$); END;
FORCELINK FUNC f5(w$, m$, a$, b$, e$) showmessage("f5 ", w$, " ", b$, " ", e$); RETURN(9); END;
FORCELINK FUNC ftext(w$, m$, a$, b$) RETURN("2"); END;
FORCELINK FUNC fnothing(w$, m$, a$, b$) IF (m$ == 0) RETURN(5); END; END;
FORCELINK FUNC f0nothing() IF (0) RETURN(5); END; END;
)";

TEST_F(EventCallsTest, EveryShapeOfProcedureGetsTheSameArgumentsAndResultOnEveryRun) {
    struct Case {
        const char* name;
        const char* printed;  // for window 11, message 22, wParam 33, lParam -44
        int32_t result;
    };
    const Case cases[] = {
        {"f0", "f0\n", 7},
        {"f2", "f2 33 -44\n", -11},
        {"f4", "f4 11 22 33 -44\n", 11},
        {"p0", "p0\n", 1},
        {"p2", "p2 33 -44\n", 1},
        {"p4", "p4 11 22 33 -44\n", 1},
        {"f5", "f5 11 -44 0\n", 9},
        {"ftext", "", 2},
        {"fnothing", "", 1},
        // No parameter takes the pushed values: none of them is a result.
        {"f0nothing", "", 1},
    };
    ProgramContext* application = Load(kProcedures);
    ASSERT_NE(application, nullptr);
    Output();
    // A cell of the caller's that a result must not be taken from.
    PushValueTo(application, nullptr, 99, nullptr);
    StackEntry* const top = application->stackTop;
    for (const Case& c : cases) {
        Instruction* procedure = Procedure(application, c.name);
        for (int run = 1; run <= 3; ++run) {
            EXPECT_EQ(RunWindowEventProcedure(application, procedure, 11, 22, 33, -44), c.result)
                << c.name << " run " << run;
            EXPECT_EQ(Output(), c.printed) << c.name << " run " << run;
            EXPECT_EQ(application->stackTop, top) << c.name << " run " << run << ": the stack as it was";
            EXPECT_EQ(application->stackTop->value, 99) << c.name;
        }
    }
}

TEST_F(EventCallsTest, TheDirectWritesApplyOnlyToTheFrameTheLastEventRunBound) {
    ProgramContext* application = Load(kProcedures);
    Instruction* p4 = Procedure(application, "p4");
    Output();
    RunWindowEventProcedure(application, p4, 1, 2, 3, 4);
    ASSERT_NE(p4->extra, nullptr);
    ASSERT_NE(p4->extra->freeFrames, nullptr);
    EXPECT_EQ(p4->extra->cachedVariable, p4->extra->freeFrames->frame) << "the frame is remembered";
    RunWindowEventProcedure(application, p4, 5, 6, 7, 8);
    EXPECT_EQ(Output(), "p4 1 2 3 4\np4 5 6 7 8\n");
    // A plain call of the procedure forgets the frame: the next event pushes again.
    p4->extra->cachedVariable = nullptr;
    RunWindowEventProcedure(application, p4, 9, 10, 11, 12);
    EXPECT_EQ(Output(), "p4 9 10 11 12\n");
}

TEST_F(EventCallsTest, AProcedureOfAContextThatIsGoneOrEndingDoesNotRun) {
    ProgramContext* application = Load(kProcedures);
    Instruction* f4 = Procedure(application, "f4");
    application->endPending = 1;
    EXPECT_EQ(RunWindowEventProcedure(application, f4, 1, 2, 3, 4), 1);
    application->endPending = 0;
    EXPECT_EQ(RunWindowEventProcedure(nullptr, f4, 1, 2, 3, 4), 1);
    EXPECT_EQ(RunWindowEventProcedure(application, nullptr, 1, 2, 3, 4), 1);
    EXPECT_EQ(Output(), "");
}

TEST_F(EventCallsTest, AddeventTakesOnlyProcedureStartsOfTheRunningProgram) {
    ProgramContext* application = Load(kProcedures);
    ProgramContext* other = Load("FORCELINK FUNC g(w$, m$, a$, b$) RETURN(3); END;");
    Instruction* g = Procedure(other, "g");
    CurrentContext = application;
    Instruction* f4 = Procedure(application, "f4");
    const double bad[] = {0, 12345, Address(f4->next), Address(g)};
    for (double procedure : bad) {
        for (double value : {100.0, 500.0, 0.0, procedure}) PushValueTo(application, nullptr, value, nullptr);
        Builtin_ADDEVENT();
        EXPECT_EQ(EventTable, nullptr) << procedure;
    }
    for (double value : {100.0, 500.0, 0.0, Address(f4)}) PushValueTo(application, nullptr, value, nullptr);
    Builtin_ADDEVENT();
    ASSERT_NE(EventTable, nullptr);
    EXPECT_EQ(EventTable->owner, application);
    EXPECT_EQ(EventTable->window, 100u);
    EXPECT_EQ(EventTable->message, 500u);
    EXPECT_EQ(DispatchEvent(100, 500, 0, 0), 500);
}

// A minimal window class for the matching tests.
platform::LRESULT PlainProcedure(platform::HWND w, platform::UINT m, platform::WPARAM wp, platform::LPARAM lp) {
    return platform::DefWindowProcW(w, m, wp, lp);
}

TEST_F(EventCallsTest, DispatchEventMatchingRules) {
    ProgramContext* application = Load(R"(
FORCELINK FUNC a(w$, m$, x$, y$) showmessage("a ", m$); RETURN(10); END;
FORCELINK FUNC b(w$, m$, x$, y$) showmessage("b ", m$); RETURN(20); END;
FORCELINK FUNC c(w$, m$, x$, y$) showmessage("c ", m$); RETURN(30); END;
)");
    platform::WNDCLASSW windowClass;
    windowClass.lpfnWndProc = PlainProcedure;
    windowClass.lpszClassName = u"Plain";
    ASSERT_NE(platform::RegisterClassW(&windowClass), 0);
    const platform::HWND parent = platform::CreateWindowExW(0, u"Plain", u"", 0, 0, 30, 100, 100, 0, 0, 0, nullptr);
    const platform::HWND control = platform::CreateWindowExW(0, u"Plain", u"", platform::WS_CHILD, 0, 0, 10, 10,
                                                             parent, 7, 0, nullptr);
    const auto parent32 = static_cast<uint32_t>(parent);
    const auto control32 = static_cast<uint32_t>(control);
    Instruction* a = Procedure(application, "a");
    Instruction* b = Procedure(application, "b");
    Instruction* c = Procedure(application, "c");

    // WM_COMMAND: id and notification code of the control, the message at its parent.
    AddEventRecord(application, control32, 5, 7, a);
    EXPECT_EQ(DispatchEvent(parent32, platform::WM_COMMAND, (5 << 16) | 7, 0), 10);
    EXPECT_EQ(DispatchEvent(control32, platform::WM_COMMAND, (5 << 16) | 7, 0), 1) << "not at the control itself";
    EXPECT_EQ(DispatchEvent(parent32, platform::WM_COMMAND, (6 << 16) | 7, 0), 1) << "another code";
    RemoveWindowEvents(0);
    // A record with id 0 never matches a control with an id in step 1.
    AddEventRecord(application, control32, 0, 0, a);
    EXPECT_EQ(DispatchEvent(parent32, platform::WM_COMMAND, 7, 0), 1);
    // Code 273 with the id: any WM_COMMAND whose low word is the id, by step 3.
    AddEventRecord(application, 999, platform::WM_COMMAND, 7, b);
    EXPECT_EQ(DispatchEvent(parent32, platform::WM_COMMAND, (9 << 16) | 7, 0), 20);
    RemoveWindowEvents(0);

    // The newest of two records for one window and message runs.
    AddEventRecord(application, parent32, 1025, 0, a);
    AddEventRecord(application, parent32, 1025, 0, b);
    EXPECT_EQ(DispatchEvent(parent32, 1025, 0, 0), 20);
    // Window 0 matches a pseudo message sent with window 0 only.
    AddEventRecord(application, 0, 275, 0, c);
    EXPECT_EQ(DispatchEvent(0, 275, 0, 0), 30);
    EXPECT_EQ(DispatchEvent(parent32, 275, 0, 0), 1);

    // WM_NOTIFY: by the NMHDR; without one (lParam 0) by the plain rule.
    auto* header = static_cast<platform::NMHDR*>(platform::AllocateZeroedBlock(sizeof(platform::NMHDR)));
    *header = platform::NMHDR{control32, 7, 0xFFFFFFF0u};
    AddEventRecord(application, control32, 0xFFFFFFF0u, 7, c);
    const auto headerAddress = static_cast<int32_t>(reinterpret_cast<uintptr_t>(header));
    EXPECT_EQ(DispatchEvent(parent32, platform::WM_NOTIFY, 7, headerAddress), 30);
    AddEventRecord(application, parent32, platform::WM_NOTIFY, 0, a);
    EXPECT_EQ(DispatchEvent(parent32, platform::WM_NOTIFY, 0, 0), 10) << "lParam 0 is not read";
    platform::FreeBlock(header);

    // CLEAREVENTS(0) empties the table, records of other applications too.
    ProgramContext* other = Load("FORCELINK FUNC d(w$, m$, x$, y$) RETURN(4); END;");
    AddEventRecord(other, 1, 1, 0, Procedure(other, "d"));
    PushNumber(0);
    Builtin_CLEAREVENTS();
    EXPECT_EQ(EventTable, nullptr);
    EXPECT_EQ(DispatchEvent(parent32, 1025, 0, 0), 1);
}

TEST_F(EventCallsTest, ARecordRemovedByItsOwnProcedureIsNotTouchedAgain) {
    ProgramContext* application = Load(R"(
FORCELINK FUNC clearing(w$, m$, x$, y$) CLEAREVENTS(0); RETURN(6); END;
)");
    AddEventRecord(application, 5, 1025, 0, Procedure(application, "clearing"));
    EXPECT_EQ(DispatchEvent(5, 1025, 0, 0), 6);
    EXPECT_EQ(EventTable, nullptr);
}

TEST_F(EventCallsTest, CallWindowEventAnswersByTheProceduresResult) {
    ProgramContext* application = Load(R"(
FORCELINK FUNC zero(w$, m$, x$, y$) RETURN(0); END;
FORCELINK FUNC two(w$, m$, x$, y$) RETURN(2); END;
)");
    struct Case {
        const char* procedure;  // null: the record has none
        int32_t answer;
        int32_t last;
    };
    const Case cases[] = {{"zero", 1, 0}, {"two", 0, 2}, {nullptr, 0, 1}};
    uintptr_t window = 0x7000;
    for (const Case& c : cases) {
        LastEventResult = 1;
        AddWindowRecord(application, ++window, nullptr, 0, c.procedure ? Procedure(application, c.procedure) : nullptr);
        EXPECT_EQ(CallWindowEvent(window, 1, 0, 0), c.answer) << (c.procedure ? c.procedure : "none");
        EXPECT_EQ(LastEventResult, c.last);
    }
    EXPECT_EQ(CallWindowEvent(0x6FFF, 1, 0, 0), 0) << "no record";
}

TEST_F(EventCallsTest, ControlToClipboardTakesItsArgumentOnly) {
    ProgramContext* application = Load("");
    StackEntry* top = application->stackTop;
    PushValueTo(application, "text", 0, nullptr);
    Builtin___controltoclipboard();
    EXPECT_EQ(application->stackTop, top);
}

}  // namespace
}  // namespace qob
