// windows/menus.cpp
// The menu built-ins over the platform's menus, command bar and accelerator
// tables.

#include "windows/menus.h"

#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "builtins/lists/list_builtins.h"
#include "platform/controls/accelerators.h"
#include "platform/controls/command_bar.h"
#include "platform/controls/menus.h"
#include "platform/memory.h"
#include "platform/shell.h"
#include "platform/text_codec.h"
#include "runtime/data/number_text.h"
#include "runtime/memory/allocation_tracking.h"
#include "runtime/values/list_values.h"
#include "runtime/values/variable_store.h"
#include "runtime/vm/program_context.h"
#include "runtime/vm/runtime_error.h"
#include "runtime/vm/value_stack.h"
#include "windows/script_arguments.h"
#include "windows/window_records.h"

namespace qob {

namespace {

using namespace platform;

constexpr uint8_t kDropDownStyle = 0x88;
constexpr uint8_t kImageButtonStyle = 0x80;
constexpr uint8_t kNoImageButtonStyle = 0x81;
constexpr uint8_t kStyleAlways = 0x10;
// The size of menucaption's text buffer, in characters.
constexpr UINT kCaptionBufferSize = 1024;

uintptr_t PopHandle() { return static_cast<uint32_t>(TruncToInt64(PopNumber())); }
int32_t PopWhole() { return static_cast<int32_t>(TruncToInt64(PopNumber())); }

std::u16string PopWideText() { return WideFromAnsi(StackEntryString(PopStackEntry())); }

void PushTrackedText(const std::string& text) {
    auto* block = static_cast<char*>(AllocateBlock(text.size() + 1));
    if (!block) {
        PushValue("", 0, nullptr);
        return;
    }
    std::memcpy(block, text.c_str(), text.size() + 1);
    TrackAllocation(CurrentContext, block, 0, kTrackedBlock);
    PushValue(block, 0, nullptr);
}

WindowRecord* RecordOf(uintptr_t window) { return window ? FindWindowRecordByHandle(window, nullptr) : nullptr; }

TBBUTTON BarButton(int32_t image, int32_t command, uint8_t style, uintptr_t data, intptr_t string) {
    TBBUTTON button{};
    button.iBitmap = image;
    button.idCommand = command;
    button.fsState = TBSTATE_ENABLED;
    button.fsStyle = static_cast<uint8_t>(style | kStyleAlways);
    button.dwData = data;
    button.iString = string;
    return button;
}

// A text button (a drop-down one with the menu as its data). A string the
// bar refuses is reported; the button is added without it.
void AddMenuBarString(HWND bar, uint8_t style, int32_t command, uintptr_t data, const std::u16string& caption) {
    std::u16string strings = caption;
    strings.push_back(u'\0');  // the list ends with an empty text
    const LRESULT index = SendMessageW(bar, TB_ADDSTRINGW, 0, reinterpret_cast<LPARAM>(strings.c_str()));
    if (index == -1) {
        const std::string message =
            "Could not add menu string '" + EncodeAnsi(std::span(reinterpret_cast<const uint16_t*>(caption.data()),
                                                                 caption.size())) + "'";
        RaiseRuntimeError(message.c_str(), 0);
    }
    const TBBUTTON button = BarButton(I_IMAGENONE, command, style, data, index);
    SendMessageW(bar, TB_ADDBUTTONSW, 1, reinterpret_cast<LPARAM>(&button));
    CommandBarAutoSize(bar);
}

// An image button: the bitmap (0: the standard images) is added to the bar,
// and the image index counts from the bitmap's first image there. A bitmap
// the bar refuses is reported; the button is added without an image.
void AddMenuBarButton(HWND bar, uint8_t style, int32_t command, uintptr_t bitmap, int32_t image) {
    const TBADDBITMAP source = bitmap ? TBADDBITMAP{0, bitmap} : TBADDBITMAP{HINST_COMMCTRL, IDB_STD_SMALL_COLOR};
    const LRESULT first = SendMessageW(bar, TB_ADDBITMAP, 0, reinterpret_cast<LPARAM>(&source));
    if (first == -1) RaiseRuntimeError("Could not add menu button", 0);
    int32_t index = image;
    if (first == -1) index = I_IMAGENONE;
    else if (image >= 0) index = static_cast<int32_t>(first) + image;
    const TBBUTTON button = BarButton(index, command, style, 0, -1);
    SendMessageW(bar, TB_ADDBUTTONSW, 1, reinterpret_cast<LPARAM>(&button));
    CommandBarAutoSize(bar);
}

// Appends (position -1) or inserts before the item with the command id.
void PlaceItem(HMENU menu, int32_t position, UINT flags, uintptr_t idOrSubmenu, const std::u16string& caption) {
    if (position == -1) (void)AppendMenuW(menu, flags, idOrSubmenu, caption.c_str());
    else (void)InsertMenuW(menu, static_cast<UINT>(position), flags, idOrSubmenu, caption.c_str());
}

bool IsTextNode(const ListNode* node) {
    return node->data && !(node->flags & (kVarStructure | kVarMatrix | kVarObject));
}

bool Contains(std::string_view text, std::string_view word) { return text.find(word) != std::string_view::npos; }

// A key text's entry: its last character before the case change, the text
// lower-cased in the node, the flags from its words. False for an empty text.
bool ReadKeyText(VariableRecord* list, ListNode* node, AcceleratorEntry* entry) {
    const bool wide = (node->flags & kVarWideText) != 0;
    std::u16string units;
    if (wide) {
        const auto* text = reinterpret_cast<const char16_t*>(node->data);
        units = text;
    } else {
        units = WideFromAnsi(node->data);
    }
    if (units.empty()) return false;
    entry->key = static_cast<uint16_t>(units.back());
    std::string lowered;
    for (char16_t& unit : units)
        if (unit >= u'A' && unit <= u'Z') unit = static_cast<char16_t>(unit - u'A' + u'a');
    if (wide) {
        std::memcpy(node->data, units.data(), units.size() * sizeof(char16_t));
    } else {
        for (char* c = node->data; *c; ++c)
            if (*c >= 'A' && *c <= 'Z') *c = static_cast<char>(*c - 'A' + 'a');
    }
    lowered = EncodeAnsi(std::span(reinterpret_cast<const uint16_t*>(units.data()), units.size()));
    StampListNode(node);
    if (list->currentNode == node) LoadListElement(list);
    entry->flags = 0;
    if (Contains(lowered, "alt")) entry->flags = FALT;
    if (Contains(lowered, "ctrl")) entry->flags |= FCONTROL;
    if (Contains(lowered, "shift")) entry->flags |= FSHIFT;
    return true;
}

}  // namespace

int BuildAcceleratorEntries(VariableRecord* list, AcceleratorEntry* entries, int capacity) {
    if (!HasCurrentItem(list)) return 0;
    int count = 0;
    bool keyPosition = true;
    bool haveKey = false;
    AcceleratorEntry pending{};
    for (ListNode* node = ListFirst(list->currentNode); node; node = node->next, keyPosition = !keyPosition) {
        if (keyPosition) {
            haveKey = IsTextNode(node) && ReadKeyText(list, node, &pending);
            continue;
        }
        if (!haveKey || node->data) continue;
        pending.command = static_cast<uint16_t>(TruncToInt64(node->value));
        if (count < capacity) entries[count++] = pending;
        haveKey = false;
    }
    return count;
}

void Builtin_newmenu() {
    const int32_t command = PopWhole();
    const std::u16string caption = PopWideText();
    WindowRecord* record = RecordOf(PopHandle());
    if (!record || !record->menuBar) {
        PushNumber(0);
        return;
    }
    const HMENU menu = CreatePopupMenu();
    (void)SendMessageW(record->menuBar, SHCMBM_GETMENU, 0, 0);
    AddMenuBarString(record->menuBar, kDropDownStyle, command, menu, caption);
    PushNumber(static_cast<double>(menu));
}

void Builtin_newbutton() {
    const int32_t command = PopWhole();
    const int32_t image = PopWhole();
    const uintptr_t bitmap = PopHandle();
    const WindowRecord* record = RecordOf(PopHandle());
    if (!record || !record->menuBar) return;
    if (image == -1) AddMenuBarButton(record->menuBar, kNoImageButtonStyle, command, bitmap, -1);
    else AddMenuBarButton(record->menuBar, kImageButtonStyle, command, bitmap, image);
}

void Builtin_newsubmenu() {
    (void)PopStackEntry();
    const std::u16string caption = PopWideText();
    const int32_t position = PopWhole();
    const HMENU menu = PopHandle();
    const HMENU submenu = CreatePopupMenu();
    PlaceItem(menu, position, MF_POPUP, submenu, caption);
    PushNumber(static_cast<double>(submenu));
}

void Builtin_newmenuitem() {
    const int32_t command = PopWhole();
    const std::u16string caption = PopWideText();
    const int32_t position = PopWhole();
    const HMENU menu = PopHandle();
    const UINT flags = caption == u"-" ? MF_SEPARATOR : MF_STRING;
    PlaceItem(menu, position, flags, static_cast<uint32_t>(command), caption);
    PushNumber(static_cast<double>(menu));
}

void Builtin_menucaption() {
    const auto command = static_cast<UINT>(PopWhole());
    const HMENU menu = PopHandle();
    // Zeroed, so that nothing unwritten is ever read as text.
    std::array<char16_t, kCaptionBufferSize> buffer{};
    MENUITEMINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = MIIM_STRING;
    info.dwTypeData = buffer.data();
    info.cch = kCaptionBufferSize;
    if (!GetMenuItemInfoW(menu, command, false, &info)) {
        PushTrackedText("");
        return;
    }
    const std::u16string_view text(buffer.data());
    PushTrackedText(EncodeAnsi(std::span(reinterpret_cast<const uint16_t*>(text.data()), text.size())));
}

void Builtin_mainmenu() {
    const WindowRecord* record = RecordOf(PopHandle());
    PushNumber(record ? static_cast<double>(record->menuBar) : 0.0);
}

void Builtin_newmainmenu() {
    const uintptr_t window = PopHandle();
    WindowRecord* record = RecordOf(window);
    if (!record) return;
    const HWND bar = CreateMenuBar(window);
    if (!bar) return;
    ShowMenuBar(bar, true);
    // The earlier bar would stay on the screen over the new one with its
    // buttons still working; its menus stay, programs may hold them.
    if (record->menuBar && record->menuBar != bar) DestroyWindow(record->menuBar);
    record->menuBar = bar;
}

void Builtin_createacceltable() {
    VariableRecord* list = ListArgument(*PopStackEntry());
    WindowRecord* record = RecordOf(PopHandle());
    if (!record || !list) return;
    std::array<AcceleratorEntry, kMaxAcceleratorEntries> entries{};
    const int count = BuildAcceleratorEntries(list, entries.data(), kMaxAcceleratorEntries);
    std::array<ACCEL, kMaxAcceleratorEntries> table{};
    for (int i = 0; i < count; ++i) {
        const AcceleratorEntry& entry = entries[static_cast<size_t>(i)];
        table[static_cast<size_t>(i)] = ACCEL{entry.flags, entry.key, entry.command};
    }
    const HACCEL accelerators = CreateAcceleratorTableW(table.data(), count);
    // Only the record holds its table: the one replaced goes now.
    if (record->accelerators) DestroyAcceleratorTable(record->accelerators);
    record->accelerators = accelerators;
}

}  // namespace qob
