// tests/platform/controls/button_static_test.cpp
// BUTTON and STATIC: check messages per kind, taps released inside or
// outside, the automatic check boxes and radio groups, Space, and the
// pictures of a push button, a check box and static texts in each alignment.

#include <gtest/gtest.h>

#include "control_test_support.h"

namespace qob::platform::test {
namespace {

class ButtonTest : public ControlTest {
protected:
    size_t ClicksFrom(HWND button) const {
        size_t count = 0;
        for (const Notification& n : notifications) count += n.control == button && n.code == BN_CLICKED ? 1 : 0;
        return count;
    }
    void Tap(HWND control) {
        const POINT at = OnScreen(control, 3, 3);
        InjectTap(at.x, at.y);
        Pump();
    }
};

TEST_F(ButtonTest, CheckMessagesPerKind) {
    struct Case {
        uint32_t kind;
        WPARAM set;
        LRESULT check;  // BM_GETCHECK after BM_SETCHECK
    };
    const Case cases[] = {
        {BS_PUSHBUTTON, 1, BST_UNCHECKED},   {BS_DEFPUSHBUTTON, 1, BST_UNCHECKED},
        {BS_CHECKBOX, 1, BST_CHECKED},       {BS_AUTOCHECKBOX, 1, BST_CHECKED},
        {BS_CHECKBOX, 2, BST_CHECKED},       // two states only
        {BS_3STATE, 2, BST_INDETERMINATE},   {BS_AUTO3STATE, 2, BST_INDETERMINATE},
        {BS_RADIOBUTTON, 1, BST_CHECKED},    {BS_AUTORADIOBUTTON, 0, BST_UNCHECKED},
        {BS_GROUPBOX, 1, BST_UNCHECKED},
    };
    UINT id = 300;
    for (const Case& c : cases) {
        const HWND button = Make(kButtonClass, u"b", c.kind, 10, 10, 80, 20, id++);
        SendMessageW(button, BM_SETCHECK, c.set, 0);
        EXPECT_EQ(SendMessageW(button, BM_GETCHECK, 0, 0), c.check) << c.kind << " " << c.set;
        EXPECT_EQ(SendMessageW(button, BM_GETSTATE, 0, 0) & 3, c.check) << c.kind;
        DestroyWindow(button);
    }
}

TEST_F(ButtonTest, ATapReleasedInsideClicksAndOneReleasedOutsideDoesNot) {
    const HWND button = Make(kButtonClass, u"OK", BS_PUSHBUTTON, 10, 10, 80, 24, 1);
    ASSERT_NE(button, 0u);
    Tap(button);
    EXPECT_EQ(ClicksFrom(button), 1u);
    EXPECT_EQ(notifications.back(), (Notification{button, 1, BN_CLICKED}));

    const POINT inside = OnScreen(button, 5, 5);
    InjectStylus(inside.x, inside.y, StylusAction::Down);
    Pump();
    EXPECT_EQ(SendMessageW(button, BM_GETSTATE, 0, 0) & BST_PUSHED, BST_PUSHED);
    const POINT outside = OnScreen(button, 200, 100);
    InjectStylus(outside.x, outside.y, StylusAction::Move);
    Pump();
    EXPECT_EQ(SendMessageW(button, BM_GETSTATE, 0, 0) & BST_PUSHED, 0);
    InjectStylus(outside.x, outside.y, StylusAction::Up);
    Pump();
    EXPECT_EQ(ClicksFrom(button), 1u);
    EXPECT_EQ(GetCapture(), 0u);

    // Space presses it too, and BM_CLICK.
    SetFocus(button);
    InjectKey(VK_SPACE);
    Pump();
    SendMessageW(button, BM_CLICK, 0, 0);
    EXPECT_EQ(ClicksFrom(button), 3u);
}

TEST_F(ButtonTest, AutomaticKindsChangeTheirCheckBeforeTheClick) {
    struct Case {
        uint32_t kind;
        LRESULT afterOne, afterTwo, afterThree;
    };
    const Case cases[] = {
        {BS_CHECKBOX, 0, 0, 0},
        {BS_AUTOCHECKBOX, 1, 0, 1},
        {BS_AUTO3STATE, 1, 2, 0},
        {BS_AUTORADIOBUTTON, 1, 1, 1},
    };
    UINT id = 400;
    for (const Case& c : cases) {
        const HWND button = Make(kButtonClass, u"x", c.kind | WS_GROUP, 10, 10, 80, 20, id++);
        const LRESULT expected[] = {c.afterOne, c.afterTwo, c.afterThree};
        for (LRESULT want : expected) {
            Tap(button);
            EXPECT_EQ(SendMessageW(button, BM_GETCHECK, 0, 0), want) << c.kind;
        }
        EXPECT_EQ(ClicksFrom(button), 3u) << c.kind;
        DestroyWindow(button);
    }
}

TEST_F(ButtonTest, AnAutomaticRadioButtonUnchecksTheOthersOfItsGroup) {
    const HWND a = Make(kButtonClass, u"a", BS_AUTORADIOBUTTON | WS_GROUP, 10, 10, 60, 20, 1);
    const HWND b = Make(kButtonClass, u"b", BS_AUTORADIOBUTTON, 10, 35, 60, 20, 2);
    const HWND plain = Make(kButtonClass, u"p", BS_RADIOBUTTON, 10, 60, 60, 20, 3);
    const HWND c = Make(kButtonClass, u"c", BS_AUTORADIOBUTTON, 10, 85, 60, 20, 4);
    const HWND other = Make(kButtonClass, u"o", BS_AUTORADIOBUTTON | WS_GROUP, 10, 110, 60, 20, 5);
    for (HWND button : {a, plain, c, other}) SendMessageW(button, BM_SETCHECK, BST_CHECKED, 0);
    Tap(b);
    struct Case {
        HWND button;
        LRESULT check;
    };
    const Case cases[] = {{a, 0}, {b, 1}, {plain, 1}, {c, 0}, {other, 1}};
    for (const Case& k : cases) EXPECT_EQ(SendMessageW(k.button, BM_GETCHECK, 0, 0), k.check) << k.button;
}

TEST_F(ButtonTest, APushButtonAndACheckBoxPaintInTheParentsColours) {
    colours.brush = CreateSolidBrush(RGB(90, 0, 90));
    colours.text = RGB(0, 255, 255);
    const HWND push = Make(kButtonClass, u"Go", BS_DEFPUSHBUTTON, 10, 10, 80, 24, 1);
    Pump();
    EXPECT_EQ(colours.lastMessage, WM_CTLCOLORBTN);
    EXPECT_TRUE(MatchesPicture(push, [&](HDC dc, RECT client) {
        FillRect(dc, &client, colours.brush);
        FrameRect(dc, &client, GetSysColorBrush(COLOR_WINDOWFRAME));
        const RECT inner{1, 1, client.right - 1, client.bottom - 1};
        FrameRect(dc, &inner, GetSysColorBrush(COLOR_WINDOWFRAME));
        SelectObject(dc, font);
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, colours.text);
        DrawTextW(dc, u"Go", 2, &client, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    }));
    const HWND check = Make(kButtonClass, u"Sound", BS_AUTOCHECKBOX, 10, 50, 100, 20, 2);
    SendMessageW(check, BM_SETCHECK, BST_CHECKED, 0);
    Pump();
    EXPECT_EQ(colours.lastMessage, WM_CTLCOLORSTATIC);
    EXPECT_TRUE(MatchesPicture(check, [&](HDC dc, RECT client) {
        FillRect(dc, &client, colours.brush);
        const int32_t top = (client.bottom - kCheckBoxSize) / 2;
        const RECT box{0, top, kCheckBoxSize, top + kCheckBoxSize};
        FillRect(dc, &box, GetSysColorBrush(COLOR_WINDOW));
        FrameRect(dc, &box, GetSysColorBrush(COLOR_WINDOWFRAME));
        const RECT mark{3, top + 3, kCheckBoxSize - 3, top + kCheckBoxSize - 3};
        FillRect(dc, &mark, GetSysColorBrush(COLOR_WINDOWTEXT));
        SelectObject(dc, font);
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, colours.text);
        RECT text{kCheckBoxSize + kCheckBoxGap, 0, client.right, client.bottom};
        DrawTextW(dc, u"Sound", 5, &text, DT_LEFT | DT_VCENTER | DT_SINGLELINE);
    }));
}

TEST_F(ButtonTest, StaticTextsPaintInEachAlignment) {
    colours.brush = CreateSolidBrush(RGB(250, 250, 200));
    colours.text = RGB(0, 0, 200);
    struct Case {
        uint32_t style;
        uint32_t format;
    };
    const Case cases[] = {
        {SS_LEFT, DT_LEFT | DT_WORDBREAK},
        {SS_CENTER, DT_CENTER | DT_WORDBREAK},
        {SS_RIGHT, DT_RIGHT | DT_WORDBREAK},
        {SS_LEFTNOWORDWRAP, DT_LEFT | DT_SINGLELINE},
    };
    UINT id = 500;
    for (const Case& c : cases) {
        const HWND label = Make(kStaticClass, u"Name: first last", c.style, 10, 10, 150, 40, id++);
        Pump();
        EXPECT_EQ(colours.lastMessage, WM_CTLCOLORSTATIC);
        EXPECT_EQ(colours.lastControl, label);
        EXPECT_TRUE(MatchesPicture(label, [&](HDC dc, RECT client) {
            FillRect(dc, &client, colours.brush);
            SelectObject(dc, font);
            SetBkMode(dc, TRANSPARENT);
            SetTextColor(dc, colours.text);
            DrawTextW(dc, u"Name: first last", -1, &client, c.format | DT_EXPANDTABS);
        })) << c.style;
        DestroyWindow(label);
    }
}

TEST_F(ButtonTest, AStaticNotifiesATapOnlyWhenAsked) {
    const HWND quiet = Make(kStaticClass, u"q", 0, 10, 10, 50, 20, 1);
    const HWND notifying = Make(kStaticClass, u"n", SS_NOTIFY, 10, 40, 50, 20, 2);
    Tap(quiet);
    Tap(notifying);
    ASSERT_EQ(notifications.size(), 1u);
    EXPECT_EQ(notifications[0], (Notification{notifying, 2, STN_CLICKED}));
    // Its text is the window text.
    SetWindowTextW(quiet, u"changed");
    char16_t text[16] = {};
    GetWindowTextW(quiet, text, 16);
    EXPECT_EQ(std::u16string(text), u"changed");
}

TEST_F(ButtonTest, ControlsKeepTheirFont) {
    UINT id = 600;
    for (const char16_t* className : {kEditClass, kListBoxClass, kComboBoxClass, kButtonClass, kStaticClass}) {
        const HWND control = Make(className, u"", 0, 10, 10, 50, 20, id++);
        EXPECT_EQ(SendMessageW(control, WM_GETFONT, 0, 0), static_cast<LRESULT>(font)) << id;
        SendMessageW(control, WM_SETFONT, 0, 0);
        EXPECT_EQ(SendMessageW(control, WM_GETFONT, 0, 0), 0) << id;
    }
}

}  // namespace
}  // namespace qob::platform::test
