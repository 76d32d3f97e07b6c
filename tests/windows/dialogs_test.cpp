// tests/windows/dialogs_test.cpp
// Dialogs and modal loops: the results of showmodal for commands and closes,
// nesting, the end of the loop when its window goes, positions on the
// screen, the dialog-class clash, the records of dialogs and controls at
// their windows' end, the colours and the small window built-ins.

#include "windows/dialogs.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/shell.h"
#include "platform/window_manager.h"
#include "runtime/vm/program_context.h"
#include "runtime/vm/value_stack.h"
#include "runtime/vm/vm.h"
#include "script_windows_support.h"
#include "windows/event_calls.h"
#include "windows/event_table.h"
#include "windows/forms.h"
#include "windows/game_link.h"
#include "windows/message_loop.h"
#include "windows/window_records.h"

namespace qob {
namespace {

using platform::HWND;
using testing::Address;

// The dialog procedures: "accept" lets every close happen, "refuse" answers
// 0 to WM_CLOSE; "outer" runs a nested modal loop on the dialog its command
// 7 names; "selfdestroy" destroys its own dialog on command 9.
constexpr const char* kDialogProcedures = R"(
FORCELINK FUNC accept(w$, m$, wp$, lp$)
  IF (m$ == 16) showmessage("close"); END;
  IF (m$ == 273) showmessage("command ", wp$); END;
  RETURN(1);
END;
FORCELINK FUNC refuse(w$, m$, wp$, lp$)
  IF (m$ == 16) showmessage("refused"); RETURN(0); END;
  RETURN(1);
END;
FORCELINK FUNC outer(w$, m$, wp$, lp$)
  IF (m$ == 273 AND wp$ == 7)
    showmessage("inner ", showmodal(lp$, 0, 0));
    RETURN(0);
  END;
  RETURN(1);
END;
FORCELINK FUNC selfdestroy(w$, m$, wp$, lp$)
  IF (m$ == 273 AND wp$ == 9) destroywindow(w$); RETURN(0); END;
  RETURN(1);
END;
FORCELINK FUNC onform(w$, m$, wp$, lp$) RETURN(1); END;
)";

class DialogsTest : public testing::ScriptWindowsTest {
protected:
    void SetUp() override {
        ScriptWindowsTest::SetUp();
        ModalWindow = 0;
        ModalResult = 0;
        StopFlag = false;
    }
    void TearDown() override {
        StopFlag = false;
        ScriptWindowsTest::TearDown();
    }

    HWND NewDialog(const char* className, Instruction* procedure, int32_t width, int32_t height) {
        PushValue("Dialog", 0, nullptr);
        PushValue(className, 0, nullptr);
        PushNumber(Address(procedure));
        PushNumber(width);
        PushNumber(height);
        Builtin_newdlg();
        return static_cast<HWND>(PopNumber());
    }

    HWND NewForm(const char* className, Instruction* procedure) {
        PushValue("Form", 0, nullptr);
        PushValue(className, 0, nullptr);
        PushNumber(Address(procedure));
        Builtin_newform();
        return static_cast<HWND>(PopNumber());
    }

    int32_t ShowModal(HWND window, HWND focus = 0, int32_t noCentre = 0) {
        const int32_t before = CountStackEntries(CurrentContext->stackTop);
        PushNumber(static_cast<double>(window));
        PushNumber(static_cast<double>(focus));
        PushNumber(noCentre);
        Builtin_showmodal();
        EXPECT_EQ(CountStackEntries(CurrentContext->stackTop), before + 1) << "one result";
        return static_cast<int32_t>(PopNumber());
    }

    void Post(HWND window, uint32_t message, uint32_t wParam, uint32_t lParam = 0) {
        ASSERT_TRUE(platform::PostMessageW(window, message, wParam, lParam));
    }

    static platform::RECT Rect(HWND window) {
        platform::RECT rect{};
        platform::GetWindowRect(window, &rect);
        return rect;
    }
};

TEST_F(DialogsTest, ModalResultsOfCommandsAndCloses) {
    struct Case {
        const char* procedure;
        std::vector<std::pair<uint32_t, uint32_t>> posts;  // (message, wParam) to the dialog, then WM_QUIT
        int32_t result;
        const char* heard;
    };
    constexpr uint32_t kCommand = platform::WM_COMMAND;
    constexpr uint32_t kClose = platform::WM_CLOSE;
    const Case cases[] = {
        {"accept", {{kCommand, 1}}, 1, "command 1\nclose\n"},
        {"accept", {{kCommand, 99}}, 99, "command 99\nclose\n"},
        // 100 and above are no modal results; the quit ends the loop with 0.
        {"accept", {{kCommand, 100}}, 0, "command 100\n"},
        {"accept", {{kCommand, 0}}, 0, "command 0\n"},
        // A notification code is no button press.
        {"accept", {{kCommand, 0x10001}}, 0, "command 65537\n"},
        {"accept", {{kClose, 0}}, 2, "close\n"},
        {"accept", {{kCommand, 100}, {kCommand, 3}}, 3, "command 100\ncommand 3\nclose\n"},
        // A refused close keeps the dialog open and the loop waiting.
        {"refuse", {{kCommand, 1}}, 0, "refused\n"},
        {"refuse", {{kClose, 0}}, 0, "refused\n"},
    };
    ProgramContext* application = Load(kDialogProcedures);
    for (const Case& c : cases) {
        const HWND dialog = NewDialog("ModalDialog", Procedure(application, c.procedure), 200, 100);
        ASSERT_NE(dialog, 0u);
        Output();
        for (const auto& [message, wParam] : c.posts) Post(dialog, message, wParam);
        platform::PostQuitMessage(0);
        EXPECT_EQ(ShowModal(dialog), c.result) << c.procedure << " " << c.posts.front().second;
        EXPECT_EQ(Output(), c.heard) << c.procedure << " " << c.posts.front().second;
        EXPECT_TRUE(platform::IsWindow(dialog)) << "a dialog is hidden, not destroyed";
        EXPECT_FALSE(platform::IsWindowVisible(dialog));
        EXPECT_EQ(ModalResult, 0);
        EXPECT_EQ(ModalWindow, 0u);
        platform::MSG message;
        while (platform::PeekQueuedMessage(&message, 0, 0, 0, true)) {
        }
        DestroyWindowByHandle(dialog);
    }
}

TEST_F(DialogsTest, TheOwnerIsDisabledDuringTheLoopAndActiveAgainAfterIt) {
    platform::StartShell();
    ProgramContext* application = Load(kDialogProcedures);
    const HWND form = NewForm("OwnerForm", Procedure(application, "onform"));
    ASSERT_EQ(platform::GetActiveWindow(), form);
    const HWND dialog = NewDialog("OwnedDialog", Procedure(application, "accept"), 120, 80);
    ASSERT_NE(dialog, 0u);
    EXPECT_EQ(platform::GetParent(dialog), form) << "the active window owns a new dialog";
    // A timer looks at the owner while the loop runs, then ends the loop.
    static bool ownerEnabled;
    static HWND watched;
    ownerEnabled = true;
    watched = form;
    platform::SetTimer(0, 0, 5, [](HWND, platform::UINT, uintptr_t id, uint32_t) {
        ownerEnabled = platform::IsWindowEnabled(watched);
        platform::KillTimer(0, id);
        (void)platform::PostMessageW(ModalWindow, platform::WM_COMMAND, 1, 0);
    });
    EXPECT_EQ(ShowModal(dialog), 1);
    EXPECT_FALSE(ownerEnabled);
    EXPECT_TRUE(platform::IsWindowEnabled(form));
    EXPECT_EQ(platform::GetActiveWindow(), form);
}

TEST_F(DialogsTest, AWindowOwnedByItselfDisablesNothing) {
    ProgramContext* application = Load(kDialogProcedures);
    const HWND form = NewForm("SelfForm", Procedure(application, "onform"));
    ASSERT_EQ(platform::GetActiveWindow(), form);
    Post(form, platform::WM_CLOSE, 0);
    EXPECT_EQ(ShowModal(form), 2) << "a modal form's close";
    EXPECT_TRUE(platform::IsWindowEnabled(form));
    EXPECT_TRUE(platform::IsWindow(form));
}

TEST_F(DialogsTest, NestedLoopsKeepTheirOwnResults) {
    ProgramContext* application = Load(kDialogProcedures);
    const HWND outer = NewDialog("OuterDialog", Procedure(application, "outer"), 200, 150);
    const HWND inner = NewDialog("InnerDialog", Procedure(application, "accept"), 150, 100);
    ASSERT_NE(outer, 0u);
    ASSERT_NE(inner, 0u);
    Output();
    Post(outer, platform::WM_COMMAND, 7, static_cast<uint32_t>(inner));
    Post(inner, platform::WM_COMMAND, 3);
    Post(outer, platform::WM_COMMAND, 5);
    EXPECT_EQ(ShowModal(outer), 5) << "the inner result did not end the outer loop";
    EXPECT_EQ(Output(), "command 3\nclose\ninner 3\n");
    EXPECT_EQ(ModalWindow, 0u);
}

TEST_F(DialogsTest, TheLoopEndsWhenItsWindowGoes) {
    platform::StartShell();
    ProgramContext* application = Load(kDialogProcedures);
    const HWND form = NewForm("KeptForm", Procedure(application, "onform"));
    const HWND dialog = NewDialog("GoingDialog", Procedure(application, "selfdestroy"), 100, 100);
    ASSERT_NE(dialog, 0u);
    Post(dialog, platform::WM_COMMAND, 9);
    // Nothing else would ever end the loop: the idle policy would fail.
    EXPECT_EQ(ShowModal(dialog), -1);
    EXPECT_FALSE(platform::IsWindow(dialog));
    EXPECT_TRUE(platform::IsWindowEnabled(form)) << "the owner is enabled again";
}

TEST_F(DialogsTest, TheLoopEndsWhenTheProgramOfItsWindowIsEnding) {
    ProgramContext* application = Load(kDialogProcedures);
    const HWND dialog = NewDialog("EndingDialog", Procedure(application, "accept"), 100, 100);
    ASSERT_NE(dialog, 0u);
    ProgramContext* caller = Load("FORCELINK FUNC nothing() RETURN(1); END;");
    // The dialog's program is told to end while its code runs.
    application->endPending = 1;
    Post(dialog, platform::WM_COMMAND, 100);
    EXPECT_EQ(ShowModal(dialog), -1);
    EXPECT_EQ(CurrentContext, caller);
    application->endPending = 0;
}

TEST_F(DialogsTest, ModalPositionsOnTheScreenWithAndWithoutTheInputPanel) {
    struct Case {
        int32_t width, height;  // as newdlg is given them
        bool panel;
        int32_t x, y;
    };
    // Centred on 240 across, on 160 down (120 with the 80-pixel panel up),
    // the dialog 24 higher for its caption, its top never above 26.
    const Case cases[] = {
        {200, 100, false, 20, 98},  {200, 100, true, 20, 58},  {100, 300, false, 70, 26},
        {240, 40, true, 0, 88},     {50, 0, false, 95, 148},
    };
    platform::StartShell();
    ProgramContext* application = Load(kDialogProcedures);
    for (const Case& c : cases) {
        const HWND panel = platform::InputPanelWindow();
        ASSERT_NE(panel, 0u);
        platform::ShowWindow(panel, c.panel ? platform::SW_SHOWNA : platform::SW_HIDE);
        const HWND dialog = NewDialog("PlacedDialog", Procedure(application, "accept"), c.width, c.height);
        ASSERT_NE(dialog, 0u);
        Post(dialog, platform::WM_COMMAND, 1);
        EXPECT_EQ(ShowModal(dialog), 1);
        const platform::RECT rect = Rect(dialog);
        EXPECT_EQ(rect.left, c.x) << c.width << "x" << c.height << " panel " << c.panel;
        EXPECT_EQ(rect.top, c.y) << c.width << "x" << c.height << " panel " << c.panel;
        EXPECT_EQ(rect.right - rect.left, c.width);
        EXPECT_EQ(rect.bottom - rect.top, c.height + platform::kCaptionHeight);
        DestroyWindowByHandle(dialog);
    }
}

TEST_F(DialogsTest, TheNoCentreFlagLeavesThePlace) {
    ProgramContext* application = Load(kDialogProcedures);
    const HWND dialog = NewDialog("StillDialog", Procedure(application, "accept"), 100, 60);
    ASSERT_NE(dialog, 0u);
    platform::MoveWindow(dialog, 7, 9, 100, 84, false);
    Post(dialog, platform::WM_COMMAND, 2);
    EXPECT_EQ(ShowModal(dialog, 0, 1), 2);
    EXPECT_EQ(Rect(dialog).left, 7);
    EXPECT_EQ(Rect(dialog).top, 9);
}

TEST_F(DialogsTest, CenterformUsesTheWorkAreaLessTheTaskBar) {
    struct Case {
        bool shell;
        int32_t width, height;
        int32_t x, y;
    };
    // Work area 0,26 - 240,320; with the task bar window up its 26 pixels
    // come off the height again: 268 / 2 = 134 below 26, else 294 / 2 = 147.
    const Case cases[] = {
        {true, 100, 100, 70, 110}, {true, 240, 320, 0, 0}, {true, 51, 33, 95, 144},
        {false, 100, 100, 70, 123}, {false, 51, 33, 95, 157},
    };
    for (const Case& c : cases) {
        platform::ResetWindowManager();
        if (c.shell) platform::StartShell();
        ProgramContext* application = Load(kDialogProcedures);
        const HWND form = NewForm("CentredForm", Procedure(application, "onform"));
        ASSERT_NE(form, 0u);
        platform::MoveWindow(form, 3, 4, c.width, c.height, false);
        PushNumber(static_cast<double>(form));
        Builtin_centerform();
        const platform::RECT rect = Rect(form);
        EXPECT_EQ(rect.left, c.x) << c.shell << " " << c.width << "x" << c.height;
        EXPECT_EQ(rect.top, c.y) << c.shell << " " << c.width << "x" << c.height;
        EXPECT_EQ(rect.right - rect.left, c.width);
        EndProgramContext(application);
    }
}

TEST_F(DialogsTest, ADialogClassNameTakenByAFormMakesNothing) {
    ProgramContext* application = Load(kDialogProcedures);
    ASSERT_NE(NewForm("Taken", Procedure(application, "onform")), 0u);
    Output();
    const int32_t windows = platform::LiveWindowCount();
    EXPECT_EQ(NewDialog("taken", Procedure(application, "accept"), 100, 100), 0u);
    EXPECT_NE(Output().find("Class taken is already defined for a regular window, use another class name for dialogs"),
              std::string::npos);
    EXPECT_EQ(platform::LiveWindowCount(), windows) << "no window of the form class with a dialog record";
    EXPECT_EQ(application->windows->next, nullptr);
    StopFlag = false;
    // A dialog class can be used again for dialogs.
    const HWND first = NewDialog("Again", Procedure(application, "accept"), 100, 100);
    const HWND second = NewDialog("Again", Procedure(application, "accept"), 100, 100);
    EXPECT_NE(first, 0u);
    EXPECT_NE(second, 0u);
    EXPECT_EQ(Output(), "");
}

TEST_F(DialogsTest, ADialogsRecordGoesWithItsOwner) {
    ProgramContext* application = Load(kDialogProcedures);
    const HWND form = NewForm("DyingOwner", Procedure(application, "onform"));
    const HWND dialog = NewDialog("OrphanDialog", Procedure(application, "accept"), 100, 100);
    ASSERT_EQ(platform::GetParent(dialog), form);
    ProgramContext* owner = nullptr;
    WindowRecord* record = FindWindowRecordByHandle(form, &owner);
    ASSERT_NE(record, nullptr);
    DestroyWindowRecords(owner, record);
    EXPECT_FALSE(platform::IsWindow(dialog));
    EXPECT_EQ(FindWindowRecordByHandle(dialog, nullptr), nullptr);
    EXPECT_EQ(application->windows, nullptr);
}

TEST_F(DialogsTest, DestroywindowAndTheGameWindow) {
    ProgramContext* application = Load(kDialogProcedures);
    const HWND dialog = NewDialog("Destroyed", Procedure(application, "accept"), 100, 100);
    platform::WNDCLASSW plain;
    plain.lpfnWndProc = platform::DefWindowProcW;
    plain.lpszClassName = u"NoRecord";
    ASSERT_NE(platform::RegisterClassW(&plain), 0);
    const HWND bare = platform::CreateWindowExW(0, u"NoRecord", u"", 0, 0, 0, 10, 10, 0, 0, 0, nullptr);
    struct Case {
        HWND window;
        bool game;
        bool destroyed;
    };
    const Case cases[] = {{bare, true, false}, {dialog, false, true}, {0, false, false}};
    for (const Case& c : cases) {
        GameWindow = c.game ? c.window : 0x7777;
        PushNumber(static_cast<double>(c.window));
        Builtin_destroywindow();
        EXPECT_EQ(PopNumber(), 0);
        EXPECT_EQ(GameWindow, c.game ? 0u : 0x7777u);
        if (c.window) {
            EXPECT_EQ(platform::IsWindow(c.window), !c.destroyed);
        }
    }
    GameWindow = 0;
}

TEST_F(DialogsTest, ColoursGoToTheRecordAndRepaint) {
    ProgramContext* application = Load(kDialogProcedures);
    const HWND dialog = NewDialog("Coloured", Procedure(application, "accept"), 100, 100);
    struct Case {
        void (*builtin)();
        uint32_t colour;
        uint32_t text, back;
    };
    const Case cases[] = {{Builtin_setbackcolor, 0x00FF00, 0, 0x00FF00}, {Builtin_setfontcolor, 0x0000FF, 0x0000FF, 0x00FF00}};
    for (const Case& c : cases) {
        platform::ValidateRect(dialog, nullptr);
        PushNumber(static_cast<double>(dialog));
        PushNumber(c.colour);
        c.builtin();
        uint32_t text = 1, back = 1;
        GetWindowColors(dialog, &text, &back);
        EXPECT_EQ(text, c.text);
        EXPECT_EQ(back, c.back);
        platform::RECT update{};
        EXPECT_TRUE(platform::GetUpdateRect(dialog, &update, false)) << "repainted";
    }
    uint32_t text = 1, back = 1;
    GetWindowColors(0x12345, &text, &back);
    EXPECT_EQ(text, 0u);
    EXPECT_EQ(back, 0u);
}

TEST_F(DialogsTest, TheMainLoopByteKeepsItsLowByte) {
    Load(kDialogProcedures);
    const int32_t saved = *GameLoops.mainLoop;
    struct Case {
        double value;
        int32_t stored;
    };
    const Case cases[] = {{300, 44}, {255, 255}, {256, 0}, {-1, 255}, {1.9, 1}};
    for (const Case& c : cases) {
        PushNumber(c.value);
        Builtin_g_setmainloop();
        Builtin_g_getmainloop();
        EXPECT_EQ(PopNumber(), c.stored) << c.value;
        EXPECT_EQ(*GameLoops.mainLoop, c.stored);
    }
    *GameLoops.mainLoop = saved;
}

TEST_F(DialogsTest, TheGameLoopsTakeTheirLimitAndClearTheHistory) {
    Load(kDialogProcedures);
    const GameLoopLink saved = GameLoops;
    static int runs[2];
    runs[0] = runs[1] = 0;
    GameLoops.runLoop = [] { ++runs[0]; };
    GameLoops.runLoop2 = [] { ++runs[1]; };
    *GameLoops.frameRateHistoryCount = 9;
    PushNumber(1500);
    Builtin_g_mainloop();
    EXPECT_EQ(*GameLoops.runTimeLimit, 1500u);
    EXPECT_EQ(*GameLoops.frameRateHistoryCount, 0);
    *GameLoops.frameRateHistoryCount = 4;
    PushNumber(-1);
    Builtin_g_mainloop2();
    EXPECT_EQ(*GameLoops.runTimeLimit, 0xFFFFFFFFu);
    EXPECT_EQ(*GameLoops.frameRateHistoryCount, 0);
    EXPECT_EQ(runs[0], 1);
    EXPECT_EQ(runs[1], 1);
    GameLoops = saved;
}

TEST_F(DialogsTest, ShowwindowShowsTheMenuBarOfAHiddenForm) {
    ProgramContext* application = Load(kDialogProcedures);
    PushValue("Ex", 0, nullptr);
    PushValue("HiddenEx", 0, nullptr);
    for (double value : {0.0, 0.0, 0.0, 0.0, 100.0, 100.0, Address(Procedure(application, "onform"))}) PushNumber(value);
    Builtin_newformex();
    const HWND form = static_cast<HWND>(PopNumber());
    ASSERT_NE(form, 0u);
    const WindowRecord* record = FindWindowRecordByHandle(form, nullptr);
    ASSERT_NE(record, nullptr);
    ASSERT_FALSE(platform::IsWindowVisible(record->menuBar));
    PushNumber(static_cast<double>(form));
    PushNumber(platform::SW_SHOW);
    Builtin_showwindow();
    EXPECT_EQ(PopNumber(), 0) << "it was hidden";
    EXPECT_TRUE(platform::IsWindowVisible(form));
    EXPECT_TRUE(platform::IsWindowVisible(record->menuBar));
    PushNumber(static_cast<double>(form));
    PushNumber(platform::SW_HIDE);
    Builtin_showwindow();
    EXPECT_EQ(PopNumber(), 1);
    EXPECT_FALSE(platform::IsWindowVisible(form));
}

// A control made as newcontrol makes one: a child of a plain class with a
// record and the subclass procedure in front of its own.
class ControlSubclassTest : public DialogsTest {
protected:
    static inline std::vector<uint32_t> heard;
    static platform::LRESULT Plain(HWND window, platform::UINT message, platform::WPARAM wParam,
                                   platform::LPARAM lParam) {
        if (message == platform::WM_DESTROY || message == platform::WM_NCDESTROY || message == platform::WM_USER)
            heard.push_back(message);
        return platform::DefWindowProcW(window, message, wParam, lParam);
    }

    HWND Control(ProgramContext* context, HWND parent, Instruction* procedure) {
        platform::WNDCLASSW plain;
        plain.lpfnWndProc = Plain;
        plain.lpszClassName = u"PlainControl";
        (void)platform::RegisterClassW(&plain);
        const HWND control = platform::CreateWindowExW(0, u"PlainControl", u"text", platform::WS_CHILD | platform::WS_VISIBLE,
                                                       0, 0, 20, 20, parent, 5, 0, nullptr);
        WindowRecord* record = AddWindowRecord(context, control, nullptr, 0, procedure);
        record->savedWindowProcedure = static_cast<uintptr_t>(
            platform::SetWindowLongPtrW(control, platform::GWL_WNDPROC, reinterpret_cast<intptr_t>(ControlSubclassProc)));
        return control;
    }
};

TEST_F(ControlSubclassTest, TheControlsRecordGoesAtItsDestroyWhileItsOwnProcedureSeesOnlyTheEnd) {
    ProgramContext* application = Load(kDialogProcedures);
    const HWND form = NewForm("ControlParent", Procedure(application, "onform"));
    heard.clear();
    const HWND control = Control(application, form, Procedure(application, "accept"));
    AddEventRecord(application, control, 16, 0, Procedure(application, "accept"));
    platform::SendMessageW(control, platform::WM_USER, 0, 0);
    EXPECT_EQ(heard, std::vector<uint32_t>{platform::WM_USER}) << "result 1 passes to the replaced procedure";
    heard.clear();
    platform::DestroyWindow(control);
    EXPECT_EQ(heard, std::vector<uint32_t>{platform::WM_NCDESTROY});
    EXPECT_EQ(FindWindowRecordByHandle(control, nullptr), nullptr);
    for (const EventRecord* r = EventTable; r; r = r->next) EXPECT_NE(r->window, control);
    EXPECT_NE(FindWindowRecordByHandle(form, nullptr), nullptr);
}

TEST_F(ControlSubclassTest, AControlGoesWithItsParentsRecord) {
    ProgramContext* application = Load(kDialogProcedures);
    const HWND form = NewForm("ControlParent2", Procedure(application, "onform"));
    heard.clear();
    const HWND control = Control(application, form, nullptr);
    FreeWindowRecords(form);
    EXPECT_FALSE(platform::IsWindow(control));
    // Its record went first, with the replaced procedure put back.
    EXPECT_EQ(heard, (std::vector<uint32_t>{platform::WM_DESTROY, platform::WM_NCDESTROY}));
    EXPECT_EQ(application->windows, nullptr);
}

TEST_F(ControlSubclassTest, TheEventResultDecidesWhetherTheReplacedProcedureRuns) {
    ProgramContext* application = Load(R"(
FORCELINK FUNC zero(w$, m$, wp$, lp$) IF (m$ == 1024) RETURN(0); END; RETURN(1); END;
FORCELINK FUNC two(w$, m$, wp$, lp$) IF (m$ == 1024) RETURN(2); END; RETURN(1); END;
FORCELINK FUNC onform(w$, m$, wp$, lp$) RETURN(1); END;
)");
    const HWND form = NewForm("ControlParent3", Procedure(application, "onform"));
    struct Case {
        const char* procedure;
        platform::LRESULT result;
        bool passed;
    };
    const Case cases[] = {{"zero", 1, false}, {"two", 0, false}, {"onform", 0, true}};
    for (const Case& c : cases) {
        heard.clear();
        const HWND control = Control(application, form, Procedure(application, c.procedure));
        EXPECT_EQ(platform::SendMessageW(control, platform::WM_USER, 0, 0), c.result) << c.procedure;
        EXPECT_EQ(heard.empty(), !c.passed) << c.procedure;
        platform::DestroyWindow(control);
    }
}

}  // namespace
}  // namespace qob
