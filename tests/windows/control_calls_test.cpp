// tests/windows/control_calls_test.cpp
// newcontrol and the control built-ins through their handlers: controls made
// in the parent's context with the caller's procedure, texts and selections
// (setsellength's 16-bit mask, gettextline by the line's own length),
// items of list and combo boxes and other controls, the low-memory blocks
// their messages point to (a script's 32-bit words reach them) and answers
// larger than the buffer, newfont's LOGFONT, fonts held by several records,
// the window and font-family lists, the wait cursor's nesting and
// getclientrect's 16 bytes.

#include "windows/control_calls.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "compiler/progress_window.h"
#include "platform/controls/standard_controls.h"
#include "platform/cursor.h"
#include "platform/gdi.h"
#include "platform/memory.h"
#include "platform/window_manager.h"
#include "runtime/values/list_values.h"
#include "runtime/values/variable_store.h"
#include "runtime/vm/program_context.h"
#include "runtime/vm/value_stack.h"
#include "script_windows_support.h"
#include "windows/dialogs.h"
#include "windows/event_calls.h"
#include "windows/forms.h"
#include "windows/new_control.h"
#include "windows/window_records.h"

namespace qob {
namespace {

using testing::Address;
using namespace platform;

constexpr const char* kProcedures = R"(
FORCELINK FUNC onform(w$, m$, x$, y$) RETURN(1); END;
FORCELINK FUNC oncontrol(w$, m$, x$, y$)
  IF (m$ == 1 OR m$ == 258) showmessage("control ", m$, " ", x$); END;
  RETURN(1);
END;
)";

// A result cell's text and width.
struct TextResult {
    std::u16string text;
    bool wide;
};

class ControlCallsTest : public testing::ScriptWindowsTest {
protected:
    void SetUp() override {
        ScriptWindowsTest::SetUp();
        application = Load(kProcedures);
        PushValue("Form", 0, nullptr);
        PushValue("CtlForm", 0, nullptr);
        PushNumber(Address(Procedure(application, "onform")));
        Builtin_newform();
        form = static_cast<HWND>(PopNumber());
        ASSERT_NE(form, 0u);
    }

    HWND NewControl(const char* className, const char* text, uint32_t style, HWND parent, Instruction* procedure,
                    int32_t width = 200, int32_t height = 60) {
        PushNumber(100);
        PushValue(className, 0, nullptr);
        PushNumber(Address(procedure));
        PushValue(text, 0, nullptr);
        PushNumber(static_cast<double>(WS_CHILD | WS_VISIBLE | style));
        PushNumber(static_cast<double>(parent));
        PushNumber(10);
        PushNumber(20);
        PushNumber(width);
        PushNumber(height);
        Builtin_newcontrol();
        return static_cast<HWND>(PopNumber());
    }

    // Runs a handler with the arguments already pushed; its number result.
    static double Number(void (*handler)()) {
        handler();
        return PopNumber();
    }
    static TextResult Text(void (*handler)()) {
        handler();
        const StackEntry* cell = PopStackEntry();
        TextResult result{{}, (cell->flags & kEntryWide) != 0};
        if (!cell->text) return result;
        if (result.wide) {
            result.text = reinterpret_cast<const char16_t*>(cell->text);
        } else {
            const std::string narrow(cell->text);
            result.text.assign(narrow.begin(), narrow.end());  // ASCII in these tests
        }
        return result;
    }
    static void PushWide(const char16_t* text) {
        const size_t bytes = (std::char_traits<char16_t>::length(text) + 1) * 2;
        auto* block = static_cast<char*>(AllocateBlock(bytes));
        std::memcpy(block, text, bytes);
        PushValue(block, 0, nullptr);
        CurrentContext->stackTop->flags |= kEntryWide;
        blocks.push_back(block);
    }
    void TearDown() override {
        ScriptWindowsTest::TearDown();
        for (char* block : blocks) FreeBlock(block);
        blocks.clear();
    }

    ProgramContext* application = nullptr;
    HWND form = 0;
    static inline std::vector<char*> blocks;
};

TEST_F(ControlCallsTest, NewcontrolMakesASubclassedControlWithARecord) {
    const HWND edit = NewControl("edit", "start", 0, form, Procedure(application, "oncontrol"));
    ASSERT_NE(edit, 0u);
    EXPECT_EQ(Output(), "control 1 0\n");  // WM_CREATE through the record
    ProgramContext* owner = nullptr;
    const WindowRecord* record = FindWindowRecordByHandle(edit, &owner);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(owner, application);
    EXPECT_STREQ(record->className, "edit");
    EXPECT_NE(record->font, 0u);
    EXPECT_EQ(SendMessageW(edit, WM_GETFONT, 0, 0), static_cast<LRESULT>(record->font));
    EXPECT_EQ(GetWindowLongPtrW(edit, GWL_WNDPROC), reinterpret_cast<intptr_t>(ControlSubclassProc));
    // Messages reach the procedure, then the edit itself.
    SendMessageW(edit, WM_CHAR, u'x', 0);
    EXPECT_EQ(Output(), "control 258 120\n");
    EXPECT_EQ(WindowTitle(edit), u"xstart");

    struct Case {
        const char* className;
        HWND parent;
    };
    const Case failures[] = {{"NoSuchClass", form}, {"EDIT", edit + 100000}, {"EDIT", 0}};
    for (const Case& c : failures) EXPECT_EQ(NewControl(c.className, "", 0, c.parent, nullptr), 0u) << c.className;
    // A parent without a record (a window the program never made).
    WNDCLASSW plain;
    plain.lpfnWndProc = DefWindowProcW;
    plain.lpszClassName = u"PlainParent";
    ASSERT_NE(RegisterClassW(&plain), 0);
    const HWND bare = CreateWindowExW(0, u"PlainParent", u"", 0, 0, 0, 50, 50, 0, 0, 0, nullptr);
    EXPECT_EQ(NewControl("EDIT", "", 0, bare, nullptr), 0u);
}

TEST_F(ControlCallsTest, AControlsRecordGoesWithItsWindowAndItsProcedureIsPutBack) {
    const HWND edit = NewControl("EDIT", "", 0, form, Procedure(application, "oncontrol"));
    ASSERT_NE(edit, 0u);
    const intptr_t subclass = GetWindowLongPtrW(edit, GWL_WNDPROC);
    const uintptr_t replaced = FindWindowRecordByHandle(edit, nullptr)->savedWindowProcedure;
    EXPECT_NE(static_cast<uintptr_t>(subclass), replaced);
    DestroyWindow(edit);
    EXPECT_EQ(FindWindowRecordByHandle(edit, nullptr), nullptr);
    EXPECT_FALSE(IsWindow(edit));
}

TEST_F(ControlCallsTest, AProcedureOfAnotherProgramRunsInItsOwnContextAndLeavesWithIt) {
    ProgramContext* other = Load(kProcedures);
    ASSERT_NE(other, application);
    const HWND edit = NewControl("EDIT", "", 0, form, Procedure(other, "oncontrol"));
    ASSERT_NE(edit, 0u);
    ProgramContext* owner = nullptr;
    const WindowRecord* record = FindWindowRecordByHandle(edit, &owner);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(owner, application) << "the record belongs with its parent's";
    EXPECT_EQ(record->procedureContext, other);
    EXPECT_EQ(Output(), "control 1 0\n");
    other->quietEnd = 1;
    EndProgramContext(other);
    CurrentContext = application;
    record = FindWindowRecordByHandle(edit, nullptr);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->eventProcedure, nullptr);
    SendMessageW(edit, WM_CHAR, u'y', 0);  // would run the ended program's code
    EXPECT_EQ(Output(), "");
    EXPECT_EQ(WindowTitle(edit), u"y");
}

TEST_F(ControlCallsTest, SelectionsAndTextsOfAnEdit) {
    const HWND edit = NewControl("EDIT", "hello world", ES_AUTOHSCROLL, form, nullptr);
    ASSERT_NE(edit, 0u);
    const double handle = static_cast<double>(edit);
    PushNumber(handle); PushNumber(6); Builtin_setselstart();
    PushNumber(handle); PushNumber(5); Builtin_setsellength();
    PushNumber(handle);
    EXPECT_EQ(Number(Builtin_getselstart), 6);
    PushNumber(handle);
    EXPECT_EQ(Number(Builtin_getsellength), 5);
    PushNumber(handle);
    EXPECT_EQ(Text(Builtin_getseltext).text, u"world");
    PushNumber(handle); PushValue("there", 0, nullptr); Builtin_setseltext();
    PushNumber(handle);
    EXPECT_EQ(Text(Builtin_gettext).text, u"hello there");
    PushNumber(handle);
    EXPECT_EQ(Text(Builtin_getseltext).text, u"") << "an empty selection after the replacement";

    // UTF-16 twins keep the text wide; the 8-bit ones give UTF-8.
    PushNumber(handle); PushWide(u"\u00e9t\u00e9 \u20ac"); Builtin_wsettext();
    PushNumber(handle);
    const TextResult wide = Text(Builtin_wgettext);
    EXPECT_TRUE(wide.wide);
    EXPECT_EQ(wide.text, u"\u00e9t\u00e9 \u20ac");
}

TEST_F(ControlCallsTest, EightBitTextsAreUtf8AndCutAsUtf16First) {
    const HWND edit = NewControl("EDIT", "", ES_AUTOHSCROLL, form, nullptr);
    const double handle = static_cast<double>(edit);
    PushNumber(handle); PushWide(u"a\u00e9b\u20acc"); Builtin_wsettext();
    PushNumber(handle);
    Builtin_gettext();
    EXPECT_STREQ(PopStackEntry()->text, "a\xc3\xa9" "b\xe2\x82\xac" "c");
    SendMessageW(edit, EM_SETSEL, 1, 4);
    PushNumber(handle);
    Builtin_getseltext();
    EXPECT_STREQ(PopStackEntry()->text, "\xc3\xa9" "b\xe2\x82\xac");
    PushNumber(handle);
    const TextResult selected = Text(Builtin_wgetseltext);
    EXPECT_TRUE(selected.wide);
    EXPECT_EQ(selected.text, u"\u00e9b\u20ac");
}

TEST_F(ControlCallsTest, SetsellengthKeepsSixteenBits) {
    const HWND edit = NewControl("EDIT", "", ES_AUTOHSCROLL, form, nullptr);
    const std::u16string text(70000, u'a');
    SendMessageW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
    struct Case {
        int32_t start, length;
        double selected;
    };
    const Case cases[] = {{0, 70000, 70000 & 0xFFFF}, {10, 5, 5}, {0, 65536, 0}, {100, -1, 0xFFFF}};
    for (const Case& c : cases) {
        PushNumber(static_cast<double>(edit)); PushNumber(c.start); Builtin_setselstart();
        PushNumber(static_cast<double>(edit)); PushNumber(c.length); Builtin_setsellength();
        PushNumber(static_cast<double>(edit));
        EXPECT_EQ(Number(Builtin_getsellength), c.selected) << c.length;
    }
}

TEST_F(ControlCallsTest, GettextlineReadsEachLineByItsOwnLength) {
    const HWND edit = NewControl("EDIT", "", ES_MULTILINE | ES_AUTOHSCROLL, form, nullptr, 200, 100);
    SendMessageW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(u"ab\r\nsecond line\r\n\r\nx"));
    struct Case {
        int32_t line;
        const char16_t* text;
    };
    const Case cases[] = {{0, u"ab"}, {1, u"second line"}, {2, u""}, {3, u"x"}, {4, u""}, {99, u""}, {-1, u""}};
    for (const Case& c : cases) {
        for (const bool wide : {false, true}) {
            PushNumber(static_cast<double>(edit));
            PushNumber(c.line);
            const TextResult result = Text(wide ? Builtin_wgettextline : Builtin_gettextline);
            EXPECT_EQ(result.text, c.text) << "line " << c.line;
            EXPECT_EQ(result.wide, wide);
        }
    }
}

TEST_F(ControlCallsTest, ItemBuiltinsOnListsCombosAndOtherControls) {
    for (const char* className : {"LISTBOX", "combobox"}) {
        const HWND list = NewControl(className, "", 0, form, nullptr);
        ASSERT_NE(list, 0u) << className;
        const double handle = static_cast<double>(list);
        PushNumber(handle);
        EXPECT_EQ(Number(Builtin_getitemindex), -1) << className;
        for (const char* text : {"a", "b", "c"}) {
            PushNumber(handle); PushNumber(-1); PushValue(text, 0, nullptr); Builtin_setitem();
        }
        PushNumber(handle); PushNumber(1); PushValue("B", 0, nullptr); Builtin_setitem();
        PushNumber(handle); PushNumber(7); PushValue("never", 0, nullptr); Builtin_setitem();
        const char16_t* expected[] = {u"a", u"B", u"c"};
        for (int i = 0; i < 3; ++i) {
            PushNumber(handle); PushNumber(i);
            EXPECT_EQ(Text(Builtin_getitem).text, expected[i]) << className << " " << i;
        }
        PushNumber(handle); PushNumber(3);
        EXPECT_EQ(Text(Builtin_getitem).text, u"") << className;
        PushNumber(handle); PushNumber(-1);
        EXPECT_EQ(Text(Builtin_wgetitem).text, u"") << className;
        PushNumber(handle); PushNumber(2); PushWide(u"\u20ac"); Builtin_wsetitem();
        PushNumber(handle); PushNumber(2);
        const TextResult euro = Text(Builtin_wgetitem);
        EXPECT_EQ(euro.text, u"\u20ac");
        EXPECT_TRUE(euro.wide);
        PushNumber(handle); PushNumber(2); Builtin_setitemindex();
        PushNumber(handle);
        EXPECT_EQ(Number(Builtin_getitemindex), 2) << className;
        EXPECT_EQ(SendMessageW(list, std::string(className) == "LISTBOX" ? LB_GETCOUNT : CB_GETCOUNT, 0, 0), 3);
    }
    // Another control, and a number that is no window.
    const HWND edit = NewControl("EDIT", "text", 0, form, nullptr);
    for (const double handle : {static_cast<double>(edit), 123456.0}) {
        PushNumber(handle);
        EXPECT_EQ(Number(Builtin_getitemindex), -1);
        PushNumber(handle); PushNumber(0);
        EXPECT_EQ(Text(Builtin_getitem).text, u"");
        PushNumber(handle); PushNumber(-1); PushValue("x", 0, nullptr); Builtin_setitem();
        PushNumber(handle); PushNumber(0); Builtin_setitemindex();
    }
    EXPECT_EQ(WindowTitle(edit), u"text");
}

TEST_F(ControlCallsTest, NewfontFillsTheLogfont) {
    struct Case {
        const char* face;
        int32_t size, bold, italic, underline;
        int32_t weight;
        const char16_t* stored;
    };
    const Case cases[] = {
        {"Tahoma", 12, 1, 0, 0, 700, u"Tahoma"},
        {"Courier New", 20, 2, 1, 1, 400, u"Courier New"},
        {"A face name that is far longer than thirty-one", 9, 0, 0, 1, 400, u"A face name that is far longer "},
    };
    for (const Case& c : cases) {
        PushNumber(static_cast<double>(form));
        PushValue(c.face, 0, nullptr);
        PushNumber(c.size);
        PushNumber(c.bold);
        PushNumber(c.italic);
        PushNumber(c.underline);
        const auto font = static_cast<HFONT>(Number(Builtin_newfont));
        ASSERT_NE(font, 0u) << c.face;
        LOGFONTW description{};
        ASSERT_EQ(GetObjectW(font, sizeof description, &description), static_cast<int>(sizeof description));
        EXPECT_EQ(description.lfHeight, -c.size);
        EXPECT_EQ(description.lfWeight, c.weight);
        EXPECT_EQ(description.lfItalic, c.italic);
        EXPECT_EQ(description.lfUnderline, c.underline);
        EXPECT_EQ(description.lfCharSet, 1);
        EXPECT_EQ(std::u16string(description.lfFaceName), c.stored);
        EXPECT_EQ(description.lfFaceName[LF_FACESIZE - 1], 0);
        DeleteObject(font);
    }
}

TEST_F(ControlCallsTest, AFontStaysWhileARecordHoldsIt) {
    const HWND first = NewControl("EDIT", "", 0, form, nullptr);
    const HWND second = NewControl("STATIC", "", 0, form, nullptr);
    const uintptr_t firstDefault = FindWindowRecordByHandle(first, nullptr)->font;
    PushNumber(static_cast<double>(form)); PushValue("Tahoma", 0, nullptr);
    PushNumber(14); PushNumber(0); PushNumber(0); PushNumber(0);
    const auto font = static_cast<HFONT>(Number(Builtin_newfont));
    auto alive = [](uintptr_t object) { return GetObjectW(object, 0, nullptr) > 0; };

    PushNumber(static_cast<double>(first)); PushNumber(static_cast<double>(font)); Builtin_setfont();
    EXPECT_FALSE(alive(firstDefault)) << "the replaced font nobody else holds";
    EXPECT_EQ(SendMessageW(first, WM_GETFONT, 0, 0), static_cast<LRESULT>(font));
    // setfont(w, getfont(w)) keeps the font.
    PushNumber(static_cast<double>(first));
    const double same = Number(Builtin_getfont);
    PushNumber(static_cast<double>(first)); PushNumber(same); Builtin_setfont();
    EXPECT_TRUE(alive(font));
    PushNumber(static_cast<double>(second)); PushNumber(static_cast<double>(font)); Builtin_setfont();
    DestroyWindowByHandle(first);
    EXPECT_TRUE(alive(font)) << "the second record still holds it";
    DestroyWindowByHandle(second);
    EXPECT_FALSE(alive(font));
    PushNumber(static_cast<double>(first));
    EXPECT_EQ(Number(Builtin_getfont), 0);
}

TEST_F(ControlCallsTest, EnumwindowsListsEveryTopLevelWindow) {
    VariableRecord* list = CreateVariable(application->globalHead, "windowlist$", true);
    ASSERT_NE(list, nullptr);
    SetVariableValue(list, "a text before", 0, nullptr, 0);
    const HWND popUp = CreateWindowExW(0, kStaticClass, u"", WS_POPUP, 0, 0, 10, 10, 0, 0, 0, nullptr);
    std::vector<HWND> expected;
    EnumWindows([](HWND window, void* user) {
        static_cast<std::vector<HWND>*>(user)->push_back(window);
        return true;
    }, &expected);
    ASSERT_GE(expected.size(), 2u);
    PushValue(nullptr, 0.0, list);
    EXPECT_EQ(Number(Builtin_enumwindows), static_cast<double>(expected.size()));
    ASSERT_TRUE(list->flags & kVarList);
    std::vector<HWND> listed;
    for (ListNode* node = ListFirst(list->currentNode); node; node = node->next)
        listed.push_back(static_cast<HWND>(node->value));
    EXPECT_EQ(listed, expected);
    EXPECT_NE(std::find(listed.begin(), listed.end(), form), listed.end());
    EXPECT_NE(std::find(listed.begin(), listed.end(), popUp), listed.end());
    // Again into the same list: the old items go.
    PushValue(nullptr, 0.0, list);
    EXPECT_EQ(Number(Builtin_enumwindows), static_cast<double>(expected.size()));
    EXPECT_EQ(ListCount(list->currentNode), expected.size());
}

TEST_F(ControlCallsTest, EnumfontfamiliesGivesLogfontAndTextmetricBlocks) {
    VariableRecord* list = CreateVariable(application->globalHead, "fonts$", true);
    struct Case {
        const char* family;  // null: the number 0
        double dc;
        double count;
    };
    const Case cases[] = {{nullptr, 0, 3}, {"dejavu sans mono", 0, 1}, {"Nothing", 0, 0}, {nullptr, 4242, 0}};
    for (const Case& c : cases) {
        PushValue(nullptr, 0.0, list);
        PushNumber(c.dc);
        if (c.family) PushValue(c.family, 0, nullptr);
        else PushNumber(0);
        EXPECT_EQ(Number(Builtin_enumfontfamilies), c.count) << (c.family ? c.family : "all") << " " << c.dc;
    }
    PushValue(nullptr, 0.0, list);
    PushNumber(0);
    PushValue("DejaVu Sans Mono", 0, nullptr);
    ASSERT_EQ(Number(Builtin_enumfontfamilies), 1);
    const ListNode* node = ListFirst(list->currentNode);
    ASSERT_NE(node, nullptr);
    ASSERT_EQ(GetBlockSize(node->data), 12u);
    uint32_t words[3];
    std::memcpy(words, node->data, sizeof words);
    const auto* description = reinterpret_cast<const LOGFONTW*>(static_cast<uintptr_t>(words[0]));
    const auto* metrics = reinterpret_cast<const TEXTMETRICW*>(static_cast<uintptr_t>(words[1]));
    EXPECT_EQ(words[2], 4u);
    EXPECT_EQ(GetBlockSize(description), sizeof(LOGFONTW));
    EXPECT_EQ(std::u16string(description->lfFaceName), u"DejaVu Sans Mono");
    EXPECT_EQ(description->lfPitchAndFamily & 3, FIXED_PITCH);
    // The metrics are the renderer's for that description.
    const HFONT font = CreateFontIndirectW(description);
    const HDC dc = CreateCompatibleDC(0);
    SelectObject(dc, font);
    TEXTMETRICW own{};
    GetTextMetricsW(dc, &own);
    DeleteDC(dc);
    DeleteObject(font);
    EXPECT_GT(metrics->tmHeight, 0);
    EXPECT_EQ(metrics->tmHeight, own.tmHeight);
    EXPECT_EQ(metrics->tmAveCharWidth, own.tmAveCharWidth);
    EXPECT_EQ(metrics->tmPitchAndFamily & 1, 0) << "fixed pitch";
}

TEST_F(ControlCallsTest, TheWaitCursorNests) {
    const HCURSOR arrow = LoadCursorW(0, IDC_ARROW);
    const HCURSOR wait = LoadCursorW(0, IDC_WAIT);
    struct Case {
        std::vector<int> flags;
        HCURSOR shown;
    };
    const Case cases[] = {
        {{1}, wait},          {{1, 0}, arrow},    {{1, 1, 0}, arrow},
        {{0}, arrow},         {{0, 1, 0}, arrow}, {{1, 0, 0}, arrow},
    };
    for (const Case& c : cases) {
        SetCursor(arrow);
        for (const int flag : c.flags) {
            PushNumber(flag);
            Builtin_waitcursor();
        }
        EXPECT_EQ(GetCursor(), c.shown) << c.flags.size();
    }
    SetCursor(0);
}

TEST_F(ControlCallsTest, ShowstatuswindowSetsTheSwitch) {
    for (const int flag : {0, 1, 0, 7}) {
        PushNumber(flag);
        Builtin_showstatuswindow();
        EXPECT_EQ(IsStatusWindowEnabled(), flag != 0);
    }
    SetStatusWindowEnabled(true);
}

TEST_F(ControlCallsTest, GetclientrectWritesSixteenBytesWithTheBottomOneMore) {
    const HWND control = NewControl("STATIC", "", 0, form, nullptr, 100, 50);
    auto* rect = static_cast<int32_t*>(AllocateBlock(16));
    std::fill(rect, rect + 4, -7);
    PushNumber(static_cast<double>(control));
    PushNumber(Address(rect));
    EXPECT_EQ(Number(Builtin_getclientrect), 1);
    EXPECT_EQ((std::vector<int32_t>(rect, rect + 4)), (std::vector<int32_t>{0, 0, 100, 51}));
    std::fill(rect, rect + 4, -7);
    PushNumber(123456);
    PushNumber(Address(rect));
    EXPECT_EQ(Number(Builtin_getclientrect), 0);
    EXPECT_EQ(rect[3], -7) << "nothing written for no window";
    FreeBlock(rect);
}

// A procedure put in front of a control that does to the messages carrying
// addresses what a script procedure passing them on with inherited does: it
// hands wParam and lParam on as 32-bit words. It notes every address those
// messages carried; one that does not fit a word goes on whole, so that a
// test goes on and reports it. It can also make up answers: a length, or a
// count copied that is larger than the buffer (with the buffer filled to its
// end and no terminator).
struct WordProbe {
    struct Carried {
        UINT message;
        uintptr_t address;
        const void* block;  // the low-memory block holding the address, or null
    };
    static inline WNDPROC next = nullptr;
    static inline std::vector<Carried> carried;
    static inline UINT lengthMessage = 0;  // answered with madeUpLength
    static inline LRESULT madeUpLength = 0;
    static inline UINT overfilledMessage = 0;  // filled to the buffer's end, answered 5000

    static void Install(HWND control) {
        next = reinterpret_cast<WNDPROC>(SetWindowLongPtrW(control, GWL_WNDPROC, reinterpret_cast<intptr_t>(Procedure)));
        carried.clear();
        lengthMessage = overfilledMessage = 0;
    }
    static bool CarriesAddresses(UINT message, bool* inWParam) {
        *inWParam = message == EM_GETSEL;
        for (UINT m : {WM_SETTEXT, WM_GETTEXT, EM_GETSEL, EM_REPLACESEL, EM_GETLINE, LB_INSERTSTRING, LB_GETTEXT,
                       CB_INSERTSTRING, CB_GETLBTEXT})
            if (m == message) return true;
        return false;
    }
    static void Note(UINT message, uintptr_t address) {
        carried.push_back({message, address, GetContainingBlock(reinterpret_cast<const void*>(address))});
    }
    static LRESULT Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == lengthMessage) return madeUpLength;
        bool inWParam = false;
        if (!CarriesAddresses(message, &inWParam)) return CallWindowProcW(next, window, message, wParam, lParam);
        if (inWParam) Note(message, wParam);
        Note(message, static_cast<uintptr_t>(lParam));
        if (message == overfilledMessage) {
            // To the end of the block (LB_GETTEXT tells no size), else of wParam's units.
            auto* buffer = reinterpret_cast<char16_t*>(lParam);
            const size_t blockSize = GetBlockSize(buffer);
            const size_t units = blockSize ? blockSize / sizeof(char16_t) : message == WM_GETTEXT ? wParam : 0;
            for (size_t i = 0; i < units; ++i) buffer[i] = u'x';
            return 5000;
        }
        const bool fits = (!inWParam || wParam < kLowMemoryLimit) && static_cast<uintptr_t>(lParam) < kLowMemoryLimit;
        if (!fits) return CallWindowProcW(next, window, message, wParam, lParam);
        return CallWindowProcW(next, window, message, static_cast<uint32_t>(wParam), static_cast<uint32_t>(lParam));
    }
};

// A result cell's text as UTF-16 (8-bit texts are ASCII in these tests).
std::u16string CellText(const StackEntry* cell) {
    if (!cell->text) return {};
    if (cell->flags & kEntryWide) return reinterpret_cast<const char16_t*>(cell->text);
    return std::u16string(cell->text, cell->text + std::strlen(cell->text));
}

// Every address that the built-in's messages carried lay in a low-memory
// block and is gone once it returned (but for the result's own text).
void ExpectLowBlocksGone(const char* builtin, const void* result = nullptr) {
    ASSERT_FALSE(WordProbe::carried.empty()) << builtin << " sent no message with an address";
    for (const WordProbe::Carried& c : WordProbe::carried) {
        EXPECT_LT(c.address, kLowMemoryLimit) << builtin << " message " << c.message;
        EXPECT_NE(c.block, nullptr) << builtin << " message " << c.message << ": not in a low-memory block";
        EXPECT_TRUE(!c.block || !IsLiveBlock(c.block) || c.block == result)
            << builtin << " message " << c.message << ": block left";
    }
    WordProbe::carried.clear();
}

TEST_F(ControlCallsTest, EditMessagesCarryLowMemoryThatScriptWordsReach) {
    const HWND edit = NewControl("EDIT", "hello world", ES_MULTILINE | ES_AUTOHSCROLL, form, nullptr, 200, 100);
    ASSERT_NE(edit, 0u);
    WordProbe::Install(edit);
    const double handle = static_cast<double>(edit);

    PushNumber(handle); PushNumber(6); Builtin_setselstart();
    PushNumber(handle); PushNumber(5); Builtin_setsellength();
    ExpectLowBlocksGone("setsellength");
    PushNumber(handle);
    EXPECT_EQ(Number(Builtin_getselstart), 6);
    ExpectLowBlocksGone("getselstart");
    PushNumber(handle);
    EXPECT_EQ(Number(Builtin_getsellength), 5);
    ExpectLowBlocksGone("getsellength");
    for (void (*handler)() : {Builtin_getseltext, Builtin_wgetseltext}) {
        PushNumber(handle);
        handler();
        const StackEntry* cell = PopStackEntry();
        EXPECT_EQ(CellText(cell), u"world");
        ExpectLowBlocksGone("getseltext", cell->text);
    }
    PushNumber(handle); PushValue("there", 0, nullptr); Builtin_setseltext();
    ExpectLowBlocksGone("setseltext");
    PushNumber(handle); PushWide(u"!"); Builtin_wsetseltext();
    ExpectLowBlocksGone("wsetseltext");
    for (void (*handler)() : {Builtin_gettext, Builtin_wgettext}) {
        PushNumber(handle);
        handler();
        const StackEntry* cell = PopStackEntry();
        EXPECT_EQ(CellText(cell), u"hello there!");
        ExpectLowBlocksGone("gettext", cell->text);
    }
    PushNumber(handle); PushValue("one\r\ntwo", 0, nullptr); Builtin_settext();
    ExpectLowBlocksGone("settext");
    EXPECT_EQ(WindowTitle(edit), u"one\r\ntwo");
    for (void (*handler)() : {Builtin_gettextline, Builtin_wgettextline}) {
        PushNumber(handle); PushNumber(1);
        handler();
        const StackEntry* cell = PopStackEntry();
        EXPECT_EQ(CellText(cell), u"two");
        ExpectLowBlocksGone("gettextline", cell->text);
    }
}

TEST_F(ControlCallsTest, ItemMessagesCarryLowMemoryThatScriptWordsReach) {
    for (const char* className : {"LISTBOX", "COMBOBOX"}) {
        const HWND list = NewControl(className, "", 0, form, nullptr);
        ASSERT_NE(list, 0u) << className;
        WordProbe::Install(list);
        const double handle = static_cast<double>(list);
        PushNumber(handle); PushNumber(-1); PushValue("first", 0, nullptr); Builtin_setitem();
        ExpectLowBlocksGone("setitem");
        PushNumber(handle); PushNumber(-1); PushWide(u"second"); Builtin_wsetitem();
        ExpectLowBlocksGone("wsetitem");
        const char16_t* expected[] = {u"first", u"second"};
        for (int i = 0; i < 2; ++i) {
            for (void (*handler)() : {Builtin_getitem, Builtin_wgetitem}) {
                PushNumber(handle); PushNumber(i);
                handler();
                const StackEntry* cell = PopStackEntry();
                EXPECT_EQ(CellText(cell), expected[i]) << className << " " << i;
                ExpectLowBlocksGone("getitem", cell->text);
            }
        }
    }
}

// A control may answer any count: the text ends where the buffer does, and a
// length past anything the allocator serves gives an empty text.
TEST_F(ControlCallsTest, MadeUpAnswersStayInsideTheBuffer) {
    const HWND edit = NewControl("EDIT", "four", ES_AUTOHSCROLL, form, nullptr);
    const HWND list = NewControl("LISTBOX", "", 0, form, nullptr);
    ASSERT_NE(edit, 0u);
    ASSERT_NE(list, 0u);
    SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(u"abc"));
    struct Case {
        HWND control;
        void (*handler)();
        bool indexed;
        UINT lengthMessage;
        LRESULT length;
        UINT overfilled;
        const char16_t* text;
    };
    const Case cases[] = {
        {edit, Builtin_gettext, false, 0, 0, WM_GETTEXT, u"xxxx"},
        {edit, Builtin_gettext, false, WM_GETTEXTLENGTH, 2, WM_GETTEXT, u"xx"},
        {edit, Builtin_gettext, false, WM_GETTEXTLENGTH, 0x7FFFFFFF, 0, u""},
        {edit, Builtin_gettext, false, WM_GETTEXTLENGTH, LRESULT{1} << 40, 0, u""},
        {list, Builtin_getitem, true, 0, 0, LB_GETTEXT, u"xxx"},
        {list, Builtin_getitem, true, LB_GETTEXTLEN, 0x7FFFFFFF, 0, u""},
    };
    for (const Case& c : cases) {
        WordProbe::Install(c.control);
        WordProbe::lengthMessage = c.lengthMessage;
        WordProbe::madeUpLength = c.length;
        WordProbe::overfilledMessage = c.overfilled;
        PushNumber(static_cast<double>(c.control));
        if (c.indexed) PushNumber(0);
        c.handler();
        const StackEntry* cell = PopStackEntry();
        EXPECT_EQ(CellText(cell), c.text) << c.length;
        if (c.overfilled) ExpectLowBlocksGone("a text read", cell->text);
        SetWindowLongPtrW(c.control, GWL_WNDPROC, reinterpret_cast<intptr_t>(WordProbe::next));
    }
}

TEST_F(ControlCallsTest, NoWindowGivesTheFailureValues) {
    const double none = 987654;
    PushNumber(none);
    EXPECT_EQ(Number(Builtin_getselstart), 0);
    PushNumber(none);
    EXPECT_EQ(Number(Builtin_getsellength), 0);
    for (void (*handler)() : {Builtin_getseltext, Builtin_wgetseltext, Builtin_gettext, Builtin_wgettext}) {
        PushNumber(none);
        EXPECT_EQ(Text(handler).text, u"");
    }
    PushNumber(none); PushNumber(0);
    EXPECT_EQ(Text(Builtin_gettextline).text, u"");
    PushNumber(none);
    EXPECT_EQ(Number(Builtin_getfont), 0);
    PushNumber(none); PushValue("t", 0, nullptr); Builtin_settext();
    PushNumber(none); PushValue("t", 0, nullptr); Builtin_setseltext();
    PushNumber(none); PushNumber(3); Builtin_setselstart();
    PushNumber(none); PushNumber(3); Builtin_setsellength();
    PushNumber(none); PushNumber(0); Builtin_setfont();
    EXPECT_EQ(CurrentContext->stackTop->below, nullptr) << "the setters leave nothing";
}

}  // namespace
}  // namespace qob
