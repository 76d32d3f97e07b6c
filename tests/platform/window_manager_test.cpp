// tests/platform/window_manager_test.cpp
// The window manager by the messages its windows receive: creation, showing,
// destruction order and what has the focus after it, nested destroys and
// sends, subclassing, WM_PAINT and WM_TIMER on an empty queue only, double
// clicks, taps hit-tested to children, the idle policy, the class rules and
// the window-text calls' low-memory texts.

#include "platform/window_manager.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/input.h"
#include "platform/memory.h"
#include "platform/shell.h"

namespace qob::platform {
namespace {

// Every message a test window receives, as "name:message".
std::vector<std::string> gTrace;
std::map<HWND, std::string> gNames;
// Per-window reactions, run before the default processing; a reaction that
// returns true has handled the message.
std::map<HWND, std::function<bool(UINT, WPARAM, LPARAM, LRESULT*)>> gReactions;

const char* MessageName(UINT message) {
    switch (message) {
    case WM_CREATE: return "CREATE";
    case WM_DESTROY: return "DESTROY";
    case WM_MOVE: return "MOVE";
    case WM_SIZE: return "SIZE";
    case WM_ACTIVATE: return "ACTIVATE";
    case WM_SETFOCUS: return "SETFOCUS";
    case WM_KILLFOCUS: return "KILLFOCUS";
    case WM_ENABLE: return "ENABLE";
    case WM_PAINT: return "PAINT";
    case WM_CLOSE: return "CLOSE";
    case WM_ERASEBKGND: return "ERASEBKGND";
    case WM_SHOWWINDOW: return "SHOWWINDOW";
    case WM_WINDOWPOSCHANGED: return "WINDOWPOSCHANGED";
    case WM_NCDESTROY: return "NCDESTROY";
    case WM_KEYDOWN: return "KEYDOWN";
    case WM_KEYUP: return "KEYUP";
    case WM_CHAR: return "CHAR";
    case WM_TIMER: return "TIMER";
    case WM_LBUTTONDOWN: return "LBUTTONDOWN";
    case WM_LBUTTONUP: return "LBUTTONUP";
    case WM_LBUTTONDBLCLK: return "LBUTTONDBLCLK";
    case WM_MOUSEMOVE: return "MOUSEMOVE";
    case WM_CAPTURECHANGED: return "CAPTURECHANGED";
    case WM_SETTEXT: return "SETTEXT";
    case WM_GETTEXT: return "GETTEXT";
    case WM_GETTEXTLENGTH: return "GETTEXTLENGTH";
    default: return nullptr;
    }
}

LRESULT TraceProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    const auto name = gNames.find(window);
    if (const char* text = MessageName(message); text && name != gNames.end())
        gTrace.push_back(name->second + ":" + text);
    if (auto reaction = gReactions.find(window); reaction != gReactions.end()) {
        LRESULT result = 0;
        auto react = reaction->second;  // the reaction may replace itself
        if (react(message, wParam, lParam, &result)) return result;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

class WindowManagerTest : public testing::Test {
protected:
    void SetUp() override {
        ResetWindowManager();
        SetIdlePolicy(IdlePolicy::Fail);
        SetTestClock(1'000'000'000);
        Drain();
        Register(u"Trace", 0);
        Register(u"Clicks", CS_DBLCLKS);
    }

    void TearDown() override {
        ResetWindowManager();
        Drain();
        gTrace.clear();
        gNames.clear();
        gReactions.clear();
        ClearTestClock();
    }

    static void Drain() {
        MSG message;
        while (PeekQueuedMessage(&message, 0, 0, 0, true)) {
        }
    }

    static void Register(const char16_t* name, UINT style) {
        WNDCLASSW windowClass;
        windowClass.style = style;
        windowClass.lpfnWndProc = TraceProcedure;
        windowClass.lpszClassName = name;
        ASSERT_NE(RegisterClassW(&windowClass), 0);
    }

    static HWND Make(const std::string& name, uint32_t style, HWND parent = 0, RECT rect = {0, 30, 200, 230},
                     const char16_t* className = u"Trace") {
        const HWND window = CreateWindowExW(0, className, u"title", style & ~WS_VISIBLE, rect.left, rect.top,
                                            rect.right - rect.left, rect.bottom - rect.top, parent, 0, 0, nullptr);
        gNames[window] = name;
        if (style & WS_VISIBLE) ShowWindow(window, SW_SHOW);
        return window;
    }

    // Takes and dispatches every message there is, with key translation.
    static void Pump() {
        MSG message;
        while (PeekMessageW(&message, 0, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }

    static std::vector<std::string> TakeTrace() { return std::exchange(gTrace, {}); }
};

using Trace = std::vector<std::string>;

TEST_F(WindowManagerTest, CreationSendsCreateSizeMoveAndAVisibleWindowIsShownActivatedAndFocused) {
    HWND created = 0;
    WNDCLASSW windowClass;
    windowClass.lpfnWndProc = [](HWND window, UINT message, WPARAM wParam, LPARAM lParam) -> LRESULT {
        gNames.try_emplace(window, "w");
        return TraceProcedure(window, message, wParam, lParam);
    };
    windowClass.lpszClassName = u"Named";
    ASSERT_NE(RegisterClassW(&windowClass), 0);
    created = CreateWindowExW(0, u"named", u"T", WS_VISIBLE, 10, 40, 100, 50, 0, 0, 0, nullptr);
    ASSERT_NE(created, 0u);
    EXPECT_EQ(TakeTrace(), (Trace{"w:CREATE", "w:SIZE", "w:MOVE", "w:SHOWWINDOW", "w:ACTIVATE", "w:SETFOCUS"}));
    EXPECT_EQ(GetActiveWindow(), created);
    EXPECT_EQ(GetFocus(), created);
    RECT rect{};
    ASSERT_TRUE(GetWindowRect(created, &rect));
    EXPECT_EQ(rect.left, 10);
    EXPECT_EQ(rect.bottom, 90);
}

TEST_F(WindowManagerTest, CreateRefusedByTheProcedureGivesNoWindow) {
    gReactions[0] = nullptr;
    WNDCLASSW windowClass;
    windowClass.lpfnWndProc = [](HWND window, UINT message, WPARAM wParam, LPARAM lParam) -> LRESULT {
        if (message == WM_CREATE) {
            const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
            // The record lies in low memory, with the title and class readable there.
            EXPECT_LT(reinterpret_cast<uintptr_t>(create), uintptr_t{0x80000000});
            EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(uintptr_t{create->lpszName})), u"refused");
            EXPECT_EQ(create->cx, 30);
            return -1;
        }
        return DefWindowProcW(window, message, wParam, lParam);
    };
    windowClass.lpszClassName = u"Refusing";
    ASSERT_NE(RegisterClassW(&windowClass), 0);
    EXPECT_EQ(CreateWindowExW(0, u"Refusing", u"refused", 0, 0, 0, 30, 30, 0, 0, 0, nullptr), 0u);
    EXPECT_EQ(LiveWindowCount(), 0);
}

TEST_F(WindowManagerTest, ShowWindowActsOnlyOnAChangeAndANestedHideInWmShowWindowDoesNothing) {
    const HWND form = Make("f", 0);
    TakeTrace();
    EXPECT_FALSE(ShowWindow(form, SW_SHOW));
    EXPECT_EQ(TakeTrace(), (Trace{"f:SHOWWINDOW", "f:ACTIVATE", "f:SETFOCUS"}));
    EXPECT_TRUE(ShowWindow(form, SW_SHOW));
    EXPECT_EQ(TakeTrace(), Trace{}) << "showing a shown window sends nothing";

    // A window that hides itself whenever it hears WM_SHOWWINDOW.
    gReactions[form] = [form](UINT message, WPARAM, LPARAM, LRESULT*) {
        if (message == WM_SHOWWINDOW) {
            EXPECT_EQ(ShowWindow(form, SW_HIDE), IsWindowVisible(form));
        }
        return false;
    };
    EXPECT_TRUE(ShowWindow(form, SW_HIDE));
    EXPECT_FALSE(IsWindowVisible(form));
    EXPECT_EQ(TakeTrace(), (Trace{"f:SHOWWINDOW", "f:ACTIVATE", "f:KILLFOCUS"}));
    EXPECT_FALSE(ShowWindow(form, SW_SHOW));
    EXPECT_TRUE(IsWindowVisible(form)) << "the nested hide found the window still hidden";
    EXPECT_EQ(TakeTrace(), (Trace{"f:SHOWWINDOW", "f:ACTIVATE", "f:SETFOCUS"}));
}

TEST_F(WindowManagerTest, DestroyWindowSendsDestroyParentsFirstAndNcDestroyChildrenFirstAfterOwnedPopups) {
    const HWND top = Make("top", WS_VISIBLE);
    const HWND a = Make("a", WS_CHILD | WS_VISIBLE, top, RECT{0, 0, 50, 50});
    Make("a1", WS_CHILD | WS_VISIBLE, a, RECT{0, 0, 10, 10});
    Make("b", WS_CHILD | WS_VISIBLE, top, RECT{60, 0, 100, 50});
    Make("popup", 0, top);
    TakeTrace();
    // Children are kept front first: b was made last, so it is in front.
    ASSERT_TRUE(DestroyWindow(top));
    EXPECT_EQ(TakeTrace(), (Trace{"popup:DESTROY", "popup:NCDESTROY", "top:DESTROY", "b:DESTROY", "a:DESTROY",
                                  "a1:DESTROY", "b:NCDESTROY", "a1:NCDESTROY", "a:NCDESTROY", "top:NCDESTROY"}));
    EXPECT_EQ(LiveWindowCount(), 0);
    EXPECT_FALSE(DestroyWindow(top)) << "a dead handle fails quietly";
}

TEST_F(WindowManagerTest, FocusAndActivationAfterDestruction) {
    struct Case {
        const char* what;
        bool destroyChild;    // else the top-level popup
        const char* focusAfter;
        const char* activeAfter;
    };
    const Case cases[] = {
        {"a focused child: its parent takes the focus", true, "owner", "owner"},
        {"the active popup: its owner is activated and focused", false, "owner", "owner"},
    };
    for (const Case& c : cases) {
        const HWND owner = Make("owner", WS_VISIBLE);
        const HWND popup = Make("popup", WS_VISIBLE, owner);
        const HWND other = Make("other", WS_VISIBLE);
        SetActiveWindow(popup);
        const HWND child = Make("child", WS_CHILD | WS_VISIBLE, c.destroyChild ? owner : popup, RECT{0, 0, 5, 5});
        if (c.destroyChild) SetActiveWindow(owner);
        SetFocus(child);
        ASSERT_EQ(GetFocus(), child) << c.what;
        DestroyWindow(c.destroyChild ? child : popup);
        EXPECT_EQ(gNames[GetFocus()], c.focusAfter) << c.what;
        EXPECT_EQ(gNames[GetActiveWindow()], c.activeAfter) << c.what;
        DestroyWindow(owner);
        DestroyWindow(other);
        TakeTrace();
    }
}

TEST_F(WindowManagerTest, NestedDestroysAndSendsKeepTheWindowUntilTheOutermostCallReturns) {
    const HWND window = Make("w", WS_VISIBLE);
    int nestedResults = 0;
    gReactions[window] = [&](UINT message, WPARAM, LPARAM, LRESULT* result) {
        if (message == WM_USER) {
            // Destroyed in its own procedure, inside a nested send.
            EXPECT_EQ(SendMessageW(window, WM_USER + 1, 0, 0), 7);
            EXPECT_FALSE(IsWindow(window));
            *result = 5;
            return true;
        }
        if (message == WM_USER + 1) {
            DestroyWindow(window);
            *result = 7;
            return true;
        }
        if (message == WM_DESTROY) nestedResults += DestroyWindow(window) ? 100 : 1;
        return false;
    };
    TakeTrace();
    EXPECT_EQ(SendMessageW(window, WM_USER, 0, 0), 5);
    EXPECT_EQ(nestedResults, 1) << "DestroyWindow nested in WM_DESTROY does nothing";
    EXPECT_EQ(TakeTrace(), (Trace{"w:DESTROY", "w:NCDESTROY"})) << "a dying window hears no deactivation";
    EXPECT_EQ(SendMessageW(window, WM_USER, 0, 0), 0) << "a dead window answers 0";
    gReactions.clear();
}

WNDPROC gSubclassed = nullptr;

TEST_F(WindowManagerTest, SubclassingReplacesTheProcedureAndCallWindowProcReachesTheOldOne) {
    const HWND window = Make("w", 0);
    TakeTrace();
    const WNDPROC replacement = [](HWND w, UINT message, WPARAM wParam, LPARAM lParam) -> LRESULT {
        if (message == WM_USER) return 42;
        gTrace.push_back("sub:" + std::to_string(message));
        return CallWindowProcW(gSubclassed, w, message, wParam, lParam);
    };
    gSubclassed = reinterpret_cast<WNDPROC>(SetWindowLongPtrW(window, GWL_WNDPROC, reinterpret_cast<intptr_t>(replacement)));
    EXPECT_EQ(gSubclassed, TraceProcedure);
    EXPECT_EQ(SendMessageW(window, WM_USER, 0, 0), 42);
    SendMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(TakeTrace(), (Trace{"sub:16", "w:CLOSE", "sub:2", "w:DESTROY", "sub:130", "w:NCDESTROY"}));
    EXPECT_FALSE(IsWindow(window));
}

TEST_F(WindowManagerTest, WindowTextCallsSendTheirTextAndBufferFromLowMemory) {
    // A procedure that, like a script's, keeps only 32 bits of lParam: it
    // reads the text it is given and writes "abc" into the buffer, answering
    // 1 as a procedure passing the message on does.
    const HWND window = Make("w", 0);
    std::vector<uintptr_t> addresses;
    std::u16string received;
    gReactions[window] = [&](UINT message, WPARAM, LPARAM lParam, LRESULT* result) {
        if (message != WM_SETTEXT && message != WM_GETTEXT) return false;
        addresses.push_back(static_cast<uintptr_t>(lParam));
        auto* words = reinterpret_cast<char16_t*>(static_cast<uintptr_t>(static_cast<uint32_t>(lParam)));
        if (static_cast<uintptr_t>(lParam) >= kLowMemoryLimit) {
            *result = 0;
            return true;
        }
        if (message == WM_SETTEXT) received = words;
        else std::copy_n(u"abc", 4, words);
        *result = 1;
        return true;
    };
    const std::u16string text = u"a text on the ordinary heap";
    EXPECT_TRUE(SetWindowTextW(window, text.c_str()));
    EXPECT_EQ(received, text);
    char16_t buffer[8];
    EXPECT_EQ(GetWindowTextW(window, buffer, 8), 1);
    EXPECT_EQ(std::u16string(buffer), u"abc") << "what the window wrote reaches the caller's buffer";
    ASSERT_EQ(addresses.size(), 2u);
    for (const uintptr_t address : addresses) EXPECT_LT(address, kLowMemoryLimit);
    gReactions.erase(window);
}

TEST_F(WindowManagerTest, PaintComesOnlyWhenNothingIsPostedAndDispatchValidatesAWindowThatDidNot) {
    const HWND window = Make("w", WS_VISIBLE);
    // The procedure never validates: it handles WM_PAINT without painting.
    gReactions[window] = [](UINT message, WPARAM, LPARAM, LRESULT* result) {
        *result = 0;
        return message == WM_PAINT;
    };
    Pump();
    TakeTrace();
    InvalidateRect(window, nullptr, false);
    ASSERT_TRUE(PostMessageW(window, WM_USER, 0, 0));
    MSG message{};
    ASSERT_TRUE(PeekMessageW(&message, 0, 0, 0, PM_REMOVE));
    EXPECT_EQ(message.message, WM_USER) << "posted messages first";
    ASSERT_TRUE(PeekMessageW(&message, 0, 0, 0, PM_NOREMOVE));
    EXPECT_EQ(message.message, WM_PAINT);
    ASSERT_TRUE(PeekMessageW(&message, 0, 0, 0, PM_REMOVE));
    EXPECT_EQ(message.message, WM_PAINT) << "WM_PAINT stays while the window needs painting";
    DispatchMessageW(&message);
    EXPECT_FALSE(GetUpdateRect(window, nullptr, false));
    EXPECT_FALSE(PeekMessageW(&message, 0, 0, 0, PM_REMOVE)) << "a pump until empty ends";
}

TEST_F(WindowManagerTest, TimersFireWhenDueAfterPostedMessagesAndTheClockJumpsToThem) {
    const HWND window = Make("w", 0);
    TakeTrace();
    ASSERT_EQ(SetTimer(window, 9, 100, nullptr), 9u);
    const uint32_t start = GetTickCount();
    ASSERT_TRUE(PostMessageW(window, WM_USER, 0, 0));
    MSG message{};
    ASSERT_EQ(GetMessageW(&message, 0, 0, 0), 1);
    EXPECT_EQ(message.message, WM_USER);
    EXPECT_EQ(GetTickCount(), start) << "a message was waiting: no time passed";
    ASSERT_EQ(GetMessageW(&message, 0, 0, 0), 1);
    EXPECT_EQ(message.message, WM_TIMER);
    EXPECT_EQ(message.wParam, 9u);
    EXPECT_EQ(GetTickCount() - start, 100u) << "the idle clock jumped to the timer";
    ASSERT_EQ(GetMessageW(&message, 0, 0, 0), 1);
    EXPECT_EQ(GetTickCount() - start, 200u);
    ASSERT_TRUE(KillTimer(window, 9));
    EXPECT_EQ(GetMessageW(&message, 0, 0, 0), -1) << "nothing can come: the idle policy fails";
    EXPECT_TRUE(TakeIdleFailure());

    static int fired = 0;
    fired = 0;
    SetTimer(window, 3, 10, [](HWND, UINT, uintptr_t id, uint32_t) { fired += static_cast<int>(id); });
    ASSERT_EQ(GetMessageW(&message, 0, 0, 0), 1);
    DispatchMessageW(&message);
    EXPECT_EQ(fired, 3);
    MSG forged{window, WM_TIMER, 3, 12345};
    DispatchMessageW(&forged);
    EXPECT_EQ(fired, 3) << "a posted WM_TIMER with a number that is no timer procedure calls nothing";
    EXPECT_EQ(TakeTrace(), Trace{}) << "a timer procedure's timer does not reach the window";
}

TEST_F(WindowManagerTest, AnEmptyPeekUnderTheTestClockMovesTimeOn) {
    const uint32_t start = GetTickCount();
    MSG message{};
    EXPECT_FALSE(PeekMessageW(&message, 0, 0, 0, PM_REMOVE));
    EXPECT_EQ(GetTickCount() - start, 1u);
    ScheduleInput(ScheduledInput{ScheduledInput::Kind::Key, start + 50, 0, 0, 13, u""});
    EXPECT_FALSE(PeekMessageW(&message, 0, 0, 0, PM_REMOVE));
    EXPECT_EQ(GetTickCount() - start, 50u) << "to the scheduled input";
}

TEST_F(WindowManagerTest, DoubleClicksNeedTheClassStyleAndTwoPressesWithin500MsAnd4Pixels) {
    struct Case {
        const char* what;
        const char16_t* className;
        uint32_t gapMs;
        int32_t dx;
        const char* second;
    };
    const Case cases[] = {
        {"dblclks class, close in time and place", u"Clicks", 500, 4, "LBUTTONDBLCLK"},
        {"plain class", u"Trace", 10, 0, "LBUTTONDOWN"},
        {"too late", u"Clicks", 501, 0, "LBUTTONDOWN"},
        {"too far", u"Clicks", 10, 5, "LBUTTONDOWN"},
    };
    for (const Case& c : cases) {
        const HWND window = Make("w", WS_VISIBLE, 0, RECT{0, 30, 200, 230}, c.className);
        Pump();
        TakeTrace();
        InjectTap(50, 50);
        AdvanceTestClock(uint64_t{c.gapMs} * 1'000'000);
        InjectTap(50 + c.dx, 50);
        Pump();
        EXPECT_EQ(TakeTrace(), (Trace{"w:LBUTTONDOWN", "w:LBUTTONUP", std::string("w:") + c.second, "w:LBUTTONUP"}))
            << c.what;
        DestroyWindow(window);
        AdvanceTestClock(uint64_t{1000} * 1'000'000);
    }
}

TEST_F(WindowManagerTest, TapsGoToTheDeepestEnabledChildInItsClientCoordinatesUnlessCaptured) {
    const HWND top = Make("top", WS_VISIBLE, 0, RECT{10, 40, 210, 240});
    const HWND child = Make("child", WS_CHILD | WS_VISIBLE, top, RECT{20, 20, 120, 120});
    const HWND disabled = Make("disabled", WS_CHILD | WS_VISIBLE | WS_DISABLED, top, RECT{130, 20, 180, 70});
    EnableWindow(disabled, false);
    Pump();
    TakeTrace();
    struct Case {
        int32_t x, y;
        const char* who;
        LPARAM point;
    };
    const Case cases[] = {
        {35, 65, "child", 5 | (5 << 16)},          // 10+20+5, 40+20+5
        {150, 70, "top", 140 | (30 << 16)},        // on the disabled child: its parent
        {12, 42, "top", 2 | (2 << 16)},
    };
    for (const Case& c : cases) {
        InjectTap(c.x, c.y);
        MSG message{};
        ASSERT_TRUE(PeekMessageW(&message, 0, 0, 0, PM_REMOVE));
        EXPECT_EQ(gNames[message.hwnd], c.who) << c.x << "," << c.y;
        EXPECT_EQ(message.message, WM_LBUTTONDOWN);
        EXPECT_EQ(message.lParam, c.point);
        Pump();
    }
    SetCapture(child);
    InjectStylus(15, 45, StylusAction::Down);
    MSG message{};
    ASSERT_TRUE(PeekMessageW(&message, 0, 0, 0, PM_REMOVE));
    EXPECT_EQ(message.hwnd, child);
    EXPECT_EQ(static_cast<int16_t>(message.lParam & 0xFFFF), -15) << "a captured point outside is negative";
    EXPECT_EQ(static_cast<int16_t>((message.lParam >> 16) & 0xFFFF), -15);
    InjectStylus(500, 500, StylusAction::Move);
    ASSERT_TRUE(PeekMessageW(&message, 0, 0, 0, PM_REMOVE));
    EXPECT_EQ(message.message, WM_MOUSEMOVE);
    EXPECT_EQ(message.hwnd, child);
    InjectStylus(500, 500, StylusAction::Up);
    ReleaseCapture();
    Pump();
    InjectStylus(35, 65, StylusAction::Move);
    EXPECT_FALSE(PeekMessageW(&message, 0, 0, 0, PM_REMOVE)) << "no hover: moves only while down";
}

TEST_F(WindowManagerTest, KeysGoToTheFocusAndTranslateMessagePutsTheCharacterBeforeTheRelease) {
    const HWND window = Make("w", WS_VISIBLE);
    Pump();
    TakeTrace();
    InjectKey('A');
    InjectText(u"é");
    Pump();
    EXPECT_EQ(TakeTrace(), (Trace{"w:KEYDOWN", "w:CHAR", "w:KEYUP", "w:CHAR"}));
    (void)window;
}

TEST_F(WindowManagerTest, IdleCloseSendsWmCloseToVisibleTopLevelWindowsFrontFirstThenGivesUp) {
    SetIdlePolicy(IdlePolicy::Close);
    StartShell();
    const HWND back = Make("back", WS_VISIBLE);
    const HWND front = Make("front", WS_VISIBLE);
    Make("hidden", 0);
    // back refuses to close.
    gReactions[back] = [](UINT message, WPARAM, LPARAM, LRESULT* result) {
        *result = 0;
        return message == WM_CLOSE;
    };
    Pump();
    TakeTrace();
    MSG message{};
    std::vector<std::string> closes;
    int got = 0;
    while ((got = GetMessageW(&message, 0, 0, 0)) > 0) {
        if (message.message == WM_CLOSE) closes.push_back(gNames[message.hwnd]);
        DispatchMessageW(&message);
    }
    EXPECT_EQ(got, -1);
    EXPECT_EQ(closes, (std::vector<std::string>{"front", "back"}));
    EXPECT_FALSE(IsWindow(front));
    EXPECT_TRUE(IsWindow(back)) << "each window hears the idle close once";
    EXPECT_FALSE(TakeIdleFailure());
}

TEST_F(WindowManagerTest, ClassRules) {
    WNDCLASSW windowClass;
    windowClass.lpfnWndProc = TraceProcedure;
    windowClass.lpszClassName = u"TRACE";
    EXPECT_EQ(RegisterClassW(&windowClass), 0) << "names match case-insensitively";
    windowClass.lpszClassName = u"";
    EXPECT_EQ(RegisterClassW(&windowClass), 0) << "an empty name";
    windowClass.lpszClassName = u"Dialog";
    windowClass.hCursor = 1;
    ASSERT_NE(RegisterClassW(&windowClass), 0);
    WNDCLASSW info;
    ASSERT_TRUE(GetClassInfoW(0, u"dialog", &info));
    EXPECT_EQ(info.hCursor, 1u) << "hCursor as stored";
    EXPECT_EQ(std::u16string(info.lpszClassName), u"Dialog");
    const HWND window = CreateWindowExW(0, u"DIALOG", u"", 0, 0, 0, 1, 1, 0, 0, 0, nullptr);
    ASSERT_NE(window, 0u);
    EXPECT_FALSE(UnregisterClassW(u"Dialog", 0)) << "a window of the class exists";
    DestroyWindow(window);
    EXPECT_TRUE(UnregisterClassW(u"dialog", 0));
    EXPECT_FALSE(GetClassInfoW(0, u"Dialog", &info));
    EXPECT_EQ(CreateWindowExW(0, u"Nothing", u"", 0, 0, 0, 1, 1, 0, 0, 0, nullptr), 0u);
}

TEST_F(WindowManagerTest, DefaultSizesParentsAndSizeClamping) {
    StartShell();
    const HWND form = CreateWindowExW(0, u"Trace", u"", 0, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                                      CW_USEDEFAULT, 0, 0, 0, nullptr);
    RECT rect{};
    GetWindowRect(form, &rect);
    EXPECT_EQ(rect.left, 0);
    EXPECT_EQ(rect.top, kTaskBarHeight);
    EXPECT_EQ(rect.right, 240);
    EXPECT_EQ(rect.bottom, 320);
    const HWND popup = CreateWindowExW(0, u"Trace", u"", WS_POPUP, 0, 0, -5, 99999, form, 0, 0, nullptr);
    const HWND child = CreateWindowExW(0, u"Trace", u"", WS_CHILD, 0, 0, 1, 1, form, 0, 0, nullptr);
    EXPECT_EQ(GetParent(popup), form) << "the owner of a pop-up";
    EXPECT_EQ(GetParent(child), form);
    GetWindowRect(popup, &rect);
    EXPECT_EQ(rect.right - rect.left, 0);
    EXPECT_EQ(rect.bottom - rect.top, 32767);
    EXPECT_EQ(CreateWindowExW(0, u"Trace", u"", WS_CHILD, 0, 0, 1, 1, 0, 0, 0, nullptr), 0u) << "a child needs a parent";
}

TEST_F(WindowManagerTest, SetWindowPosNamesTheWindowInsertedAfterAndTheDesktopStaysAtTheBottom) {
    StartShell();
    const HWND desktop = GetDesktopWindow();
    ASSERT_NE(desktop, 0u);
    EXPECT_EQ(WindowTitle(desktop), u"Desktop");
    const HWND window = Make("w", WS_VISIBLE);
    uint32_t insertAfter = 0;
    gReactions[window] = [&](UINT message, WPARAM, LPARAM lParam, LRESULT*) {
        if (message == WM_WINDOWPOSCHANGED) insertAfter = reinterpret_cast<const WINDOWPOS*>(lParam)->hwndInsertAfter;
        return false;
    };
    TakeTrace();
    SetWindowPos(window, desktop, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    EXPECT_EQ(insertAfter, static_cast<uint32_t>(desktop));
    EXPECT_EQ(GetWindow(desktop, GW_HWNDNEXT), 0u) << "the desktop is still last";
    EXPECT_EQ(GetWindow(desktop, GW_HWNDPREV), window);
    EXPECT_EQ(TakeTrace(), Trace{"w:WINDOWPOSCHANGED"});
    MoveWindow(window, 5, 50, 100, 60, false);
    EXPECT_EQ(TakeTrace(), (Trace{"w:WINDOWPOSCHANGED", "w:SIZE", "w:MOVE"}));
}

TEST_F(WindowManagerTest, AMalformedScreenSizeIsReportedAndTheDefaultUsed) {
    struct Case {
        const char* value;
        SIZE size;
        bool reported;
    };
    const Case cases[] = {
        {"320x240", {320, 240}, false}, {"640x480", {640, 480}, false}, {"abc", {240, 320}, true},
        {"0x100", {240, 320}, true},    {"100x100x", {240, 320}, true}, {"5000x10", {240, 320}, true},
    };
    for (const Case& c : cases) {
        setenv("QOB_SCREEN", c.value, 1);
        ResetWindowManager();
        testing::internal::CaptureStderr();
        const SIZE size = ScreenSize();
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(size.cx, c.size.cx) << c.value;
        EXPECT_EQ(size.cy, c.size.cy) << c.value;
        EXPECT_EQ(!err.empty(), c.reported) << c.value << ": " << err;
        EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), c.size.cx);
    }
    unsetenv("QOB_SCREEN");
    ResetWindowManager();
}

TEST_F(WindowManagerTest, InputScriptsScheduleEveryLineOrNothing) {
    struct Case {
        const char* script;
        bool ok;
        int badLine;
    };
    const Case cases[] = {
        {"100 tap 120 200\n150 key 13\n200 text \"a\\\"b\"\n", true, 0},
        {"# comment\n\n  10 key 65\r\n", true, 0},
        {"100 tap 120\n", false, 1},
        {"100 key 0\n", false, 1},
        {"10 key 13\n-5 key 13\n", false, 2},
        {"10 text abc\n", false, 1},
        {"10 text \"abc\n", false, 1},
        {"10 swipe 1 2\n", false, 1},
        {"10 key 13 14\n", false, 1},
        {"10 key 83 ctrl shift\n20 key 79 alt\n", true, 0},
        {"10 key 83 control\n", false, 1},
        {"99999999999 key 13\n", false, 1},
    };
    for (const Case& c : cases) {
        ClearScheduledInput();
        const InputScriptResult result = ScheduleInputScript(c.script, 0);
        EXPECT_EQ(result.ok, c.ok) << c.script;
        EXPECT_EQ(result.line, c.badLine) << c.script;
        uint32_t at = 0;
        EXPECT_EQ(NextScheduledInput(&at), c.ok) << c.script << ": all or nothing";
    }
    ClearScheduledInput();
}

}  // namespace
}  // namespace qob::platform
