// tests/platform/controls/menus_test.cpp
// Menus: items inserted by command through submenus or by position, item
// descriptions, kind-checked handles and submenu trees, and open menus by
// their pixels and their taps (commands to the owner, submenus beside their
// item, a tap outside closing them all).

#include "platform/controls/menus.h"

#include <gtest/gtest.h>

#include <string>

#include "menu_test_support.h"
#include "platform/input.h"

namespace qob::platform {
namespace {

using testing::MenuTest;
using testing::Picture;
using testing::Received;

// The menu as text: items by position, "-" for a separator, a submenu's
// items in brackets after its caption.
std::string Describe(HMENU menu) {
    std::string text;
    const int count = GetMenuItemCount(menu);
    for (int i = 0; i < count; ++i) {
        char16_t buffer[64] = {};
        MENUITEMINFOW info{};
        info.cbSize = sizeof info;
        info.fMask = MIIM_STRING | MIIM_SUBMENU | MIIM_FTYPE;
        info.dwTypeData = buffer;
        info.cch = 64;
        EXPECT_TRUE(GetMenuItemInfoW(menu, static_cast<UINT>(i), true, &info));
        if (!text.empty()) text += ",";
        if (info.fType == MFT_SEPARATOR) {
            text += "-";
            continue;
        }
        for (char16_t* c = buffer; *c; ++c) text += static_cast<char>(*c);
        if (info.hSubMenu) {
            text += '[';
            text += Describe(info.hSubMenu);
            text += ']';
        }
    }
    return text;
}

// A, Sub[B, C], D with commands 1, (submenu), 2, 3, 4.
struct Tree {
    HMENU root = CreatePopupMenu();
    HMENU sub = CreatePopupMenu();
    Tree() {
        AppendMenuW(root, MF_STRING, 1, u"A");
        AppendMenuW(sub, MF_STRING, 2, u"B");
        AppendMenuW(sub, MF_STRING, 3, u"C");
        AppendMenuW(root, MF_POPUP, sub, u"Sub");
        AppendMenuW(root, MF_STRING, 4, u"D");
    }
};

class MenusTest : public MenuTest {};

TEST_F(MenusTest, InsertionGoesBeforeTheItemWithTheCommandInWhicheverMenuHoldsItOrByPosition) {
    struct Case {
        UINT position;
        UINT flags;
        bool inserted;
        const char* after;
    };
    const Case cases[] = {
        {3, MF_BYCOMMAND, true, "A,Sub[B,X,C],D"},  // found in the submenu: inserted there
        {1, MF_BYCOMMAND, true, "X,A,Sub[B,C],D"},
        {4, MF_BYCOMMAND, true, "A,Sub[B,C],X,D"},
        {77, MF_BYCOMMAND, false, "A,Sub[B,C],D"},  // no such command
        {0, MF_BYPOSITION, true, "X,A,Sub[B,C],D"},
        {2, MF_BYPOSITION, true, "A,Sub[B,C],X,D"},
        {99, MF_BYPOSITION, true, "A,Sub[B,C],D,X"},  // past the end appends
        {3, MF_BYCOMMAND | MF_SEPARATOR, true, "A,Sub[B,-,C],D"},
    };
    for (const Case& c : cases) {
        Tree tree;
        EXPECT_EQ(InsertMenuW(tree.root, c.position, c.flags, 50, u"X"), c.inserted) << c.after;
        EXPECT_EQ(Describe(tree.root), c.after);
        DestroyMenu(tree.root);
    }
}

TEST_F(MenusTest, AnItemIsDescribedByCommandThroughSubmenusWithItsTextCutToTheBuffer) {
    Tree tree;
    AppendMenuW(tree.sub, MF_SEPARATOR, 0, nullptr);
    struct Case {
        UINT item;
        bool byPosition;
        UINT mask;
        UINT size;  // of the buffer, in units
        bool found;
        std::u16string text;
        UINT cch;   // after the call
    };
    const Case cases[] = {
        {3, false, MIIM_STRING, 16, true, u"C", 1},
        {3, false, MIIM_STRING, 1, true, u"", 1},     // only the terminator fits
        {3, false, MIIM_STRING, 0, true, u"", 1},     // no buffer: the length only
        {1, true, MIIM_STRING, 16, true, u"Sub", 3},  // by position: the submenu's own caption
        {77, false, MIIM_STRING, 16, false, u"", 16}, // untouched
        {4, false, MIIM_ID, 16, true, u"", 16},       // no text asked for
    };
    for (const Case& c : cases) {
        char16_t buffer[16] = {};
        MENUITEMINFOW info{};
        info.cbSize = sizeof info;
        info.fMask = c.mask;
        info.dwTypeData = buffer;
        info.cch = c.size;
        EXPECT_EQ(GetMenuItemInfoW(tree.root, c.item, c.byPosition, &info), c.found) << c.item;
        EXPECT_EQ(std::u16string(buffer), c.text) << c.item;
        EXPECT_EQ(info.cch, c.cch) << c.item;
    }
    MENUITEMINFOW info{};
    info.cbSize = sizeof info - 4;
    info.fMask = MIIM_ID;
    EXPECT_FALSE(GetMenuItemInfoW(tree.root, 1, false, &info)) << "a wrong size is refused";
    info.cbSize = sizeof info;
    info.fMask = MIIM_ID | MIIM_SUBMENU | MIIM_STATE;
    ASSERT_TRUE(GetMenuItemInfoW(tree.root, 1, true, &info));
    EXPECT_EQ(info.hSubMenu, tree.sub);
    EXPECT_EQ(info.wID, static_cast<UINT>(tree.sub)) << "a submenu item's id is its menu";
    EXPECT_EQ(info.fState, MFS_ENABLED);
}

TEST_F(MenusTest, MenusAreKindCheckedHandlesThatCannotHoldThemselvesAndGoWithTheirSubmenus) {
    Tree tree;
    const HWND owner = MakeOwner();
    EXPECT_FALSE(AppendMenuW(owner, MF_STRING, 1, u"x")) << "a window is no menu";
    EXPECT_FALSE(AppendMenuW(tree.root, MF_POPUP, owner, u"x")) << "nor a submenu";
    EXPECT_FALSE(AppendMenuW(tree.root, MF_POPUP, tree.root, u"x")) << "a menu in itself";
    EXPECT_FALSE(AppendMenuW(tree.sub, MF_POPUP, tree.root, u"x")) << "a menu in its own submenu";
    EXPECT_EQ(Describe(tree.root), "A,Sub[B,C],D");
    EXPECT_EQ(KindOfHandle(tree.root), HandleKind::Menu);
    EXPECT_TRUE(DestroyMenu(tree.root));
    EXPECT_EQ(GetMenuItemCount(tree.root), -1);
    EXPECT_EQ(GetMenuItemCount(tree.sub), -1) << "the submenu went with it";
    EXPECT_FALSE(DestroyMenu(tree.root)) << "a dead handle";
    EXPECT_FALSE(DestroyMenu(owner));
    EXPECT_TRUE(IsWindow(owner));
}

// The picture of an open menu drawn with the renderer's primitives: frame,
// menu colour, texts at the indent, the separator line, the submenu arrow,
// the opened submenu's item highlighted.
struct ExpectedItem {
    const char16_t* text;  // null: a separator
    bool submenu;
    bool opened;
};

void DrawExpectedMenu(const Picture& picture, const std::vector<ExpectedItem>& items) {
    const HDC dc = picture.dc();
    const RECT all{0, 0, picture.width(), picture.height()};
    testing::FillSystem(dc, all, COLOR_MENU);
    FrameRect(dc, &all, GetSysColorBrush(COLOR_WINDOWFRAME));
    SelectObject(dc, GetStockObject(SYSTEM_FONT));
    SetBkMode(dc, TRANSPARENT);
    int32_t top = 1;
    for (const ExpectedItem& item : items) {
        if (!item.text) {
            testing::FillSystem(dc, RECT{2, top + 3, picture.width() - 2, top + 4}, COLOR_BTNSHADOW);
            top += 7;
            continue;
        }
        const RECT rect{1, top, picture.width() - 1, top + 20};
        if (item.opened) testing::FillSystem(dc, rect, COLOR_HIGHLIGHT);
        const int colour = item.opened ? COLOR_HIGHLIGHTTEXT : COLOR_MENUTEXT;
        SetTextColor(dc, SYS_COLOR_INDEX_FLAG | colour);
        RECT textRect{9, top, picture.width() - 9, top + 20};
        DrawTextW(dc, item.text, -1, &textRect, DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
        if (item.submenu) {
            const HPEN pen = CreatePen(PS_SOLID, 1, GetSysColor(colour));
            const HGDIOBJ old = SelectObject(dc, pen);
            const int32_t x = picture.width() - 1 - 12 + 2;
            const int32_t middle = top + 10;
            for (int32_t i = 0; i < 4; ++i) {
                MoveToEx(dc, x + i, middle - 3 + i, nullptr);
                LineTo(dc, x + i, middle + 4 - i);
            }
            SelectObject(dc, old);
            DeleteObject(pen);
        }
        top += 20;
    }
}

int32_t TextWidth(const char16_t* text) {
    const HDC dc = CreateCompatibleDC(0);
    SelectObject(dc, GetStockObject(SYSTEM_FONT));
    SIZE size{};
    GetTextExtentPoint32W(dc, text, static_cast<int>(std::u16string_view(text).size()), &size);
    DeleteDC(dc);
    return size.cx;
}

TEST_F(MenusTest, AnOpenMenuAndItsSubmenuShowAsTheSamePictureDrawnWithThePrimitives) {
    Tree tree;
    InsertMenuW(tree.root, 4, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(tree.sub, MF_STRING, 5, u"A much longer caption");
    const HWND owner = MakeOwner();
    ASSERT_TRUE(OpenPopupMenu(tree.root, 30, 60, MenuPlacement::BelowRight, owner));
    Pump();
    // A, Sub, separator, D: the widest text is "Sub", with the arrow's room.
    const int32_t width = std::max(40, 2 + 16 + TextWidth(u"Sub") + 12);
    RECT rect{};
    ASSERT_TRUE(GetWindowRect(OpenMenuWindow(tree.root), &rect));
    EXPECT_EQ(rect.left, 30);
    EXPECT_EQ(rect.top, 60);
    ASSERT_EQ(rect.right - rect.left, width);
    ASSERT_EQ(rect.bottom - rect.top, 2 + 20 + 20 + 7 + 20);
    {
        Picture expected(width, 69);
        DrawExpectedMenu(expected, {{u"A", false, false}, {u"Sub", true, false}, {nullptr, false, false},
                                    {u"D", false, false}});
        std::string where;
        EXPECT_EQ(testing::CountDifferences(expected, 30, 60, &where), 0) << where;
    }
    // The submenu opens beside its item, which shows as opened.
    InjectTap(40, 60 + 1 + 20 + 10);
    Pump();
    const HWND submenu = OpenMenuWindow(tree.sub);
    ASSERT_NE(submenu, 0u);
    ASSERT_TRUE(GetWindowRect(submenu, &rect));
    const int32_t subWidth = 2 + 16 + TextWidth(u"A much longer caption");
    EXPECT_EQ(rect.left, 30 + width);
    EXPECT_EQ(rect.top, 60 + 20) << "its first item level with the submenu item";
    ASSERT_EQ(rect.right - rect.left, subWidth);
    {
        Picture expected(width, 69);
        DrawExpectedMenu(expected, {{u"A", false, false}, {u"Sub", true, true}, {nullptr, false, false},
                                    {u"D", false, false}});
        std::string where;
        EXPECT_EQ(testing::CountDifferences(expected, 30, 60, &where), 0) << where;
        Picture expectedSub(subWidth, 62);
        DrawExpectedMenu(expectedSub, {{u"B", false, false}, {u"C", false, false},
                                       {u"A much longer caption", false, false}});
        EXPECT_EQ(testing::CountDifferences(expectedSub, rect.left, rect.top, &where), 0) << where;
    }
}

TEST_F(MenusTest, TapsChooseItemsOpenSubmenusAndCloseEverythingWhenOutside) {
    Tree tree;
    InsertMenuW(tree.root, 4, MF_SEPARATOR, 0, nullptr);
    const HWND owner = MakeOwner();
    const int before = LiveWindowCount();
    struct Step {
        const char* what;
        bool (*act)(const Tree&);
        std::vector<Received> received;  // by the owner
        bool rootOpen;
        bool subOpen;
    };
    const Step steps[] = {
        {"choose A", [](const Tree& t) { return ChooseMenuItem(t.root, 1); }, {{WM_COMMAND, 1, 0}}, false, false},
        {"choose D", [](const Tree& t) { return ChooseMenuItem(t.root, 4); }, {{WM_COMMAND, 4, 0}}, false, false},
        {"open Sub", [](const Tree& t) { return ChooseMenuItem(t.root, static_cast<uint32_t>(t.sub)); }, {}, true, true},
        {"choose C in Sub", [](const Tree& t) { return ChooseMenuItem(t.sub, 3); }, {{WM_COMMAND, 3, 0}}, false, false},
        {"tap the separator", [](const Tree&) { InjectTap(40, 60 + 1 + 40 + 3); return true; }, {}, true, false},
        {"tap outside", [](const Tree&) { InjectTap(200, 250); return true; }, {}, false, false},
    };
    for (const Step& step : steps) {
        if (!OpenMenuWindow(tree.root)) {
            ASSERT_TRUE(OpenPopupMenu(tree.root, 30, 60, MenuPlacement::BelowRight, owner));
        }
        Pump();
        TakeReceived();
        EXPECT_TRUE(step.act(tree)) << step.what;
        Pump();
        EXPECT_EQ(TakeReceived(), step.received) << step.what;
        EXPECT_EQ(OpenMenuWindow(tree.root) != 0, step.rootOpen) << step.what;
        EXPECT_EQ(OpenMenuWindow(tree.sub) != 0, step.subOpen) << step.what;
    }
    EXPECT_FALSE(ChooseMenuItem(tree.root, 1)) << "nothing is open";
    EXPECT_EQ(LiveWindowCount(), before) << "every menu window is gone";
    // A tap after the menus closed reaches the owner again.
    InjectTap(200, 250);
    Pump();
    ASSERT_EQ(TakeReceived().size(), 1u);
}

TEST_F(MenusTest, AnOpenMenuGoesWithItsMenuAndWithItsOwner) {
    Tree tree;
    const HWND owner = MakeOwner();
    const int before = LiveWindowCount();
    ASSERT_TRUE(OpenPopupMenu(tree.root, 0, 0, MenuPlacement::BelowRight, owner));
    ChooseMenuItem(tree.root, static_cast<uint32_t>(tree.sub));
    Pump();
    ASSERT_NE(OpenMenuWindow(tree.sub), 0u);
    EXPECT_EQ(LiveWindowCount(), before + 2);
    DestroyMenu(tree.sub);
    EXPECT_EQ(OpenMenuWindow(tree.sub), 0u) << "the destroyed submenu closed";
    EXPECT_NE(OpenMenuWindow(tree.root), 0u);
    EXPECT_EQ(LiveWindowCount(), before + 1);
    DestroyWindow(owner);
    EXPECT_EQ(OpenMenuWindow(tree.root), 0u);
    EXPECT_EQ(LiveWindowCount(), before - 1);
    EXPECT_FALSE(OpenPopupMenu(tree.root, 0, 0, MenuPlacement::BelowRight, owner)) << "a dead owner";
    const HMENU empty = CreatePopupMenu();
    EXPECT_FALSE(OpenPopupMenu(empty, 0, 0, MenuPlacement::BelowRight, MakeOwner())) << "nothing to show";
}

TEST_F(MenusTest, AMenuOpensInsideTheScreenAboveOrBelowThePoint) {
    Tree tree;
    const HWND owner = MakeOwner();
    const SIZE size = MenuWindowSize(tree.root);
    const SIZE screen = ScreenSize();
    struct Case {
        POINT at;
        MenuPlacement placement;
        POINT corner;
    };
    const Case cases[] = {
        {{10, 100}, MenuPlacement::BelowRight, {10, 100}},
        {{10, 294}, MenuPlacement::AboveRight, {10, 294 - size.cy}},
        {{230, 310}, MenuPlacement::BelowRight, {screen.cx - size.cx, screen.cy - size.cy}},
        {{-5, 10}, MenuPlacement::AboveRight, {0, 0}},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(OpenPopupMenu(tree.root, c.at.x, c.at.y, c.placement, owner));
        RECT rect{};
        GetWindowRect(OpenMenuWindow(tree.root), &rect);
        EXPECT_EQ(rect.left, c.corner.x) << c.at.x << "," << c.at.y;
        EXPECT_EQ(rect.top, c.corner.y) << c.at.x << "," << c.at.y;
        CloseOpenMenus();
    }
}

}  // namespace
}  // namespace qob::platform
