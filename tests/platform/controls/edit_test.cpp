// tests/platform/controls/edit_test.cpp
// The EDIT control: its answers to messages (selection both ways, lines by
// index and by character, EM_GETLINE's size word without a terminator,
// replacing the selection), typing and keys and taps giving EN_CHANGE and
// the edited text, read-only, and its picture in the parent's colours.

#include <gtest/gtest.h>

#include <string>

#include "control_test_support.h"

namespace qob::platform::test {
namespace {

class EditTest : public ControlTest {
protected:
    static std::u16string TextOf(HWND edit) {
        char16_t buffer[256] = {};
        const LRESULT length = SendMessageW(edit, WM_GETTEXT, 256, reinterpret_cast<LPARAM>(buffer));
        return std::u16string(buffer, static_cast<size_t>(length));
    }
    // The selection through both out pointers, checked against the packed result.
    static std::pair<uint32_t, uint32_t> SelectionOf(HWND edit) {
        uint32_t start = 0xDEAD, end = 0xBEEF;
        const LRESULT packed = SendMessageW(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&start),
                                            reinterpret_cast<LPARAM>(&end));
        EXPECT_EQ(static_cast<uint32_t>(packed), (start & 0xFFFF) | ((end & 0xFFFF) << 16));
        return {start, end};
    }
    size_t ChangeCount() const {
        size_t count = 0;
        for (const Notification& n : notifications) count += n.code == EN_CHANGE ? 1 : 0;
        return count;
    }
};

// One step: a message, its wParam and lParam (a text when given), then the
// result, the text and the selection after it.
struct Step {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    const char16_t* text;  // passed as lParam when not null
    LRESULT result;
    const char16_t* after;
    uint32_t selStart, selEnd;
};

void RunSteps(HWND edit, std::initializer_list<Step> steps,
              std::u16string (*textOf)(HWND), std::pair<uint32_t, uint32_t> (*selectionOf)(HWND)) {
    int line = 0;
    for (const Step& step : steps) {
        ++line;
        const LPARAM lParam = step.text ? reinterpret_cast<LPARAM>(step.text) : step.lParam;
        EXPECT_EQ(SendMessageW(edit, step.message, step.wParam, lParam), step.result) << "step " << line;
        EXPECT_EQ(textOf(edit), std::u16string(step.after)) << "step " << line;
        const auto [start, end] = selectionOf(edit);
        EXPECT_EQ(start, step.selStart) << "step " << line;
        EXPECT_EQ(end, step.selEnd) << "step " << line;
    }
}

TEST_F(EditTest, SingleLineMessagesAnswerWithTextAndSelection) {
    const HWND edit = Make(kEditClass, u"hello world", ES_AUTOHSCROLL, 10, 10, 200, 20);
    ASSERT_NE(edit, 0u);
    RunSteps(edit,
             {
                 {EM_GETSEL, 0, 0, nullptr, 0, u"hello world", 0, 0},
                 {EM_SETSEL, 6, 11, nullptr, 1, u"hello world", 6, 11},
                 {EM_REPLACESEL, 1, 0, u"there", 0, u"hello there", 11, 11},
                 {EM_SETSEL, 0, static_cast<LPARAM>(-1), nullptr, 1, u"hello there", 0, 11},
                 {EM_SETSEL, 3, 1, nullptr, 1, u"hello there", 1, 3},  // reversed: the caret at 1
                 {EM_SETSEL, static_cast<WPARAM>(-1), 0, nullptr, 1, u"hello there", 1, 1},
                 {EM_SETSEL, 4, 500, nullptr, 1, u"hello there", 4, 11},
                 {EM_REPLACESEL, 0, 0, u"", 0, u"hell", 4, 4},
                 {EM_SETSEL, 0, 0, nullptr, 1, u"hell", 0, 0},
                 {EM_REPLACESEL, 0, 0, u">", 0, u">hell", 1, 1},
                 {EM_GETLINECOUNT, 0, 0, nullptr, 1, u">hell", 1, 1},
                 {EM_LINEINDEX, 0, 0, nullptr, 0, u">hell", 1, 1},
                 {EM_LINEINDEX, 1, 0, nullptr, -1, u">hell", 1, 1},
                 {EM_LINELENGTH, 3, 0, nullptr, 5, u">hell", 1, 1},
                 {EM_LINELENGTH, 99, 0, nullptr, 5, u">hell", 1, 1},
                 {WM_SETTEXT, 0, 0, u"new", 1, u"new", 0, 0},
                 {WM_GETTEXTLENGTH, 0, 0, nullptr, 3, u"new", 0, 0},
             },
             TextOf, SelectionOf);
}

TEST_F(EditTest, MultiLineLinesAreFoundByLineNumberAndByCharacterIndex) {
    // a b \r \n c d e \r \n \r \n f: lines start at 0, 4, 9 and 11.
    const HWND edit = Make(kEditClass, u"ab\r\ncde\r\n\r\nf", ES_MULTILINE | ES_AUTOHSCROLL, 10, 10, 200, 100);
    ASSERT_NE(edit, 0u);
    struct Case {
        UINT message;
        WPARAM wParam;
        LRESULT result;
    };
    const Case cases[] = {
        {EM_GETLINECOUNT, 0, 4},
        {EM_LINEINDEX, 0, 0},
        {EM_LINEINDEX, 1, 4},
        {EM_LINEINDEX, 2, 9},
        {EM_LINEINDEX, 3, 11},
        {EM_LINEINDEX, 4, -1},
        {EM_LINELENGTH, 0, 2},
        {EM_LINELENGTH, 1, 2},  // character 1 lies in line 0: not line 1's length
        {EM_LINELENGTH, 5, 3},
        {EM_LINELENGTH, 9, 0},
        {EM_LINELENGTH, 11, 1},
        {EM_LINEFROMCHAR, 6, 1},
        {EM_LINEFROMCHAR, 12, 3},
    };
    for (const Case& c : cases)
        EXPECT_EQ(SendMessageW(edit, c.message, c.wParam, 0), c.result) << c.message << " " << c.wParam;

    // The caret's line for -1, and the unselected characters of the selection's lines.
    SendMessageW(edit, EM_SETSEL, 5, 6);
    EXPECT_EQ(SendMessageW(edit, EM_LINEINDEX, static_cast<WPARAM>(-1), 0), 4);
    EXPECT_EQ(SendMessageW(edit, EM_LINELENGTH, static_cast<WPARAM>(-1), 0), 2);
    SendMessageW(edit, EM_SETSEL, 1, 5);
    EXPECT_EQ(SendMessageW(edit, EM_LINELENGTH, static_cast<WPARAM>(-1), 0), 1 + 2);
}

TEST_F(EditTest, GetLineReadsTheSizeWordAndWritesNoTerminator) {
    const HWND edit = Make(kEditClass, u"ab\r\ncde\r\n\r\nf", ES_MULTILINE | ES_AUTOHSCROLL, 10, 10, 200, 100);
    ASSERT_NE(edit, 0u);
    struct Case {
        WPARAM line;
        uint16_t size;
        LRESULT count;
        const char16_t* copied;
    };
    const Case cases[] = {
        {0, 10, 2, u"ab"}, {1, 10, 3, u"cde"}, {1, 2, 2, u"cd"}, {1, 0, 0, u""},
        {2, 10, 0, u""},   {3, 10, 1, u"f"},   {4, 10, 0, u""},  {99, 10, 0, u""},
    };
    for (const Case& c : cases) {
        char16_t buffer[16];
        std::fill(std::begin(buffer), std::end(buffer), u'#');
        buffer[0] = static_cast<char16_t>(c.size);
        const LRESULT count = SendMessageW(edit, EM_GETLINE, c.line, reinterpret_cast<LPARAM>(buffer));
        ASSERT_EQ(count, c.count) << "line " << c.line << " size " << c.size;
        if (count > 0) {
            EXPECT_EQ(std::u16string(buffer, static_cast<size_t>(count)), c.copied) << c.line;
            EXPECT_EQ(buffer[count], u'#') << "a terminator was written for line " << c.line;
        } else {
            EXPECT_EQ(buffer[0], static_cast<char16_t>(c.size)) << "the size word was touched for line " << c.line;
        }
    }
}

TEST_F(EditTest, TypedTextAndKeysEditAtTheCaretWithAChangeEach) {
    const HWND edit = Make(kEditClass, u"", ES_AUTOHSCROLL, 10, 10, 200, 20);
    ASSERT_NE(edit, 0u);
    const POINT inside = OnScreen(edit, 5, 5);
    InjectTap(inside.x, inside.y);
    Pump();
    ASSERT_EQ(GetFocus(), edit);
    InjectText(u"hello");
    InjectKey(VK_LEFT);
    InjectKey(VK_BACK);    // removes the second "l"
    InjectKey(VK_DELETE);  // removes the "o"
    InjectKey(VK_HOME);
    InjectText(u"X");
    InjectKey(VK_END);
    InjectText(u"!");
    InjectKey(VK_LEFT);
    InjectKey(VK_LEFT);
    Pump();
    EXPECT_EQ(TextOf(edit), u"Xhel!");
    EXPECT_EQ(SelectionOf(edit), std::make_pair(3u, 3u));
    EXPECT_EQ(ChangeCount(), 5u + 1 + 1 + 1 + 1);
    for (const Notification& n : notifications) EXPECT_EQ(n.control, edit);
    EXPECT_EQ(notifications.front(), (Notification{edit, 100, EN_SETFOCUS}));

    // A selection made with the stylus is replaced by what is typed next.
    SendMessageW(edit, EM_SETSEL, 1, 4);
    InjectText(u"ey");
    Pump();
    EXPECT_EQ(TextOf(edit), u"Xey!");
}

TEST_F(EditTest, BackspaceAndDeleteTakeALineBreakAsOneStep) {
    const HWND edit = Make(kEditClass, u"ab\r\ncd", ES_MULTILINE | ES_AUTOHSCROLL, 10, 10, 200, 80);
    ASSERT_NE(edit, 0u);
    SetFocus(edit);
    SendMessageW(edit, EM_SETSEL, 4, 4);
    SendMessageW(edit, WM_CHAR, VK_BACK, 0);
    EXPECT_EQ(TextOf(edit), u"abcd");
    SendMessageW(edit, WM_CHAR, VK_RETURN, 0);
    EXPECT_EQ(TextOf(edit), u"ab\r\ncd");
    EXPECT_EQ(SelectionOf(edit), std::make_pair(4u, 4u));
    SendMessageW(edit, EM_SETSEL, 2, 2);
    SendMessageW(edit, WM_KEYDOWN, VK_DELETE, 0);
    EXPECT_EQ(TextOf(edit), u"abcd");
    // Up and down keep the column.
    SendMessageW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(u"abc\r\nd\r\nefgh"));
    SendMessageW(edit, EM_SETSEL, 2, 2);
    SendMessageW(edit, WM_KEYDOWN, VK_DOWN, 0);
    EXPECT_EQ(SelectionOf(edit), std::make_pair(6u, 6u));
    SendMessageW(edit, WM_KEYDOWN, VK_DOWN, 0);
    EXPECT_EQ(SelectionOf(edit), std::make_pair(9u, 9u));
    SendMessageW(edit, WM_KEYDOWN, VK_END, 0);
    EXPECT_EQ(SelectionOf(edit), std::make_pair(12u, 12u));
    SendMessageW(edit, WM_KEYDOWN, VK_UP, 0);
    EXPECT_EQ(SelectionOf(edit), std::make_pair(6u, 6u));
    // A single-line edit takes no line breaks.
    const HWND single = Make(kEditClass, u"x", 0, 10, 100, 100, 20, 101);
    SendMessageW(single, EM_SETSEL, 1, 1);
    SendMessageW(single, WM_CHAR, VK_RETURN, 0);
    EXPECT_EQ(TextOf(single), u"x");
}

TEST_F(EditTest, ReadOnlyIgnoresTypingButTakesReplaceSel) {
    const HWND edit = Make(kEditClass, u"fixed", ES_READONLY, 10, 10, 200, 20);
    ASSERT_NE(edit, 0u);
    SetFocus(edit);
    notifications.clear();
    SendMessageW(edit, EM_SETSEL, 5, 5);
    SendMessageW(edit, WM_CHAR, u'x', 0);
    SendMessageW(edit, WM_CHAR, VK_BACK, 0);
    SendMessageW(edit, WM_KEYDOWN, VK_HOME, 0);
    SendMessageW(edit, WM_KEYDOWN, VK_DELETE, 0);
    EXPECT_EQ(TextOf(edit), u"fixed");
    EXPECT_EQ(SelectionOf(edit), std::make_pair(0u, 0u));  // the caret still moves
    EXPECT_EQ(ChangeCount(), 0u);
    SendMessageW(edit, EM_REPLACESEL, 0, reinterpret_cast<LPARAM>(u">"));
    EXPECT_EQ(TextOf(edit), u">fixed");
    SendMessageW(edit, EM_SETREADONLY, 0, 0);
    SendMessageW(edit, WM_CHAR, u'y', 0);
    EXPECT_EQ(TextOf(edit), u">yfixed");
}

TEST_F(EditTest, StyleFiltersTypedCharacters) {
    struct Case {
        uint32_t style;
        const char16_t* typed;
        const char16_t* text;
    };
    const Case cases[] = {
        {ES_NUMBER, u"a1b2", u"12"},
        {ES_UPPERCASE, u"aBc", u"ABC"},
        {ES_LOWERCASE, u"aBc", u"abc"},
        {0, u"a\x01\x1b" u"b", u"ab"},
    };
    UINT id = 200;
    for (const Case& c : cases) {
        const HWND edit = Make(kEditClass, u"", c.style, 10, 10, 200, 20, id++);
        for (const char16_t* p = c.typed; *p; ++p) SendMessageW(edit, WM_CHAR, *p, 0);
        EXPECT_EQ(TextOf(edit), c.text) << c.style;
        DestroyWindow(edit);
    }
}

TEST_F(EditTest, ATapPutsTheCaretAtTheNearestCharacter) {
    const HWND edit = Make(kEditClass, u"abcdef", ES_AUTOHSCROLL, 10, 10, 200, 20);
    ASSERT_NE(edit, 0u);
    SIZE size{};
    const HDC dc = CreateCompatibleDC(0);
    SelectObject(dc, font);
    GetTextExtentPoint32W(dc, u"abc", 3, &size);
    DeleteDC(dc);
    const POINT at = OnScreen(edit, kEditMarginX + size.cx + 1, 5);
    InjectTap(at.x, at.y);
    Pump();
    EXPECT_EQ(SelectionOf(edit), std::make_pair(3u, 3u));
    // A drag selects.
    const POINT from = OnScreen(edit, kEditMarginX, 5);
    InjectStylus(from.x, from.y, StylusAction::Down);
    InjectStylus(at.x, at.y, StylusAction::Move);
    InjectStylus(at.x, at.y, StylusAction::Up);
    Pump();
    EXPECT_EQ(SelectionOf(edit), std::make_pair(0u, 3u));
}

TEST_F(EditTest, MultiLineWrapsWordsAtTheRightEdge) {
    const HWND edit = Make(kEditClass, u"", ES_MULTILINE, 10, 10, 60, 100);
    ASSERT_NE(edit, 0u);
    SendMessageW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(u"one two three four"));
    const LRESULT lines = SendMessageW(edit, EM_GETLINECOUNT, 0, 0);
    EXPECT_GT(lines, 1);
    // Each wrapped line starts at a word, and the lines cover the text in order.
    LRESULT previous = -1;
    for (LRESULT line = 0; line < lines; ++line) {
        const LRESULT start = SendMessageW(edit, EM_LINEINDEX, static_cast<WPARAM>(line), 0);
        EXPECT_GT(start, previous);
        const char16_t* text = u"one two three four";
        if (start > 0) {
            EXPECT_EQ(text[start - 1], u' ') << "line " << line;
        }
        previous = start;
    }
}

TEST_F(EditTest, PaintsInTheParentsColoursWithTheSelectionHighlighted) {
    colours.brush = CreateSolidBrush(RGB(0, 160, 0));
    colours.text = RGB(200, 0, 0);
    const HWND edit = Make(kEditClass, u"Hi there", ES_AUTOHSCROLL | ES_NOHIDESEL, 10, 10, 120, 20);
    ASSERT_NE(edit, 0u);
    SendMessageW(edit, EM_SETSEL, 3, 8);
    Pump();
    EXPECT_EQ(colours.lastMessage, WM_CTLCOLOREDIT);
    EXPECT_EQ(colours.lastControl, edit);
    EXPECT_TRUE(MatchesPicture(edit, [&](HDC dc, RECT client) {
        FillRect(dc, &client, colours.brush);
        SelectObject(dc, font);
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, colours.text);
        ExtTextOutW(dc, kEditMarginX, kEditMarginY, 0, nullptr, u"Hi there", 8, nullptr);
        SIZE before{}, all{};
        GetTextExtentPoint32W(dc, u"Hi ", 3, &before);
        GetTextExtentPoint32W(dc, u"Hi there", 8, &all);
        const int32_t height = [&] {
            TEXTMETRICW metrics{};
            GetTextMetricsW(dc, &metrics);
            return metrics.tmHeight;
        }();
        const RECT selected{kEditMarginX + before.cx, kEditMarginY, kEditMarginX + all.cx, kEditMarginY + height};
        FillRect(dc, &selected, GetSysColorBrush(COLOR_HIGHLIGHT));
        SetTextColor(dc, GetSysColor(COLOR_HIGHLIGHTTEXT));
        ExtTextOutW(dc, selected.left, kEditMarginY, 0, nullptr, u"there", 5, nullptr);
    }));
    // Read-only: the parent is asked with WM_CTLCOLORSTATIC.
    SendMessageW(edit, EM_SETREADONLY, 1, 0);
    Pump();
    EXPECT_EQ(colours.lastMessage, WM_CTLCOLORSTATIC);
}

TEST_F(EditTest, DefaultColoursWhenTheParentAnswersNothing) {
    const HWND edit = Make(kEditClass, u"", WS_BORDER, 10, 10, 60, 20);
    ASSERT_NE(edit, 0u);
    Pump();
    const POINT inside = OnScreen(edit, 5, 5);
    EXPECT_EQ(ScreenAt(inside.x, inside.y), GetSysColor(COLOR_WINDOW));
    // The border lies just outside the client area.
    const POINT corner = OnScreen(edit, -1, -1);
    EXPECT_EQ(ScreenAt(corner.x, corner.y), GetSysColor(COLOR_WINDOWFRAME));
}

}  // namespace
}  // namespace qob::platform::test
