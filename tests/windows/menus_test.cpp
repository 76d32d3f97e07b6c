// tests/windows/menus_test.cpp
// The menu built-ins: items inserted by command and read back with
// menucaption, drop-down menus and buttons on a form's bar, newmainmenu
// replacing the bar, and createacceltable's list rules, its table replaced
// and destroyed with the record, and Ctrl+Shift+S arriving as WM_COMMAND 100
// through the message loop.

#include "windows/menus.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/controls/accelerators.h"
#include "platform/controls/command_bar.h"
#include "platform/controls/menus.h"
#include "platform/gdi.h"
#include "platform/input.h"
#include "platform/shell.h"
#include "platform/window_manager.h"
#include "runtime/vm/program_context.h"
#include "runtime/vm/value_stack.h"
#include "script_windows_support.h"
#include "windows/event_calls.h"
#include "windows/forms.h"
#include "windows/message_loop.h"
#include "windows/window_records.h"

namespace qob {
namespace {

using platform::HWND;
using testing::Address;

constexpr const char* kProcedures = R"(
FORCELINK FUNC onform(w$, m$, wp$, lp$)
  IF (m$ == 273) showmessage("command ", wp$ MOD 65536, " ", wp$ DIV 65536); END;
  RETURN(1);
END;
)";

class MenusTest : public testing::ScriptWindowsTest {
protected:
    void SetUp() override {
        ScriptWindowsTest::SetUp();
        platform::StartShell();
    }

    HWND NewForm(ProgramContext* application) {
        PushValue("Menus", 0, nullptr);
        PushValue("MenuForm", 0, nullptr);
        PushNumber(Address(Procedure(application, "onform")));
        Builtin_newform();
        return static_cast<HWND>(PopNumber());
    }

    // Runs a four-parameter function of the application with the window first.
    int32_t Run(ProgramContext* application, const char* name, HWND window, int32_t a = 0) {
        return RunWindowEventProcedure(application, Procedure(application, name), static_cast<int32_t>(window), a,
                                       0, 0);
    }

    static double Call(void (*builtin)(), std::initializer_list<double> numbers) {
        for (double n : numbers) PushNumber(n);
        builtin();
        return PopNumber();
    }

    static std::vector<platform::ACCEL> TableOf(HWND window) {
        const WindowRecord* record = FindWindowRecordByHandle(window, nullptr);
        std::vector<platform::ACCEL> entries(200);
        const int count = record ? platform::CopyAcceleratorTableW(record->accelerators, entries.data(), 200) : -1;
        entries.resize(count < 0 ? 0 : static_cast<size_t>(count));
        return entries;
    }
};

std::string Describe(const std::vector<platform::ACCEL>& entries) {
    std::string text;
    for (const platform::ACCEL& e : entries) {
        if (!text.empty()) text += " ";
        text += std::to_string(e.fVirt) + ":" + std::string(1, static_cast<char>(e.key)) + ":" + std::to_string(e.cmd);
    }
    return text;
}

TEST_F(MenusTest, AcceleratorListsArePairsOfKeyTextAndCommandByPosition) {
    struct Case {
        const char* items;     // the arguments of add
        const char* entries;   // flags:key:command
        const char* listAfter; // the list's items after the call
    };
    const Case cases[] = {
        {R"("Ctrl+Shift+S", 100)", "12:S:100", "ctrl+shift+s 100"},
        {R"("Salt+X", 5)", "16:X:5", "salt+x 5"},  // "alt" inside another word
        {R"("Alt+Ctrl+Shift+k", 7, "F2", 8)", "28:k:7 0:2:8", "alt+ctrl+shift+k 7 f2 8"},
        {R"("A", 1, "B")", "0:A:1", "a 1 b"},                   // an odd count: the last key is ignored
        {R"("", 1, "C", 2)", "0:C:2", "1 c 2"},                 // an empty key makes no entry
        {R"(5, 1, "C", 2)", "0:C:2", "5 1 c 2"},                // a number as key takes its partner along
        {R"("A", "B", "C", 3)", "0:C:3", "a B c 3"},            // a text as command makes no entry
        {R"("+", 9)", "0:+:9", "+ 9"},
    };
    for (const Case& c : cases) {
        const std::string source = std::string(kProcedures) +
                                   "FORCELINK FUNC build(w$, a$, b$, c$)\n  list(L$);\n  add(L$, " + c.items +
                                   ");\n  createacceltable(w$, L$);\n  s$ = \"\";\n  FOREACH(L$, V$)\n"
                                   "    IF (s$ != \"\") s$ = s$ % \" \"; END;\n    s$ = s$ % V$;\n  END;\n"
                                   "  showmessage(s$);\n  RETURN(0);\nEND;\n";
        ProgramContext* application = Load(source);
        const HWND form = NewForm(application);
        ASSERT_NE(form, 0u);
        Run(application, "build", form);
        EXPECT_EQ(Describe(TableOf(form)), c.entries) << c.items;
        EXPECT_EQ(Output(), std::string(c.listAfter) + "\n") << c.items;
        platform::DestroyWindow(form);
    }
}

TEST_F(MenusTest, AcceleratorTablesKeepAHundredEntriesAndGoWhenReplacedAndWithTheirRecord) {
    ProgramContext* application = Load(std::string(kProcedures) + R"(
FORCELINK FUNC many(w$, n$, b$, c$)
  list(L$);
  FOR (i$, 1, n$)
    add(L$, "Ctrl+" % i$, i$);
  END;
  createacceltable(w$, L$);
  RETURN(0);
END;
FORCELINK FUNC none(w$, a$, b$, c$)
  list(E$);
  createacceltable(w$, E$);
  RETURN(0);
END;
)");
    const HWND form = NewForm(application);
    Run(application, "many", form, 130);
    std::vector<platform::ACCEL> entries = TableOf(form);
    ASSERT_EQ(entries.size(), static_cast<size_t>(kMaxAcceleratorEntries));
    EXPECT_EQ(entries.back().cmd, 100) << "the entries after the hundredth are ignored";
    const uintptr_t first = FindWindowRecordByHandle(form, nullptr)->accelerators;
    Run(application, "none", form);
    const uintptr_t second = FindWindowRecordByHandle(form, nullptr)->accelerators;
    EXPECT_NE(second, 0u) << "an empty list gives an empty table";
    EXPECT_TRUE(TableOf(form).empty());
    EXPECT_EQ(platform::KindOfHandle(first), platform::HandleKind::None) << "the replaced table was destroyed";
    platform::DestroyWindow(form);
    EXPECT_EQ(platform::KindOfHandle(second), platform::HandleKind::None) << "destroyed with the record";
    // Without a record nothing is made and the list stays as it was.
    Run(application, "many", 0, 3);
    Run(application, "many", 12345, 3);
}

TEST_F(MenusTest, CtrlShiftSArrivesAsCommand100AtTheFormButNotThroughItsFocusedChild) {
    ProgramContext* application = Load(std::string(kProcedures) + R"(
FORCELINK FUNC keys(w$, a$, b$, c$)
  list(L$);
  add(L$, "Ctrl+Shift+S", 100, "Ctrl+S", 101);
  createacceltable(w$, L$);
  RETURN(0);
END;
)");
    const HWND form = NewForm(application);
    Run(application, "keys", form);
    Output();
    platform::MSG message;
    struct Case {
        uint32_t modifiers;
        const char* output;
    };
    const Case cases[] = {
        {platform::kModifierControl | platform::kModifierShift, "command 100 1\n"},
        {platform::kModifierControl, "command 101 1\n"},
        {platform::kModifierShift, ""},
    };
    for (const Case& c : cases) {
        platform::InjectKeyWithModifiers('S', c.modifiers);
        while (PumpOneMessage(&message)) {
        }
        EXPECT_EQ(Output(), c.output) << c.modifiers;
    }
    // The table of the message's own window applies: a child with the focus has none.
    platform::WNDCLASSW childClass;
    childClass.lpfnWndProc = platform::DefWindowProcW;
    childClass.lpszClassName = u"PlainChild";
    ASSERT_NE(platform::RegisterClassW(&childClass), 0);
    const HWND child = platform::CreateWindowExW(0, u"PlainChild", u"", platform::WS_CHILD | platform::WS_VISIBLE, 0,
                                                 0, 50, 20, form, 0, 0, nullptr);
    platform::SetFocus(child);
    platform::InjectKeyWithModifiers('S', platform::kModifierControl | platform::kModifierShift);
    while (PumpOneMessage(&message)) {
    }
    EXPECT_EQ(Output(), "");
}

TEST_F(MenusTest, ItemsGoBeforeTheirCommandAndMenucaptionReadsThemBack) {
    ProgramContext* application = Load(kProcedures);
    const HWND form = NewForm(application);
    PushNumber(static_cast<double>(form));
    PushValue("File", 0, nullptr);
    PushNumber(10);
    Builtin_newmenu();
    const double file = PopNumber();
    ASSERT_EQ(platform::KindOfHandle(static_cast<uintptr_t>(file)), platform::HandleKind::Menu);
    auto item = [&](double menu, double position, const char* caption, double command) {
        PushNumber(menu);
        PushNumber(position);
        PushValue(caption, 0, nullptr);
        PushNumber(command);
        Builtin_newmenuitem();
        EXPECT_EQ(PopNumber(), menu) << caption;
    };
    item(file, -1, "Open", 1);
    item(file, -1, "Quit", 3);
    item(file, 3, "Save", 2);
    item(file, 1, "-", 0);
    PushNumber(file);
    PushNumber(3);
    PushValue("More", 0, nullptr);
    PushValue("ignored", 0, nullptr);
    Builtin_newsubmenu();
    const double more = PopNumber();
    item(more, -1, "About", 4);
    item(file, 4, "Help", 5);  // by command, inside the submenu
    item(file, 77, "Lost", 6); // no such command: nothing
    const std::string longCaption(1500, 'x');
    item(more, -1, longCaption.c_str(), 7);
    struct Case {
        double menu;
        double command;
        std::string caption;
    };
    const Case cases[] = {
        {file, 1, "Open"}, {file, 2, "Save"}, {file, 3, "Quit"}, {file, 4, "About"}, {file, 5, "Help"},
        {more, 5, "Help"}, {file, 6, ""},     {file, 999, ""},   {12345, 1, ""},     {more, 1, ""},
        {file, 7, std::string(1023, 'x')},
    };
    for (const Case& c : cases) {
        PushNumber(c.menu);
        PushNumber(c.command);
        Builtin_menucaption();
        const StackEntry* result = PopStackEntry();
        ASSERT_NE(result->text, nullptr) << c.command;
        EXPECT_EQ(std::string(result->text), c.caption) << c.command;
    }
    char16_t buffer[16] = {};
    platform::MENUITEMINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = platform::MIIM_FTYPE;
    ASSERT_TRUE(platform::GetMenuItemInfoW(static_cast<uintptr_t>(file), 0, true, &info));
    EXPECT_EQ(info.fType, platform::MFT_SEPARATOR) << "the separator went before Open";
    info.fMask = platform::MIIM_STRING;
    info.dwTypeData = buffer;
    info.cch = 16;
    ASSERT_TRUE(platform::GetMenuItemInfoW(static_cast<uintptr_t>(file), 2, true, &info));
    EXPECT_EQ(std::u16string(buffer), u"Save") << "Save went before Quit";
    info.cch = 16;
    ASSERT_TRUE(platform::GetMenuItemInfoW(static_cast<uintptr_t>(file), 3, true, &info));
    EXPECT_EQ(std::u16string(buffer), u"More") << "and the submenu before Quit too";
}

TEST_F(MenusTest, NewmenuAndNewbuttonNeedARecordWithABar) {
    ProgramContext* application = Load(kProcedures);
    const HWND form = NewForm(application);
    PushNumber(12345);
    PushValue("x", 0, nullptr);
    PushNumber(1);
    Builtin_newmenu();
    EXPECT_EQ(PopNumber(), 0) << "no record";
    WindowRecord* record = FindWindowRecordByHandle(form, nullptr);
    const uintptr_t bar = record->menuBar;
    record->menuBar = 0;
    PushNumber(static_cast<double>(form));
    PushValue("x", 0, nullptr);
    PushNumber(1);
    Builtin_newmenu();
    EXPECT_EQ(PopNumber(), 0) << "no bar";
    for (double n : {static_cast<double>(form), 0.0, 1.0, 2.0}) PushNumber(n);
    Builtin_newbutton();
    record->menuBar = bar;
    EXPECT_EQ(platform::SendMessageW(bar, platform::TB_BUTTONCOUNT, 0, 0), 0);
    for (double n : {static_cast<double>(form), 0.0, 8.0, 20.0}) PushNumber(n);
    Builtin_newbutton();
    for (double n : {static_cast<double>(form), 0.0, -1.0, 21.0}) PushNumber(n);
    Builtin_newbutton();
    EXPECT_EQ(platform::SendMessageW(bar, platform::TB_BUTTONCOUNT, 0, 0), 2);
    Output();
    EXPECT_TRUE(platform::PressBarButton(bar, 20));
    EXPECT_TRUE(platform::PressBarButton(bar, 21));
    platform::MSG message;
    while (PumpOneMessage(&message)) {
    }
    EXPECT_EQ(Output(), "command 20 0\ncommand 21 0\n");
    PushNumber(static_cast<double>(form));
    Builtin_mainmenu();
    EXPECT_EQ(PopNumber(), static_cast<double>(bar));
    PushNumber(12345);
    Builtin_mainmenu();
    EXPECT_EQ(PopNumber(), 0);
}

TEST_F(MenusTest, NewmenuWorksOnAHiddenBarOfNewformexAndNewmainmenuReplacesTheBar) {
    ProgramContext* application = Load(kProcedures);
    PushValue("Ex", 0, nullptr);
    PushValue("ExForm", 0, nullptr);
    for (double value : {0.0, static_cast<double>(platform::WS_VISIBLE), 10.0, 40.0, 100.0, 120.0,
                         Address(Procedure(application, "onform"))})
        PushNumber(value);
    Builtin_newformex();
    const HWND form = static_cast<HWND>(PopNumber());
    const uintptr_t oldBar = FindWindowRecordByHandle(form, nullptr)->menuBar;
    ASSERT_FALSE(platform::IsWindowVisible(oldBar));
    PushNumber(static_cast<double>(form));
    PushValue("Menu", 0, nullptr);
    PushNumber(10);
    Builtin_newmenu();
    const auto menu = static_cast<uintptr_t>(PopNumber());
    EXPECT_EQ(platform::GetMenuItemCount(menu), 0);
    EXPECT_EQ(platform::SendMessageW(oldBar, platform::TB_BUTTONCOUNT, 0, 0), 1);
    const int windows = platform::LiveWindowCount();
    PushNumber(static_cast<double>(form));
    Builtin_newmainmenu();
    const uintptr_t newBar = FindWindowRecordByHandle(form, nullptr)->menuBar;
    EXPECT_NE(newBar, oldBar);
    EXPECT_TRUE(platform::IsWindowVisible(newBar));
    EXPECT_FALSE(platform::IsWindow(oldBar)) << "the earlier bar is gone";
    EXPECT_EQ(platform::LiveWindowCount(), windows);
    EXPECT_EQ(platform::GetMenuItemCount(menu), 0) << "its menu stays";
    PushNumber(12345);
    Builtin_newmainmenu();  // no record: nothing
    EXPECT_EQ(platform::LiveWindowCount(), windows);
    platform::DestroyWindow(form);
    EXPECT_FALSE(platform::IsWindow(newBar)) << "the new bar goes with the record";
}

TEST_F(MenusTest, AButtonsImageIndexCountsWithinItsOwnBitmap) {
    ProgramContext* application = Load(kProcedures);
    const HWND form = NewForm(application);
    // Two images: red, then green.
    const platform::HDC dc = platform::CreateCompatibleDC(0);
    const platform::HBITMAP bitmap = platform::CreateCompatibleBitmap(dc, 32, 16);
    const platform::HGDIOBJ old = platform::SelectObject(dc, bitmap);
    const platform::HBRUSH red = platform::CreateSolidBrush(platform::RGB(255, 0, 0));
    const platform::HBRUSH green = platform::CreateSolidBrush(platform::RGB(0, 255, 0));
    const platform::RECT left{0, 0, 16, 16};
    const platform::RECT right{16, 0, 32, 16};
    platform::FillRect(dc, &left, red);
    platform::FillRect(dc, &right, green);
    platform::SelectObject(dc, old);
    platform::DeleteDC(dc);
    // A standard image first, so that the bitmap's images come after the strip.
    for (double n : {static_cast<double>(form), 0.0, 0.0, 1.0}) PushNumber(n);
    Builtin_newbutton();
    for (double n : {static_cast<double>(form), static_cast<double>(bitmap), 1.0, 2.0}) PushNumber(n);
    Builtin_newbutton();
    for (double n : {static_cast<double>(form), static_cast<double>(bitmap), 0.0, 3.0}) PushNumber(n);
    Builtin_newbutton();
    Pump();
    platform::ComposeScreen();
    const platform::Surface32& screen = platform::ScreenSurface();
    const int32_t y = platform::ScreenSize().cy - platform::kMenuBarHeight / 2;
    auto at = [&](int32_t x) { return screen.pixels[static_cast<size_t>(y) * screen.stride + x] & 0xFFFFFF; };
    EXPECT_EQ(at(platform::kBarImageButtonWidth + 12), 0x00FF00u) << "the bitmap's second image";
    EXPECT_EQ(at(2 * platform::kBarImageButtonWidth + 12), 0xFF0000u) << "its first, added once";
    platform::DeleteObject(red);
    platform::DeleteObject(green);
    platform::DeleteObject(bitmap);
}

}  // namespace
}  // namespace qob
