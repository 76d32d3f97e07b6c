// tests/platform/controls/command_bar_test.cpp
// The command bar: its answers to the string, button and bitmap messages,
// its buttons by their pixels, taps on buttons sending commands to the
// owner and a drop-down button opening its menu above the bar.

#include "platform/controls/command_bar.h"

#include <gtest/gtest.h>

#include <array>
#include <set>
#include <string>
#include <vector>

#include "menu_test_support.h"
#include "platform/controls/menus.h"
#include "platform/input.h"
#include "platform/shell.h"

namespace qob::platform {
namespace {

using testing::MenuTest;
using testing::Picture;
using testing::Received;

constexpr COLORREF kRed = RGB(255, 0, 0);
constexpr COLORREF kGreen = RGB(0, 255, 0);
constexpr COLORREF kBlue = RGB(0, 0, 255);

class CommandBarTest : public MenuTest {
protected:
    void SetUp() override {
        MenuTest::SetUp();
        owner = MakeOwner();
        bar = CreateMenuBar(owner);
        ShowMenuBar(bar, true);
        Pump();
    }

public:
    // The texts separated by zeros; the list's closing zero is added here.
    LRESULT AddStrings(std::u16string list, WPARAM instance = 0) const {
        list.push_back(u'\0');
        return SendMessageW(bar, TB_ADDSTRINGW, instance, reinterpret_cast<LPARAM>(list.c_str()));
    }
    LRESULT AddBitmap(HINSTANCE instance, uintptr_t id) const {
        const TBADDBITMAP source{instance, id};
        return SendMessageW(bar, TB_ADDBITMAP, 0, reinterpret_cast<LPARAM>(&source));
    }
    void AddButton(int32_t image, int32_t command, uint8_t style, uintptr_t data, intptr_t string,
                   uint8_t state = TBSTATE_ENABLED) const {
        TBBUTTON button{};
        button.iBitmap = image;
        button.idCommand = command;
        button.fsState = state;
        button.fsStyle = style;
        button.dwData = data;
        button.iString = string;
        ASSERT_EQ(SendMessageW(bar, TB_ADDBUTTONSW, 1, reinterpret_cast<LPARAM>(&button)), 1);
    }

    // A bitmap of two images: red with a blue pixel at (3, 4), then green.
    static HBITMAP TwoImageBitmap() {
        const HDC dc = CreateCompatibleDC(0);
        const HBITMAP bitmap = CreateCompatibleBitmap(dc, 32, 16);
        const HGDIOBJ old = SelectObject(dc, bitmap);
        const HBRUSH red = CreateSolidBrush(kRed);
        const HBRUSH green = CreateSolidBrush(kGreen);
        const RECT left{0, 0, 16, 16};
        const RECT right{16, 0, 32, 16};
        FillRect(dc, &left, red);
        FillRect(dc, &right, green);
        SetPixel(dc, 3, 4, kBlue);
        SelectObject(dc, old);
        DeleteObject(red);
        DeleteObject(green);
        DeleteDC(dc);
        return bitmap;
    }

    HWND owner = 0;
    HWND bar = 0;
};

TEST_F(CommandBarTest, StringsBitmapsAndButtonsGiveTheirIndexesAndUnknownSourcesMinusOne) {
    const HBITMAP bitmap = TwoImageBitmap();
    const HBRUSH brush = CreateSolidBrush(kRed);
    struct Case {
        const char* what;
        LRESULT (*send)(CommandBarTest&, HBITMAP, HBRUSH);
        LRESULT answer;
    };
    const Case cases[] = {
        {"two strings", [](CommandBarTest& t, HBITMAP, HBRUSH) { return t.AddStrings(std::u16string(u"One\0Two", 7)); }, 0},
        {"one more", [](CommandBarTest& t, HBITMAP, HBRUSH) { return t.AddStrings(u"Three"); }, 2},
        {"an empty list: one empty text", [](CommandBarTest& t, HBITMAP, HBRUSH) { return t.AddStrings(u""); }, 3},
        {"strings of a resource", [](CommandBarTest& t, HBITMAP, HBRUSH) { return t.AddStrings(u"x", 5); }, -1},
        {"no strings", [](CommandBarTest& t, HBITMAP, HBRUSH) { return SendMessageW(t.bar, TB_ADDSTRINGW, 0, 0); }, -1},
        {"standard images", [](CommandBarTest& t, HBITMAP, HBRUSH) { return t.AddBitmap(HINST_COMMCTRL, IDB_STD_SMALL_COLOR); }, 0},
        {"standard images again", [](CommandBarTest& t, HBITMAP, HBRUSH) { return t.AddBitmap(HINST_COMMCTRL, IDB_STD_SMALL_COLOR); }, 0},
        {"another standard strip", [](CommandBarTest& t, HBITMAP, HBRUSH) { return t.AddBitmap(HINST_COMMCTRL, 7); }, -1},
        {"a bitmap", [](CommandBarTest& t, HBITMAP b, HBRUSH) { return t.AddBitmap(0, b); }, kStandardImageCount},
        {"the bitmap again", [](CommandBarTest& t, HBITMAP b, HBRUSH) { return t.AddBitmap(0, b); }, kStandardImageCount},
        {"a brush is no bitmap", [](CommandBarTest& t, HBITMAP, HBRUSH r) { return t.AddBitmap(0, r); }, -1},
        {"a number that is no handle", [](CommandBarTest& t, HBITMAP, HBRUSH) { return t.AddBitmap(0, 12345); }, -1},
        {"the bar's menu", [](CommandBarTest& t, HBITMAP, HBRUSH) { return static_cast<LRESULT>(KindOfHandle(SendMessageW(t.bar, SHCMBM_GETMENU, 0, 0))); }, static_cast<LRESULT>(HandleKind::Menu)},
        {"no buttons yet", [](CommandBarTest& t, HBITMAP, HBRUSH) { return SendMessageW(t.bar, TB_BUTTONCOUNT, 0, 0); }, 0},
    };
    for (const Case& c : cases) EXPECT_EQ(c.send(*this, bitmap, brush), c.answer) << c.what;
    // After the bitmap's two images come the next source's.
    const HBITMAP other = TwoImageBitmap();
    EXPECT_EQ(AddBitmap(0, other), kStandardImageCount + 2);
    AddButton(0, 1, 0, 0, 0);
    AddButton(0, 2, 0, 0, -1);
    EXPECT_EQ(SendMessageW(bar, TB_BUTTONCOUNT, 0, 0), 2);
    DeleteObject(bitmap);
    DeleteObject(other);
    DeleteObject(brush);
}

int32_t TextWidth(const char16_t* text) {
    const HDC dc = CreateCompatibleDC(0);
    SelectObject(dc, GetStockObject(SYSTEM_FONT));
    SIZE size{};
    GetTextExtentPoint32W(dc, text, static_cast<int>(std::u16string_view(text).size()), &size);
    DeleteDC(dc);
    return size.cx;
}

TEST_F(CommandBarTest, ButtonsShowAsTheSamePictureDrawnWithThePrimitives) {
    const HBITMAP bitmap = TwoImageBitmap();
    ASSERT_EQ(AddStrings(u"File"), 0);
    ASSERT_EQ(AddBitmap(0, bitmap), 0);
    ASSERT_EQ(AddBitmap(HINST_COMMCTRL, IDB_STD_SMALL_COLOR), 2);
    const HMENU menu = CreatePopupMenu();
    AddButton(I_IMAGENONE, 10, BTNS_DROPDOWN | 0x10, menu, 0);  // text only
    AddButton(0, 11, 0x10, 0, -1);                             // the red image
    AddButton(1, 12, 0x10, 0, -1);                             // the green one
    AddButton(2 + STD_FILESAVE, 13, 0x10, 0, -1);              // a standard image
    AddButton(-1, 14, BTNS_NOIMAGE | 0x10, 0, -1);             // no image
    AddButton(99, 15, 0x10, 0, -1);                            // an image the bar lacks
    CommandBarAutoSize(bar);
    Pump();
    RECT barRect{};
    GetWindowRect(bar, &barRect);
    ASSERT_EQ(barRect.top, ScreenSize().cy - kMenuBarHeight);

    Picture expected(barRect.right - barRect.left, kMenuBarHeight);
    const HDC dc = expected.dc();
    testing::FillSystem(dc, RECT{0, 0, expected.width(), expected.height()}, COLOR_MENU);
    SelectObject(dc, GetStockObject(SYSTEM_FONT));
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, SYS_COLOR_INDEX_FLAG | COLOR_MENUTEXT);
    const int32_t fileWidth = TextWidth(u"File") + 12;
    RECT fileRect{0, 0, fileWidth, kMenuBarHeight};
    DrawTextW(dc, u"File", -1, &fileRect, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
    const HBRUSH red = CreateSolidBrush(kRed);
    const HBRUSH green = CreateSolidBrush(kGreen);
    const RECT redImage{fileWidth + 4, 5, fileWidth + 20, 21};
    const RECT greenImage{fileWidth + 28, 5, fileWidth + 44, 21};
    FillRect(dc, &redImage, red);
    SetPixel(dc, fileWidth + 4 + 3, 5 + 4, kBlue);
    FillRect(dc, &greenImage, green);
    std::array<uint32_t, 256> save{};
    ASSERT_TRUE(StandardImagePixels(STD_FILESAVE, save.data()));
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) SetPixel(dc, fileWidth + 52 + x, 5 + y, ColorFromPixel(save[y * 16 + x]));
    // The last two buttons (x from fileWidth + 72) draw nothing on the bar.
    std::string where;
    EXPECT_EQ(testing::CountDifferences(expected, barRect.left, barRect.top, &where), 0) << where;
    RECT rect{};
    ASSERT_TRUE(CommandBarButtonRect(bar, 15, &rect));
    EXPECT_EQ(rect.left, fileWidth + 4 * kBarImageButtonWidth);
    EXPECT_EQ(rect.right - rect.left, kBarImageButtonWidth);
    DeleteObject(red);
    DeleteObject(green);
    DeleteObject(bitmap);
}

TEST_F(CommandBarTest, TheStandardImagesAreDistinctPicturesOnTheButtonFace) {
    std::set<std::vector<uint32_t>> seen;
    const uint32_t face = PixelFromColor(GetSysColor(COLOR_BTNFACE));
    for (int32_t i = 0; i < kStandardImageCount; ++i) {
        std::vector<uint32_t> pixels(256);
        ASSERT_TRUE(StandardImagePixels(i, pixels.data()));
        EXPECT_EQ(pixels[0], face) << i << ": the corner shows the face";
        int drawn = 0;
        for (uint32_t pixel : pixels) drawn += pixel != face;
        EXPECT_GT(drawn, 8) << i;
        EXPECT_TRUE(seen.insert(pixels).second) << i << " looks like another image";
    }
    std::vector<uint32_t> pixels(256);
    EXPECT_FALSE(StandardImagePixels(kStandardImageCount, pixels.data()));
    EXPECT_FALSE(StandardImagePixels(-1, pixels.data()));
}

TEST_F(CommandBarTest, ATapOnAButtonSendsItsCommandAndADropDownOpensItsMenuAboveTheBar) {
    const HMENU menu = CreatePopupMenu();
    AppendMenuW(menu, MF_STRING, 21, u"Open");
    AppendMenuW(menu, MF_STRING, 22, u"Close");
    AddStrings(u"File");
    AddButton(I_IMAGENONE, 10, BTNS_DROPDOWN | 0x10, menu, 0);
    AddBitmap(HINST_COMMCTRL, IDB_STD_SMALL_COLOR);
    AddButton(STD_CUT, 11, 0x10, 0, -1);
    AddButton(STD_COPY, 12, 0x10, 0, -1, 0);  // not enabled
    AddButton(-1, 70000, BTNS_NOIMAGE | 0x10, 0, -1);
    Pump();
    struct Case {
        UINT command;
        std::vector<Received> received;
        bool menuOpen;
    };
    const Case cases[] = {
        {11, {{WM_COMMAND, 11, static_cast<LPARAM>(bar)}}, false},
        {12, {}, false},
        {70000, {{WM_COMMAND, 70000 & 0xFFFF, static_cast<LPARAM>(bar)}}, false},
        {10, {}, true},
    };
    for (const Case& c : cases) {
        TakeReceived();
        EXPECT_TRUE(PressBarButton(bar, c.command)) << c.command;
        Pump();
        EXPECT_EQ(TakeReceived(), c.received) << c.command;
        EXPECT_EQ(OpenMenuWindow(menu) != 0, c.menuOpen) << c.command;
    }
    RECT menuRect{};
    RECT barRect{};
    ASSERT_TRUE(GetWindowRect(OpenMenuWindow(menu), &menuRect));
    GetWindowRect(bar, &barRect);
    EXPECT_EQ(menuRect.bottom, barRect.top) << "above the bar";
    EXPECT_EQ(menuRect.left, 0) << "at the button's left";
    EXPECT_TRUE(ChooseMenuItem(menu, 22));
    Pump();
    EXPECT_EQ(TakeReceived(), (std::vector<Received>{{WM_COMMAND, 22, 0}})) << "the menu's owner is the bar's";
    EXPECT_FALSE(PressBarButton(bar, 99)) << "no such button";
    // A tap that leaves the button before the release sends nothing.
    RECT cut{};
    ASSERT_TRUE(CommandBarButtonRect(bar, 11, &cut));
    InjectStylus(cut.left + 2, cut.top + 5, StylusAction::Down);
    InjectStylus(cut.left + 100, cut.top + 5, StylusAction::Up);
    Pump();
    EXPECT_TRUE(TakeReceived().empty());
}

TEST_F(CommandBarTest, TheBarTakesItsOwnMenuAlongAndLeavesTheDropDownMenus) {
    const HMENU menu = CreatePopupMenu();
    AddStrings(u"File");
    AddButton(I_IMAGENONE, 10, BTNS_DROPDOWN | 0x10, menu, 0);
    const auto own = static_cast<HMENU>(SendMessageW(bar, SHCMBM_GETMENU, 0, 0));
    ASSERT_EQ(KindOfHandle(own), HandleKind::Menu);
    EXPECT_EQ(SendMessageW(bar, WM_CLOSE, 0, 0), 0);
    EXPECT_TRUE(IsWindow(bar)) << "a shell window is not closed by WM_CLOSE";
    DestroyWindow(owner);
    EXPECT_FALSE(IsWindow(bar)) << "it goes with its form";
    EXPECT_EQ(KindOfHandle(own), HandleKind::None);
    EXPECT_EQ(GetMenuItemCount(menu), 0) << "programs still hold the drop-down menus";
    EXPECT_FALSE(CommandBarAutoSize(bar));
}

// An owner that reaches down over the bar's rows (294 pixels under the task
// bar on the 240 x 320 screen) stays behind its bar however it is raised
// again: a tap on the bar's button reaches the bar, and its command the owner.
TEST_F(CommandBarTest, ARaisedOwnerTallerThanItsRoomStaysBehindItsBar) {
    ASSERT_TRUE(MoveWindow(owner, 0, kTaskBarHeight, 240, 294, true));
    AddBitmap(HINST_COMMCTRL, IDB_STD_SMALL_COLOR);
    AddButton(STD_CUT, 11, 0x10, 0, -1);
    const HWND other = MakeOwner();
    struct Case {
        const char* how;
        void (*raise)(HWND);
    };
    const Case cases[] = {
        {"SetActiveWindow", [](HWND w) { SetActiveWindow(w); }},
        {"BringWindowToTop", [](HWND w) { BringWindowToTop(w); }},
        {"SetWindowPos HWND_TOP", [](HWND w) { SetWindowPos(w, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE); }},
        {"hidden and shown", [](HWND w) { ShowWindow(w, SW_HIDE); ShowWindow(w, SW_SHOW); }},
    };
    for (const Case& c : cases) {
        SetActiveWindow(other);  // another window in front first
        c.raise(owner);
        Pump();
        TakeReceived();
        EXPECT_TRUE(PressBarButton(bar, 11)) << c.how;
        Pump();
        EXPECT_EQ(TakeReceived(), (std::vector<Received>{{WM_COMMAND, 11, static_cast<LPARAM>(bar)}})) << c.how;
    }
}

}  // namespace
}  // namespace qob::platform
