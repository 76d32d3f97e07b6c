// tests/windows/forms_test.cpp
// Forms: creation, the close of first, second and modal forms, the results
// 0, 1 and 2 of the event procedure, the record's end with its window and
// class, the "Desktop" rule, and the bridge to the game (taps to sprites, the
// sprite the stylus left, focus) with fakes of the engine and the sound.

#include "windows/forms.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "platform/input.h"
#include "platform/shell.h"
#include "platform/window_manager.h"
#include "runtime/vm/program_context.h"
#include "runtime/vm/value_stack.h"
#include "runtime/vm/vm.h"
#include "script_windows_support.h"
#include "windows/event_calls.h"
#include "windows/game_link.h"
#include "windows/message_loop.h"
#include "windows/window_records.h"

namespace qob {
namespace {

using testing::Address;
using platform::HWND;

class FormsTest : public testing::ScriptWindowsTest {
protected:
    // newform through its built-in.
    HWND NewForm(const char* title, const char* className, Instruction* procedure) {
        PushValue(title, 0, nullptr);
        PushValue(className, 0, nullptr);
        PushNumber(Address(procedure));
        Builtin_newform();
        return static_cast<HWND>(PopNumber());
    }
};

// Prints the messages it hears (other than the busy ones) and answers 1; the
// close procedures answer their number to WM_CLOSE.
constexpr const char* kFormProcedures = R"(
FORCELINK FUNC onform(w$, m$, x$, y$)
  IF (m$ == 1 OR m$ == 16 OR m$ == 2 OR m$ == 513 OR m$ == 514 OR m$ == 1026 OR m$ == 7 OR m$ == 8)
    showmessage("form ", m$, " ", x$, " ", y$);
  END;
  RETURN(1);
END;
FORCELINK FUNC close0(w$, m$, x$, y$) IF (m$ == 16) showmessage("close"); RETURN(0); END; RETURN(1); END;
FORCELINK FUNC close1(w$, m$, x$, y$) IF (m$ == 16) showmessage("close"); RETURN(1); END; RETURN(1); END;
FORCELINK FUNC close2(w$, m$, x$, y$) IF (m$ == 16) showmessage("close"); RETURN(2); END; RETURN(1); END;
FORCELINK FUNC onsprite(s$, m$, x$, y$)
  showmessage("sprite ", m$, " ", x$, " ", y$);
  RETURN(0);
END;
)";

TEST_F(FormsTest, NewformMakesAShownFormAboveItsMenuBarAndDeliversCreateOnce) {
    platform::StartShell();
    ProgramContext* application = Load(kFormProcedures);
    const HWND form = NewForm("Title", "MyForm", Procedure(application, "onform"));
    ASSERT_NE(form, 0u);
    EXPECT_TRUE(platform::IsWindowVisible(form)) << "the form's own hide in WM_SHOWWINDOW found it still hidden";
    EXPECT_EQ(platform::WindowTitle(form), u"Title");
    platform::RECT rect{};
    platform::GetWindowRect(form, &rect);
    EXPECT_EQ(rect.top, platform::kTaskBarHeight);
    EXPECT_EQ(rect.bottom, 320 - platform::kMenuBarHeight) << "shortened by the bar";
    ProgramContext* owner = nullptr;
    const WindowRecord* record = FindWindowRecordByHandle(form, &owner);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(owner, application);
    EXPECT_TRUE(record->firstWindow);
    EXPECT_TRUE(platform::IsWindowVisible(record->menuBar));
    EXPECT_STREQ(record->className, "MyForm");
    EXPECT_EQ(Output(), "form 1 0 0\n");
    EXPECT_EQ(platform::GetActiveWindow(), form);
}

TEST_F(FormsTest, NewformexGivesTheHeightAskedForWithAHiddenBar) {
    ProgramContext* application = Load(kFormProcedures);
    PushValue("Ex", 0, nullptr);
    PushValue("ExForm", 0, nullptr);
    for (double value : {0.0, static_cast<double>(platform::WS_VISIBLE), 10.0, 40.0, 100.0, 120.0,
                         Address(Procedure(application, "onform"))})
        PushNumber(value);
    Builtin_newformex();
    const HWND form = static_cast<HWND>(PopNumber());
    ASSERT_NE(form, 0u);
    platform::RECT rect{};
    platform::GetWindowRect(form, &rect);
    EXPECT_EQ(rect.left, 10);
    EXPECT_EQ(rect.top, 40);
    EXPECT_EQ(rect.right - rect.left, 100);
    EXPECT_EQ(rect.bottom - rect.top, 120);
    const WindowRecord* record = FindWindowRecordByHandle(form, nullptr);
    ASSERT_NE(record, nullptr);
    EXPECT_FALSE(platform::IsWindowVisible(record->menuBar));
    EXPECT_TRUE(record->noSettingChange);
}

TEST_F(FormsTest, AnEmptyOrTakenClassNameGivesNoForm) {
    ProgramContext* application = Load(kFormProcedures);
    EXPECT_EQ(NewForm("T", "", Procedure(application, "onform")), 0u);
    platform::WNDCLASSW dialog;
    dialog.lpfnWndProc = platform::DefWindowProcW;
    dialog.hCursor = 1;
    dialog.lpszClassName = u"DialogName";
    ASSERT_NE(platform::RegisterClassW(&dialog), 0);
    EXPECT_EQ(NewForm("T", "dialogname", Procedure(application, "onform")), 0u);
    EXPECT_EQ(application->windows, nullptr);
}

TEST_F(FormsTest, ABadProcedureValueNeverRuns) {
    ProgramContext* application = Load(kFormProcedures);
    ProgramContext* other = Load("FORCELINK FUNC theirs(w$, m$, x$, y$) showmessage(\"theirs\"); RETURN(1); END;");
    Instruction* theirs = Procedure(other, "theirs");
    CurrentContext = application;
    Output();
    const double values[] = {0, 12345, Address(theirs)};
    int n = 0;
    for (double value : values) {
        const std::string className = "F" + std::to_string(n++);
        PushValue("T", 0, nullptr);
        PushValue(className.c_str(), 0, nullptr);
        PushNumber(value);
        Builtin_newform();
        const HWND form = static_cast<HWND>(PopNumber());
        ASSERT_NE(form, 0u);
        EXPECT_EQ(FindWindowRecordByHandle(form, nullptr)->eventProcedure, nullptr) << value;
    }
    EXPECT_EQ(Output(), "");
}

TEST_F(FormsTest, ClosingTheFirstFormEndsItsProgramOnceEvenWhenClosedTwice) {
    ProgramContext* application = Load(kFormProcedures);
    const HWND form = NewForm("T", "First", Procedure(application, "onform"));
    Output();
    CurrentContext = nullptr;  // the message loop runs no script code of its own
    ASSERT_TRUE(platform::PostMessageW(form, platform::WM_CLOSE, 0, 0));
    ASSERT_TRUE(platform::PostMessageW(form, platform::WM_CLOSE, 0, 0));
    Pump();
    EXPECT_FALSE(IsLiveContext(application));
    EXPECT_FALSE(platform::IsWindow(form));
    EXPECT_EQ(platform::LiveWindowCount(), 0);
}

TEST_F(FormsTest, CloseResultsZeroOneAndTwo) {
    struct Case {
        const char* procedure;
        bool closed;
        platform::LRESULT returned;
    };
    const Case cases[] = {{"close0", false, 1}, {"close2", false, 0}, {"close1", true, 0}};
    for (const Case& c : cases) {
        ProgramContext* application = Load(kFormProcedures);
        // The second form of the program: a close it lets through destroys it.
        NewForm("first", "A", Procedure(application, "onform"));
        const HWND form = NewForm("second", "B", Procedure(application, c.procedure));
        Output();
        EXPECT_EQ(platform::SendMessageW(form, platform::WM_CLOSE, 0, 0), c.returned) << c.procedure;
        EXPECT_EQ(platform::IsWindow(form), !c.closed) << c.procedure;
        if (!c.closed) {
            EXPECT_TRUE(platform::IsWindowVisible(form)) << c.procedure << ": neither hidden nor closed";
        }
        // (The first form then takes the focus back, and says so.)
        EXPECT_EQ(Output().substr(0, 6), "close\n");
        if (c.closed) {
            // Its record went with it, and its class: the name is free again.
            EXPECT_EQ(FindWindowRecordByHandle(form, nullptr), nullptr);
            platform::WNDCLASSW info;
            EXPECT_FALSE(platform::GetClassInfoW(0, u"B", &info));
        }
        EndProgramContext(application);
    }
}

TEST_F(FormsTest, AModalFirstFormOnlySetsTheModalResult) {
    ProgramContext* application = Load(kFormProcedures);
    const HWND form = NewForm("T", "Modal", Procedure(application, "onform"));
    WindowRecord* record = FindWindowRecordByHandle(form, nullptr);
    record->modal = 1;
    ModalResult = 0;
    platform::SendMessageW(form, platform::WM_CLOSE, 0, 0);
    EXPECT_EQ(ModalResult, 2);
    EXPECT_TRUE(platform::IsWindow(form));
    platform::MSG message;
    EXPECT_FALSE(platform::PeekQueuedMessage(&message, 0, kEndApplicationMessage, kEndApplicationMessage, false));
}

TEST_F(FormsTest, DestroyingTheRecordDestroysTheWindowBeforeTheClassGoes) {
    ProgramContext* application = Load(kFormProcedures);
    const HWND form = NewForm("T", "Gone", Procedure(application, "onform"));
    FreeWindowRecords(form);
    EXPECT_FALSE(platform::IsWindow(form));
    platform::WNDCLASSW dialog;
    dialog.lpfnWndProc = platform::DefWindowProcW;
    dialog.hCursor = 1;
    dialog.lpszClassName = u"Gone";
    EXPECT_NE(platform::RegisterClassW(&dialog), 0) << "the form class is unregistered";
}

TEST_F(FormsTest, AFormSentBehindTheDesktopClosesItself) {
    platform::StartShell();
    ProgramContext* application = Load(kFormProcedures);
    const HWND form = NewForm("T", "Behind", Procedure(application, "onform"));
    Output();
    platform::SetWindowPos(form, platform::GetDesktopWindow(), 0, 0, 0, 0,
                           platform::SWP_NOMOVE | platform::SWP_NOSIZE | platform::SWP_NOACTIVATE);
    platform::MSG message{};
    ASSERT_TRUE(platform::PeekQueuedMessage(&message, form, 0, 0, false));
    EXPECT_EQ(message.message, platform::WM_CLOSE);
}

TEST_F(FormsTest, TheBackColourFillsTheFormAndNoneLeavesItWhite) {
    ProgramContext* application = Load(kFormProcedures);
    const HWND form = NewForm("T", "Coloured", Procedure(application, "onform"));
    Pump();
    platform::ComposeScreen();
    const platform::Surface32& screen = platform::ScreenSurface();
    auto at = [&](int x, int y) { return screen.pixels[static_cast<size_t>(y) * screen.stride + x] & 0xFFFFFF; };
    EXPECT_EQ(at(120, 150), 0xFFFFFFu) << "no back colour: white";
    FindWindowRecordByHandle(form, nullptr)->backColour = platform::RGB(0x12, 0x34, 0x56);
    platform::InvalidateRect(form, nullptr, true);
    Pump();
    platform::ComposeScreen();
    EXPECT_EQ(at(120, 150), 0x123456u);
    EXPECT_EQ(at(0, platform::kTaskBarHeight), 0x123456u);
}

TEST_F(FormsTest, AColouredControlGetsOneBrushPerColourHoweverOftenItPaints) {
    ProgramContext* application = Load(kFormProcedures);
    const HWND form = NewForm("T", "Controls", Procedure(application, "onform"));
    platform::WNDCLASSW windowClass;
    windowClass.lpfnWndProc = platform::DefWindowProcW;
    windowClass.lpszClassName = u"Control";
    ASSERT_NE(platform::RegisterClassW(&windowClass), 0);
    const HWND control = platform::CreateWindowExW(0, u"Control", u"", platform::WS_CHILD, 0, 0, 10, 10, form, 1, 0, nullptr);
    WindowRecord* record = AddWindowRecord(application, control, nullptr, 0, nullptr);
    record->backColour = platform::RGB(1, 2, 3);
    const platform::HDC dc = platform::GetDC(control);
    const auto first = platform::SendMessageW(form, platform::WM_CTLCOLORSTATIC, dc, static_cast<platform::LPARAM>(control));
    const auto second = platform::SendMessageW(form, platform::WM_CTLCOLORSTATIC, dc, static_cast<platform::LPARAM>(control));
    EXPECT_NE(first, 0);
    EXPECT_EQ(first, second);
    EXPECT_EQ(platform::GetBkColor(dc), platform::RGB(1, 2, 3));
    record->backColour = 0;
    record->textColour = platform::RGB(9, 9, 9);
    EXPECT_EQ(platform::SendMessageW(form, platform::WM_CTLCOLORSTATIC, dc, static_cast<platform::LPARAM>(control)),
              static_cast<platform::LRESULT>(platform::GetSysColorBrush(platform::COLOR_BTNFACE)));
    EXPECT_EQ(platform::GetTextColor(dc), platform::RGB(9, 9, 9));
    platform::ReleaseDC(control, dc);
    DeleteControlColourBrushes();
}

// --- the game fakes ------------------------------------------------------------------

struct FakeSprite {
    double x, y;
    uint64_t options;
    Instruction* procedure;
    ProgramContext* owner;
    bool live;
    platform::RECT area;  // game coordinates it covers
};
std::map<const void*, FakeSprite*> gSprites;
int gPauses = 0;
int gResumes = 0;

void* FakeFind(int32_t x, int32_t y, int32_t) {
    for (auto& [key, sprite] : gSprites)
        if (sprite->live && x >= sprite->area.left && x < sprite->area.right && y >= sprite->area.top &&
            y < sprite->area.bottom)
            return sprite;
    return nullptr;
}

bool FakeDescribe(const void* handle, SpriteView* view) {
    const auto found = gSprites.find(handle);
    if (found == gSprites.end() || !found->second->live) return false;
    const FakeSprite& s = *found->second;
    *view = SpriteView{s.x, s.y, s.options, s.procedure, s.owner, false};
    return true;
}

class GameFormsTest : public FormsTest {
protected:
    void SetUp() override {
        FormsTest::SetUp();
        gSprites.clear();
        gPauses = gResumes = 0;
        FindSpriteAtPoint = FakeFind;
        DescribeSprite = FakeDescribe;
        SoundPauseDevice = [] { ++gPauses; };
        SoundResumeDevice = [] { ++gResumes; };
    }
    void TearDown() override {
        gSprites.clear();
        FormsTest::TearDown();
    }
};

TEST_F(GameFormsTest, TapsReachTheSpriteUnderThemAndTheSpriteLeftHearsMessage1026Once) {
    ProgramContext* application = Load(kFormProcedures);
    const HWND form = NewForm("Game", "GameForm", Procedure(application, "onform"));
    GameWindow = form;
    ViewOffset = {100.5, 10};
    // Game point = client point + (100, 10).
    FakeSprite sprite{150, 50, kSpriteFixedY, Procedure(application, "onsprite"), application, true,
                      {140, 40, 180, 80}};
    FakeSprite* handle = &sprite;
    gSprites[handle] = handle;
    Output();
    platform::InjectTap(60, 26 + 45);  // client (60, 45): game (160, 55)
    Pump();
    // Relative point: 160 - 150 = 10; y fixed to the screen: 55 - 50 - 10 = -5.
    EXPECT_EQ(Output(), "sprite 513 10 -5\nform 513 160 55\nsprite 514 10 -5\nform 514 160 55\n");
    EXPECT_EQ(HoveredSprite, handle);
    platform::InjectTap(0, 26);  // empty space: game (100, 10)
    Pump();
    EXPECT_EQ(Output(), "sprite 1026 -50 -50\nform 513 100 10\nform 514 100 10\n");
    EXPECT_EQ(HoveredSprite, nullptr);
}

TEST_F(GameFormsTest, ASpriteThatIsNoLongerLiveIsNotCalledWhenTheStylusLeavesIt) {
    ProgramContext* application = Load(kFormProcedures);
    const HWND form = NewForm("Game", "GameForm2", Procedure(application, "onform"));
    GameWindow = form;
    FakeSprite sprite{0, 0, 0, Procedure(application, "onsprite"), application, true, {0, 0, 50, 50}};
    gSprites[&sprite] = &sprite;
    platform::InjectStylus(10, 36, platform::StylusAction::Down);
    Pump();
    ASSERT_EQ(HoveredSprite, &sprite);
    sprite.live = false;  // deleted by the engine
    Output();
    platform::InjectStylus(10, 36, platform::StylusAction::Up);
    Pump();
    EXPECT_EQ(Output(), "form 514 10 10\n");
    EXPECT_EQ(HoveredSprite, nullptr);
}

TEST_F(GameFormsTest, FocusLossPausesTheGameAndSoundAndItsReturnResumesThem) {
    ProgramContext* application = Load(kFormProcedures);
    const HWND form = NewForm("Game", "FocusForm", Procedure(application, "onform"));
    GameWindow = form;
    GameState = 0;
    GameDirtyRects.mode = 1;
    GameDirtyRects.screen = {0, 0, 240, 320};
    platform::SendMessageW(form, platform::WM_KILLFOCUS, 0, 0);
    EXPECT_EQ(GameState, 1);
    EXPECT_EQ(gPauses, 1);
    platform::SendMessageW(form, platform::WM_SETFOCUS, 0, 0);
    EXPECT_EQ(GameState, 0);
    EXPECT_EQ(gResumes, 1);
    EXPECT_EQ(GameDirtyRects.count, 1);
    // Suspended by the program: focus changes leave it so.
    GameState = 2;
    platform::SendMessageW(form, platform::WM_KILLFOCUS, 0, 0);
    platform::SendMessageW(form, platform::WM_SETFOCUS, 0, 0);
    EXPECT_EQ(GameState, 2);
    EXPECT_EQ(gPauses, 1);
    EXPECT_EQ(gResumes, 1);
}

TEST_F(GameFormsTest, WhileWaitingForInputTheFirstPressIsSwallowed) {
    ProgramContext* application = Load(kFormProcedures);
    const HWND form = NewForm("Game", "WaitForm", Procedure(application, "onform"));
    GameWindow = form;
    InputWaitTime = 500;
    Output();
    platform::InjectTap(5, 31);
    Pump();
    EXPECT_EQ(InputWaitTime, 0u);
    EXPECT_EQ(Output(), "form 514 5 5\n") << "the press ended the wait; the release still came";
}

}  // namespace
}  // namespace qob
