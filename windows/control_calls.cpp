// windows/control_calls.cpp
// Control, font and window-list built-ins: each pops its arguments, sends
// the control its messages and pushes the result.

#include "windows/control_calls.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "builtins/lists/container_items.h"
#include "builtins/lists/list_builtins.h"
#include "builtins/memory/memory_arguments.h"
#include "builtins/operators/operator_values.h"
#include "builtins/texts/text_arguments.h"
#include "compiler/progress_window.h"
#include "platform/controls/standard_controls.h"
#include "platform/cursor.h"
#include "platform/gdi.h"
#include "platform/memory.h"
#include "platform/text_codec.h"
#include "platform/window_manager.h"
#include "runtime/data/number_text.h"
#include "runtime/memory/memory_links.h"
#include "runtime/memory/value_blocks.h"
#include "runtime/values/list_values.h"
#include "runtime/vm/program_context.h"
#include "runtime/vm/value_stack.h"
#include "windows/script_arguments.h"
#include "windows/window_records.h"

namespace qob {
namespace {

using namespace platform;

int32_t PopInteger32() {
    return static_cast<int32_t>(static_cast<uint32_t>(TruncToInt64(PopNumber())));
}

// A window argument: the handle when it names a live window, else 0.
HWND PopWindow() {
    const auto window = static_cast<HWND>(static_cast<uint32_t>(PopInteger32()));
    return IsWindow(window) ? window : 0;
}

LRESULT Send(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return SendMessageW(window, message, wParam, lParam);
}

// Pushes a UTF-16 text as a temporary: as it is, or converted to 8-bit.
void PushText(std::u16string_view text, bool wide) {
    if (wide) {
        PushTextResult(CopyText(TextSpan{text.data(), text.size()}, true), true);
        return;
    }
    const std::string narrow =
        EncodeAnsi(std::span<const uint16_t>(reinterpret_cast<const uint16_t*>(text.data()), text.size()));
    PushTextResult(CopyText(TextSpan{narrow.data(), narrow.size()}, false), false);
}

// A text argument in UTF-16 (an 8-bit text or a number converted).
std::u16string PopWideText() {
    StackEntry cell = TakeOperand();
    const TextSpan span = ArgumentText(cell, true);
    std::u16string text(static_cast<const char16_t*>(span.units), span.length);
    ReleaseOperand(cell);
    return text;
}

// What a message points to (a text it brings, a buffer or words it fills)
// lies in a block of the low-memory allocator: a script procedure that gets
// the message (a script class, or a control procedure passing it on with
// inherited) sees the address as a 32-bit word. The block goes when the
// message is answered, on every path.
struct BlockDeleter {
    void operator()(void* block) const { FreeBlock(block); }
};
template <typename T>
using MessageBlock = std::unique_ptr<T[], BlockDeleter>;

// A zeroed block of count items; null when no block is left or the count
// is past anything the allocator serves (a length a control made up).
template <typename T>
MessageBlock<T> NewMessageBlock(size_t count) {
    if (count > kMaxBlockSize / sizeof(T)) return nullptr;
    return MessageBlock<T>(static_cast<T*>(AllocateZeroedBlock(count * sizeof(T))));
}

// A text for a message to bring, with its terminator; null when no block is left.
MessageBlock<char16_t> MessageText(const std::u16string& text) { return MessageBlock<char16_t>(CopyWideToBlock(text)); }

LPARAM AddressOf(const void* block) { return reinterpret_cast<LPARAM>(block); }

// The text a message left in a buffer of capacity units: up to its first
// terminator, at most capacity - 1 units. The answer does not count: a
// control procedure that passes the message on with inherited answers 1, a
// script class that fills the buffer itself answers 0, and a procedure may
// answer more than the buffer holds.
std::u16string FilledText(const char16_t* buffer, size_t capacity) {
    if (!buffer || capacity == 0) return {};
    size_t length = 0;
    while (length < capacity - 1 && buffer[length] != 0) ++length;
    return std::u16string(buffer, length);
}

// Sends a message that fills a buffer of capacity units (wParam as given)
// and gives the text it left.
std::u16string TextOfMessage(HWND window, UINT message, WPARAM wParam, size_t capacity) {
    MessageBlock<char16_t> buffer = NewMessageBlock<char16_t>(capacity);
    if (!buffer) return {};
    Send(window, message, wParam, AddressOf(buffer.get()));
    return FilledText(buffer.get(), capacity);
}

std::pair<uint32_t, uint32_t> Selection(HWND edit) {
    MessageBlock<uint32_t> words = NewMessageBlock<uint32_t>(2);
    if (!words) return {0, 0};
    Send(edit, EM_GETSEL, static_cast<WPARAM>(AddressOf(&words[0])), AddressOf(&words[1]));
    return {words[0], words[1]};
}

std::u16string WholeText(HWND window) {
    const LRESULT length = Send(window, WM_GETTEXTLENGTH, 0, 0);
    if (length <= 0) return {};
    const size_t capacity = static_cast<size_t>(length) + 1;
    return TextOfMessage(window, WM_GETTEXT, static_cast<WPARAM>(capacity), capacity);
}

void GetSelectedText(bool wide) {
    const HWND edit = PopWindow();
    if (!edit) return PushText(u"", wide);
    const auto [start, end] = Selection(edit);
    const std::u16string text = WholeText(edit);
    const size_t from = std::min<size_t>(start, text.size());
    const size_t to = std::clamp<size_t>(end, from, text.size());
    PushText(std::u16string_view(text).substr(from, to - from), wide);
}

void SetSelectedText() {
    const std::u16string text = PopWideText();
    const HWND edit = PopWindow();
    if (!edit) return;
    if (const MessageBlock<char16_t> copy = MessageText(text)) Send(edit, EM_REPLACESEL, 1, AddressOf(copy.get()));
}

void GetWindowText(bool wide) {
    const HWND window = PopWindow();
    PushText(window ? WholeText(window) : std::u16string(), wide);
}

void SetWindowText() {
    const std::u16string text = PopWideText();
    const HWND window = PopWindow();
    if (!window) return;
    if (const MessageBlock<char16_t> copy = MessageText(text)) Send(window, WM_SETTEXT, 0, AddressOf(copy.get()));
}

// EM_GETLINE of a line: the buffer sized from the line's own length (found
// by its first character's index).
void GetTextLine(bool wide) {
    const int32_t line = PopInteger32();
    const HWND edit = PopWindow();
    if (!edit || line < 0) return PushText(u"", wide);
    const LRESULT index = Send(edit, EM_LINEINDEX, static_cast<WPARAM>(static_cast<uint32_t>(line)), 0);
    if (index < 0) return PushText(u"", wide);
    const LRESULT length = std::clamp<LRESULT>(Send(edit, EM_LINELENGTH, static_cast<WPARAM>(index), 0), 0, 0xFFFE);
    const size_t capacity = static_cast<size_t>(length) + 1;
    MessageBlock<char16_t> buffer = NewMessageBlock<char16_t>(capacity);
    if (!buffer) return PushText(u"", wide);
    buffer[0] = static_cast<char16_t>(capacity);
    // The line comes without a terminator (the zeroed tail ends it); an
    // answer of 0 copied nothing, and the first unit still holds the size.
    const LRESULT copied = Send(edit, EM_GETLINE, static_cast<WPARAM>(static_cast<uint32_t>(line)), AddressOf(buffer.get()));
    PushText(copied > 0 ? FilledText(buffer.get(), capacity) : std::u16string(), wide);
}

// --- lists ------------------------------------------------------------------------------

enum class ListKind { Other, ListBox, ComboBox };

ListKind KindOf(HWND control) {
    char16_t name[256] = {};
    if (!control || GetClassNameW(control, name, 256) <= 0) return ListKind::Other;
    std::u16string upper(name);
    for (char16_t& c : upper)
        if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
    if (upper == u"LISTBOX") return ListKind::ListBox;
    if (upper == u"COMBOBOX") return ListKind::ComboBox;
    return ListKind::Other;
}

void GetItem(bool wide) {
    const int32_t index = PopInteger32();
    const HWND control = PopWindow();
    const ListKind kind = KindOf(control);
    if (kind == ListKind::Other) return PushText(u"", wide);
    const bool list = kind == ListKind::ListBox;
    const auto item = static_cast<WPARAM>(static_cast<uint32_t>(index));
    const LRESULT length = Send(control, list ? LB_GETTEXTLEN : CB_GETLBTEXTLEN, item, 0);
    if (length < 0) return PushText(u"", wide);
    const size_t capacity = static_cast<size_t>(length) + 1;
    PushText(TextOfMessage(control, list ? LB_GETTEXT : CB_GETLBTEXT, item, capacity), wide);
}

void SetItem() {
    const std::u16string text = PopWideText();
    const int32_t index = PopInteger32();
    const HWND control = PopWindow();
    const ListKind kind = KindOf(control);
    if (kind == ListKind::Other) return;
    const bool list = kind == ListKind::ListBox;
    const auto item = static_cast<WPARAM>(static_cast<uint32_t>(index));
    const MessageBlock<char16_t> copy = MessageText(text);
    if (!copy) return;
    Send(control, list ? LB_DELETESTRING : CB_DELETESTRING, item, 0);
    Send(control, list ? LB_INSERTSTRING : CB_INSERTSTRING, item, AddressOf(copy.get()));
}

// --- font families --------------------------------------------------------------------

constexpr uint32_t kTrueTypeFontType = 4;

uint8_t PitchAndFamilyOf(std::u16string_view face) {
    auto combine = [](uint8_t pitch, uint8_t family) { return static_cast<uint8_t>(pitch | family); };
    if (face.ends_with(u"Mono")) return combine(FIXED_PITCH, FF_MODERN);
    if (face.ends_with(u"Serif")) return combine(VARIABLE_PITCH, FF_ROMAN);
    return combine(VARIABLE_PITCH, FF_SWISS);
}

bool SameFace(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        auto fold = [](char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - u'a' + u'A') : c; };
        if (fold(a[i]) != fold(b[i])) return false;
    }
    return true;
}

// The element of one family: a 12-byte block {LOGFONTW*, TEXTMETRICW*,
// type} whose two copies the element owns through memory links. The
// LOGFONTW describes the family's 12-pixel font; the TEXTMETRICW is what
// the renderer measures for it.
ListNode* AppendFontFamily(ListNode* last, std::u16string_view face) {
    LOGFONTW description{};
    description.lfHeight = -12;
    description.lfWeight = FW_NORMAL;
    description.lfPitchAndFamily = PitchAndFamilyOf(face);
    std::copy_n(face.data(), std::min<size_t>(face.size(), LF_FACESIZE - 1), description.lfFaceName);
    const HFONT font = CreateFontIndirectW(&description);
    TEXTMETRICW metrics{};
    if (const HDC dc = CreateCompatibleDC(0)) {
        SelectObject(dc, font);
        GetTextMetricsW(dc, &metrics);
        DeleteDC(dc);
    }
    DeleteObject(font);

    ListNode* node = ListAppend(last);
    if (!node) return nullptr;
    auto* block = static_cast<uint32_t*>(AllocateValueBlock(12));
    auto* extension = static_cast<ListStructExtension*>(AllocateValueBlock(sizeof(ListStructExtension)));
    char* logFont = CopyValueBlock(&description, sizeof description);
    char* textMetric = CopyValueBlock(&metrics, sizeof metrics);
    if (!block || !extension || !logFont || !textMetric) {
        FreeValueBlock(block);
        FreeValueBlock(extension);
        FreeValueBlock(logFont);
        FreeValueBlock(textMetric);
        StampListNode(node);
        return node;
    }
    block[0] = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(logFont));
    block[1] = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(textMetric));
    block[2] = kTrueTypeFontType;
    node->data = reinterpret_cast<char*>(block);
    node->flags = kVarOwnsData;
    node->structExtension = extension;
    RegisterValueBlock(logFont);
    RegisterValueBlock(textMetric);
    PushMemoryLink(&extension->links, logFont, &block[0], -4);
    PushMemoryLink(&extension->links, textMetric, &block[1], -4);
    StampListNode(node);
    return node;
}

// The wait cursor is up: the cursor it replaced, to be shown again.
HCURSOR gReplacedCursor = 0;

}  // namespace

void Builtin_getselstart() {
    const HWND edit = PopWindow();
    PushNumber(edit ? static_cast<double>(Selection(edit).first) : 0.0);
}

void Builtin_getsellength() {
    const HWND edit = PopWindow();
    if (!edit) return PushNumber(0.0);
    const auto [start, end] = Selection(edit);
    PushNumber(static_cast<double>(static_cast<int64_t>(end) - static_cast<int64_t>(start)));
}

void Builtin_setselstart() {
    const int32_t position = PopInteger32();
    const HWND edit = PopWindow();
    if (edit) Send(edit, EM_SETSEL, static_cast<WPARAM>(static_cast<uint32_t>(position)), position);
}

void Builtin_setsellength() {
    const int32_t length = PopInteger32();
    const HWND edit = PopWindow();
    if (!edit) return;
    const uint32_t start = Selection(edit).first;
    Send(edit, EM_SETSEL, start, static_cast<LPARAM>(start + (static_cast<uint32_t>(length) & 0xFFFF)));
}

void Builtin_getseltext() { GetSelectedText(false); }
void Builtin_wgetseltext() { GetSelectedText(true); }
void Builtin_setseltext() { SetSelectedText(); }
void Builtin_wsetseltext() { SetSelectedText(); }
void Builtin_gettext() { GetWindowText(false); }
void Builtin_wgettext() { GetWindowText(true); }
void Builtin_settext() { SetWindowText(); }
void Builtin_wsettext() { SetWindowText(); }
void Builtin_gettextline() { GetTextLine(false); }
void Builtin_wgettextline() { GetTextLine(true); }

void Builtin_getitemindex() {
    const HWND control = PopWindow();
    switch (KindOf(control)) {
    case ListKind::ListBox: return PushNumber(static_cast<double>(Send(control, LB_GETCURSEL, 0, 0)));
    case ListKind::ComboBox: return PushNumber(static_cast<double>(Send(control, CB_GETCURSEL, 0, 0)));
    case ListKind::Other: return PushNumber(-1.0);
    }
}

void Builtin_setitemindex() {
    const int32_t index = PopInteger32();
    const HWND control = PopWindow();
    const auto item = static_cast<WPARAM>(static_cast<uint32_t>(index));
    switch (KindOf(control)) {
    case ListKind::ListBox: Send(control, LB_SETCURSEL, item, 0); break;
    case ListKind::ComboBox: Send(control, CB_SETCURSEL, item, 0); break;
    case ListKind::Other: break;
    }
}

void Builtin_getitem() { GetItem(false); }
void Builtin_wgetitem() { GetItem(true); }
void Builtin_setitem() { SetItem(); }
void Builtin_wsetitem() { SetItem(); }

void Builtin_newfont() {
    const int32_t underline = PopInteger32();
    const int32_t italic = PopInteger32();
    const int32_t bold = PopInteger32();
    const int32_t size = PopInteger32();
    const std::u16string face = PopWideText();
    (void)PopInteger32();  // the window: its DC was only taken and given back
    LOGFONTW description{};
    description.lfHeight = -size;
    description.lfWeight = bold == 1 ? FW_BOLD : FW_NORMAL;
    description.lfItalic = static_cast<uint8_t>(italic);
    description.lfUnderline = static_cast<uint8_t>(underline);
    description.lfCharSet = 1;
    // The face field holds 31 units and a terminator.
    std::copy_n(face.data(), std::min<size_t>(face.size(), LF_FACESIZE - 1), description.lfFaceName);
    PushNumber(static_cast<double>(CreateFontIndirectW(&description)));
}

void Builtin_setfont() {
    const auto font = static_cast<HFONT>(static_cast<uint32_t>(PopInteger32()));
    const HWND window = PopWindow();
    if (!window) return;
    if (WindowRecord* record = FindWindowRecordByHandle(window, nullptr)) {
        const uintptr_t previous = record->font;
        record->font = font;
        if (previous && previous != font && !FontHeldByAnotherRecord(record, previous)) DeleteObject(previous);
    }
    Send(window, WM_SETFONT, static_cast<WPARAM>(font), 1);
}

void Builtin_getfont() {
    const HWND window = PopWindow();
    const WindowRecord* record = window ? FindWindowRecordByHandle(window, nullptr) : nullptr;
    PushNumber(record ? static_cast<double>(record->font) : 0.0);
}

void Builtin_enumwindows() {
    StackEntry listCell = TakeOperand();
    struct Collect {
        std::vector<HWND> windows;
    } collect;
    EnumWindows([](HWND window, void* user) {
        static_cast<Collect*>(user)->windows.push_back(window);
        return true;
    }, &collect);
    // The items are made before the list is released (the list's own items
    // may be what a program passed in).
    ListNode* chain = nullptr;
    for (HWND window : collect.windows)
        if (ListNode* node = AppendNumberItem(chain, static_cast<double>(window))) chain = node;
    VariableRecord* list = ListArgument(listCell);
    int64_t count = 0;
    if (list) count = RebuildList(list, chain);
    else ListFree(chain, true);
    ReleaseOperand(listCell);
    PushNumber(static_cast<double>(count));
}

void Builtin_enumfontfamilies() {
    StackEntry familyCell = TakeOperand();
    const auto dc = static_cast<HDC>(static_cast<uint32_t>(PopInteger32()));
    StackEntry listCell = TakeOperand();
    // A text names one family; the number 0 lists them all.
    std::u16string family;
    const bool all = !IsText(familyCell) && OperandNumber(familyCell) == 0.0;
    if (!all) {
        const TextSpan span = ArgumentText(familyCell, true);
        family.assign(static_cast<const char16_t*>(span.units), span.length);
    }
    int64_t count = 0;
    // The screen (0) or any DC of the GDI.
    if (dc == 0 || GetDeviceCaps(dc, BITSPIXEL) != 0) {
        ListNode* chain = nullptr;
        for (const char16_t* face : kFontFamilies)
            if (all || SameFace(face, family))
                if (ListNode* node = AppendFontFamily(chain, face)) chain = node;
        VariableRecord* list = ListArgument(listCell);
        if (list) count = RebuildList(list, chain);
        else ListFree(chain, true);
    }
    ReleaseOperand(familyCell);
    ReleaseOperand(listCell);
    PushNumber(static_cast<double>(count));
}

void Builtin_showstatuswindow() {
    SetStatusWindowEnabled(PopInteger32() != 0);
}

void Builtin_waitcursor() {
    const bool show = PopInteger32() != 0;
    const HCURSOR wait = LoadCursorW(0, IDC_WAIT);
    const bool up = GetCursor() == wait;
    if (show && !up) gReplacedCursor = SetCursor(wait);
    if (!show && up) SetCursor(gReplacedCursor);
}

void Builtin_getclientrect() {
    const uintptr_t address = PopAddress();
    const HWND window = PopWindow();
    RECT rect{};
    if (!window || !GetClientRect(window, &rect)) return PushNumber(0.0);
    // The bottom is one more than the client's: so the device answered.
    const int32_t words[4] = {rect.left, rect.top, rect.right, rect.bottom + 1};
    if (CheckBlockAccess(address, sizeof words)) std::memcpy(AddressPointer(address), words, sizeof words);
    PushNumber(1.0);
}

}  // namespace qob
