// tests/platform/controls/list_controls_test.cpp
// LISTBOX and COMBOBOX: one table of item messages run against both (the
// platform's -1 answers for bad indexes, insertion and deletion at -1, the
// selection following insertions and deletions), scrolling that keeps the
// selection in view, taps and keys choosing items with their notifications,
// the combo box's pop-up list, and the pictures in the parent's colours.

#include <gtest/gtest.h>

#include <string>

#include "control_test_support.h"

namespace qob::platform::test {
namespace {

class ListControlTest : public ControlTest {
protected:
    static std::u16string ItemOf(HWND control, UINT getText, WPARAM index) {
        char16_t buffer[64] = {};
        const LRESULT length = SendMessageW(control, getText, index, reinterpret_cast<LPARAM>(buffer));
        if (length < 0) return u"<err>";
        return std::u16string(buffer, static_cast<size_t>(length));
    }
    std::vector<UINT> CodesFrom(HWND control) const {
        std::vector<UINT> codes;
        for (const Notification& n : notifications)
            if (n.control == control) codes.push_back(n.code);
        return codes;
    }
};

// The list-box message of a step; the combo-box run maps it to its twin.
struct Step {
    UINT message;
    WPARAM wParam;
    const char16_t* text;  // lParam
    LRESULT result;
    LRESULT count;      // items after
    LRESULT selection;  // after
};

UINT ComboTwin(UINT message) {
    switch (message) {
    case LB_ADDSTRING: return CB_ADDSTRING;
    case LB_INSERTSTRING: return CB_INSERTSTRING;
    case LB_DELETESTRING: return CB_DELETESTRING;
    case LB_RESETCONTENT: return CB_RESETCONTENT;
    case LB_SETCURSEL: return CB_SETCURSEL;
    case LB_GETCURSEL: return CB_GETCURSEL;
    case LB_GETTEXT: return CB_GETLBTEXT;
    case LB_GETTEXTLEN: return CB_GETLBTEXTLEN;
    case LB_GETCOUNT: return CB_GETCOUNT;
    case LB_FINDSTRING: return CB_FINDSTRING;
    case LB_FINDSTRINGEXACT: return CB_FINDSTRINGEXACT;
    case LB_GETITEMDATA: return CB_GETITEMDATA;
    case LB_SETITEMDATA: return CB_SETITEMDATA;
    default: return message;
    }
}

constexpr WPARAM kMinusOne = static_cast<WPARAM>(-1);

const Step kItemSteps[] = {
    {LB_GETCOUNT, 0, nullptr, 0, 0, -1},
    {LB_DELETESTRING, 0, nullptr, LB_ERR, 0, -1},
    {LB_ADDSTRING, 0, u"beta", 0, 1, -1},
    {LB_ADDSTRING, 0, u"alpha", 1, 2, -1},
    {LB_INSERTSTRING, kMinusOne, u"gamma", 2, 3, -1},  // -1 appends
    {LB_INSERTSTRING, 0, u"first", 0, 4, -1},
    {LB_INSERTSTRING, 9, u"x", LB_ERR, 4, -1},
    {LB_DELETESTRING, kMinusOne, nullptr, LB_ERR, 4, -1},  // -1 deletes nothing
    {LB_SETCURSEL, 2, nullptr, 2, 4, 2},
    {LB_INSERTSTRING, 0, u"zero", 0, 5, 3},  // the selection moves with its item
    {LB_DELETESTRING, 0, nullptr, 4, 4, 2},  // the count left
    {LB_DELETESTRING, 2, nullptr, 3, 3, -1}, // the selected item goes
    {LB_SETCURSEL, 7, nullptr, LB_ERR, 3, -1},
    {LB_SETCURSEL, 1, nullptr, 1, 3, 1},
    {LB_SETCURSEL, 5, nullptr, LB_ERR, 3, 1},  // a bad index keeps the selection
    {LB_SETCURSEL, kMinusOne, nullptr, LB_ERR, 3, -1},
    {LB_GETTEXTLEN, 5, nullptr, LB_ERR, 3, -1},
    {LB_GETTEXTLEN, kMinusOne, nullptr, LB_ERR, 3, -1},
    {LB_GETTEXTLEN, 1, nullptr, 4, 3, -1},
    {LB_FINDSTRING, kMinusOne, u"GA", 2, 3, -1},
    {LB_FINDSTRING, 2, u"f", 0, 3, -1},  // wraps round after the start
    {LB_FINDSTRING, kMinusOne, u"zz", LB_ERR, 3, -1},
    {LB_FINDSTRINGEXACT, kMinusOne, u"BETA", 1, 3, -1},
    {LB_FINDSTRINGEXACT, kMinusOne, u"bet", LB_ERR, 3, -1},
    {LB_GETITEMDATA, 9, nullptr, LB_ERR, 3, -1},
    {LB_RESETCONTENT, 0, nullptr, 0, 0, -1},
    {LB_SETCURSEL, 0, nullptr, LB_ERR, 0, -1},
};

void RunItemSteps(HWND control, bool combo) {
    auto send = [&](UINT message, WPARAM wParam, const char16_t* text) {
        return SendMessageW(control, combo ? ComboTwin(message) : message, wParam, reinterpret_cast<LPARAM>(text));
    };
    int line = 0;
    for (const Step& step : kItemSteps) {
        ++line;
        EXPECT_EQ(send(step.message, step.wParam, step.text), step.result) << "step " << line;
        EXPECT_EQ(send(LB_GETCOUNT, 0, nullptr), step.count) << "step " << line;
        EXPECT_EQ(send(LB_GETCURSEL, 0, nullptr), step.selection) << "step " << line;
    }
}

TEST_F(ListControlTest, ListBoxAnswersItemMessages) {
    const HWND list = Make(kListBoxClass, u"", LBS_NOTIFY, 10, 10, 100, 80);
    ASSERT_NE(list, 0u);
    RunItemSteps(list, false);
}

TEST_F(ListControlTest, ComboBoxAnswersItemMessages) {
    const HWND combo = Make(kComboBoxClass, u"", CBS_DROPDOWNLIST, 10, 10, 100, 80);
    ASSERT_NE(combo, 0u);
    RunItemSteps(combo, true);
}

TEST_F(ListControlTest, ItemTextsAndDataAreKeptPerItem) {
    for (const bool combo : {false, true}) {
        const HWND control = Make(combo ? kComboBoxClass : kListBoxClass, u"", 0, 10, 10, 100, 80);
        const UINT add = combo ? CB_ADDSTRING : LB_ADDSTRING;
        const UINT getText = combo ? CB_GETLBTEXT : LB_GETTEXT;
        for (const char16_t* text : {u"one", u"two", u"three"}) SendMessageW(control, add, 0, reinterpret_cast<LPARAM>(text));
        EXPECT_EQ(SendMessageW(control, combo ? CB_SETITEMDATA : LB_SETITEMDATA, 1, 77), 0);
        EXPECT_EQ(SendMessageW(control, combo ? CB_GETITEMDATA : LB_GETITEMDATA, 1, 0), 77);
        EXPECT_EQ(SendMessageW(control, combo ? CB_GETITEMDATA : LB_GETITEMDATA, 0, 0), 0);
        EXPECT_EQ(ItemOf(control, getText, 2), u"three");
        EXPECT_EQ(ItemOf(control, getText, 3), u"<err>");
        EXPECT_EQ(ItemOf(control, getText, kMinusOne), u"<err>");
        DestroyWindow(control);
    }
}

TEST_F(ListControlTest, SortedListsKeepTheirOrderIgnoringCase) {
    const HWND list = Make(kListBoxClass, u"", LBS_SORT, 10, 10, 100, 80);
    for (const char16_t* text : {u"pear", u"Apple", u"fig", u"apple"})
        SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
    const char16_t* expected[] = {u"Apple", u"apple", u"fig", u"pear"};
    for (int i = 0; i < 4; ++i) EXPECT_EQ(ItemOf(list, LB_GETTEXT, static_cast<WPARAM>(i)), expected[i]) << i;
}

TEST_F(ListControlTest, TheSelectionIsScrolledIntoView) {
    const HWND list = Make(kListBoxClass, u"", 0, 10, 10, 100, 10);
    const LRESULT itemHeight = SendMessageW(list, LB_GETITEMHEIGHT, 0, 0);
    ASSERT_GT(itemHeight, 0);
    MoveWindow(list, 10, 10, 100, static_cast<int32_t>(itemHeight) * 3, true);  // three rows
    for (int i = 0; i < 10; ++i) {
        const std::u16string text = u"item" + std::u16string(1, static_cast<char16_t>(u'0' + i));
        SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
    }
    struct Case {
        UINT message;
        WPARAM wParam;
        LRESULT top;
        LRESULT selection;
    };
    const Case cases[] = {
        {LB_SETCURSEL, 7, 5, 7},  {LB_SETCURSEL, 6, 5, 6},       {LB_SETCURSEL, 2, 2, 2},
        {WM_KEYDOWN, VK_END, 7, 9}, {WM_KEYDOWN, VK_UP, 7, 8},    {WM_KEYDOWN, VK_HOME, 0, 0},
        {WM_KEYDOWN, VK_DOWN, 0, 1}, {LB_SETTOPINDEX, 9, 7, 1},  // the top stops where the last row shows
    };
    for (const Case& c : cases) {
        SendMessageW(list, c.message, c.wParam, 0);
        EXPECT_EQ(SendMessageW(list, LB_GETTOPINDEX, 0, 0), c.top) << c.message << " " << c.wParam;
        EXPECT_EQ(SendMessageW(list, LB_GETCURSEL, 0, 0), c.selection) << c.message << " " << c.wParam;
    }
}

TEST_F(ListControlTest, ATapSelectsAndNotifiesWhenAsked) {
    for (const uint32_t style : {LBS_NOTIFY, 0u}) {
        notifications.clear();
        const HWND list = Make(kListBoxClass, u"", style, 10, 10, 100, 80, 7);
        for (const char16_t* text : {u"a", u"b", u"c"}) SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
        const auto itemHeight = static_cast<int32_t>(SendMessageW(list, LB_GETITEMHEIGHT, 0, 0));
        const POINT second = OnScreen(list, 5, itemHeight + itemHeight / 2);
        InjectTap(second.x, second.y);
        const POINT below = OnScreen(list, 5, itemHeight * 3 + 2);  // no item there
        InjectTap(below.x, below.y);
        Pump();
        EXPECT_EQ(SendMessageW(list, LB_GETCURSEL, 0, 0), 1) << style;
        if (style & LBS_NOTIFY) {
            EXPECT_EQ(CodesFrom(list), (std::vector<UINT>{LBN_SETFOCUS, LBN_SELCHANGE}));
            EXPECT_EQ(notifications.back().id, 7u);
        } else {
            EXPECT_TRUE(CodesFrom(list).empty());
        }
        DestroyWindow(list);
    }
}

TEST_F(ListControlTest, AComboBoxChoosesInItsPopUpList) {
    const HWND combo = Make(kComboBoxClass, u"", CBS_DROPDOWNLIST, 10, 10, 100, 100, 9);
    ASSERT_NE(combo, 0u);
    for (const char16_t* text : {u"red", u"green", u"blue"}) SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
    RECT field{};
    GetWindowRect(combo, &field);
    // The window keeps the field's height; the rest was the list's.
    const LRESULT rowHeight = [&] {
        const HWND list = Make(kListBoxClass, u"", 0, 0, 0, 10, 10, 50);
        const LRESULT height = SendMessageW(list, LB_GETITEMHEIGHT, 0, 0);
        DestroyWindow(list);
        return height;
    }();
    EXPECT_EQ(field.bottom - field.top, rowHeight + kComboFieldExtra);

    InjectTap(field.left + 5, field.top + 5);
    Pump();
    ASSERT_EQ(SendMessageW(combo, CB_GETDROPPEDSTATE, 0, 0), 1);
    const HWND popUp = FindWindowW(kComboListClass, nullptr);
    ASSERT_NE(popUp, 0u);
    RECT listRect{};
    GetWindowRect(popUp, &listRect);
    EXPECT_EQ(listRect.top, field.bottom);
    EXPECT_EQ(listRect.bottom - listRect.top, 3 * rowHeight + 2);  // three items, a border each side
    // The second row: "green".
    InjectTap(listRect.left + 5, listRect.top + 1 + static_cast<int32_t>(rowHeight) + 2);
    Pump();
    EXPECT_EQ(SendMessageW(combo, CB_GETDROPPEDSTATE, 0, 0), 0);
    EXPECT_FALSE(IsWindow(popUp));
    EXPECT_EQ(SendMessageW(combo, CB_GETCURSEL, 0, 0), 1);
    char16_t text[16] = {};
    GetWindowTextW(combo, text, 16);
    EXPECT_EQ(std::u16string(text), u"green");
    EXPECT_EQ(CodesFrom(combo), (std::vector<UINT>{CBN_SETFOCUS, CBN_DROPDOWN, CBN_CLOSEUP, CBN_SELCHANGE}));

    // A tap outside the open list closes it without a choice.
    notifications.clear();
    InjectTap(field.left + 5, field.top + 5);
    Pump();
    InjectTap(230, 300);
    Pump();
    EXPECT_EQ(SendMessageW(combo, CB_GETDROPPEDSTATE, 0, 0), 0);
    EXPECT_EQ(SendMessageW(combo, CB_GETCURSEL, 0, 0), 1);
    EXPECT_EQ(CodesFrom(combo), (std::vector<UINT>{CBN_DROPDOWN, CBN_CLOSEUP}));

    // Arrows choose directly.
    notifications.clear();
    SendMessageW(combo, WM_KEYDOWN, VK_DOWN, 0);
    SendMessageW(combo, WM_KEYDOWN, VK_DOWN, 0);  // already the last
    EXPECT_EQ(SendMessageW(combo, CB_GETCURSEL, 0, 0), 2);
    EXPECT_EQ(CodesFrom(combo), (std::vector<UINT>{CBN_SELCHANGE}));
}

TEST_F(ListControlTest, AnOpenListGoesWithItsComboBox) {
    const HWND combo = Make(kComboBoxClass, u"", CBS_DROPDOWNLIST, 10, 10, 100, 100);
    SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(u"x"));
    SendMessageW(combo, CB_SHOWDROPDOWN, 1, 0);
    const HWND popUp = FindWindowW(kComboListClass, nullptr);
    ASSERT_NE(popUp, 0u);
    DestroyWindow(combo);
    EXPECT_FALSE(IsWindow(popUp));
    EXPECT_EQ(GetCapture(), 0u);
}

TEST_F(ListControlTest, ListBoxPaintsItemsInTheParentsColours) {
    colours.brush = CreateSolidBrush(RGB(0, 0, 160));
    colours.text = RGB(255, 255, 0);
    const HWND list = Make(kListBoxClass, u"", 0, 10, 10, 100, 60);
    for (const char16_t* text : {u"one", u"two", u"three", u"four", u"five", u"six"})
        SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
    SendMessageW(list, LB_SETCURSEL, 5, 0);  // scrolls
    Pump();
    EXPECT_EQ(colours.lastMessage, WM_CTLCOLORLISTBOX);
    const auto top = static_cast<size_t>(SendMessageW(list, LB_GETTOPINDEX, 0, 0));
    ASSERT_GT(top, 0u);
    const auto itemHeight = static_cast<int32_t>(SendMessageW(list, LB_GETITEMHEIGHT, 0, 0));
    const char16_t* items[] = {u"one", u"two", u"three", u"four", u"five", u"six"};
    EXPECT_TRUE(MatchesPicture(list, [&](HDC dc, RECT client) {
        FillRect(dc, &client, colours.brush);
        SelectObject(dc, font);
        SetBkMode(dc, TRANSPARENT);
        for (size_t i = top; i < 6; ++i) {
            const int32_t y = static_cast<int32_t>(i - top) * itemHeight;
            if (i == 5) {
                const RECT row{0, y, client.right, y + itemHeight};
                FillRect(dc, &row, GetSysColorBrush(COLOR_HIGHLIGHT));
            }
            SetTextColor(dc, i == 5 ? GetSysColor(COLOR_HIGHLIGHTTEXT) : colours.text);
            const std::u16string text(items[i]);
            ExtTextOutW(dc, kListMarginX, y, 0, nullptr, text.c_str(), static_cast<uint32_t>(text.size()), nullptr);
        }
    }));
}

TEST_F(ListControlTest, ComboBoxFieldShowsTheChoiceAndAnArrow) {
    colours.brush = CreateSolidBrush(RGB(0, 120, 0));
    colours.text = RGB(255, 255, 255);
    const HWND combo = Make(kComboBoxClass, u"", CBS_DROPDOWNLIST, 10, 10, 100, 80);
    SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(u"kiwi"));
    SendMessageW(combo, CB_SETCURSEL, 0, 0);
    Pump();
    EXPECT_EQ(colours.lastMessage, WM_CTLCOLOREDIT);
    EXPECT_TRUE(MatchesPicture(combo, [&](HDC dc, RECT client) {
        FillRect(dc, &client, colours.brush);
        FrameRect(dc, &client, GetSysColorBrush(COLOR_WINDOWFRAME));
        const int32_t box = client.bottom;
        const RECT arrow{client.right - box, 0, client.right, client.bottom};
        FillRect(dc, &arrow, GetSysColorBrush(COLOR_BTNFACE));
        FrameRect(dc, &arrow, GetSysColorBrush(COLOR_WINDOWFRAME));
        const int32_t centreX = arrow.left + box / 2;
        for (int32_t row = 0; row < 4; ++row)
            for (int32_t x = centreX - 3 + row; x < centreX + 4 - row; ++x)
                SetPixel(dc, x, box / 2 - 2 + row, GetSysColor(COLOR_BTNTEXT));
        SelectObject(dc, font);
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, colours.text);
        const RECT textRect{3, 0, arrow.left - 1, client.bottom};
        ExtTextOutW(dc, 3, kComboFieldExtra / 2, ETO_CLIPPED, &textRect, u"kiwi", 4, nullptr);
    }));
}

}  // namespace
}  // namespace qob::platform::test
