// platform/controls/listbox.cpp
// The LISTBOX control: items with a single selection, a tap selecting and
// (with LBS_NOTIFY) notifying, arrows moving the selection, and the list
// scrolled so that the selection stays in view.

#include <algorithm>

#include "platform/controls/control_support.h"
#include "platform/controls/list_model.h"
#include "platform/controls/standard_controls.h"

namespace qob::platform {

namespace controls {

void PaintListItems(HDC dc, const ListModel& model, size_t top, const RECT& client, HBRUSH brush, HFONT font,
                    int32_t itemHeight) {
    FillRect(dc, &client, brush);
    if (font) SelectObject(dc, font);
    SetBkMode(dc, TRANSPARENT);
    const COLORREF textColour = GetTextColor(dc);
    const HBRUSH highlight = GetSysColorBrush(COLOR_HIGHLIGHT);
    for (size_t i = top; i < model.Count(); ++i) {
        const int32_t y = client.top + static_cast<int32_t>(i - top) * itemHeight;
        if (y >= client.bottom) break;
        const bool selected = static_cast<intptr_t>(i) == model.Selection();
        if (selected) {
            const RECT row{client.left, y, client.right, y + itemHeight};
            FillRect(dc, &row, highlight);
        }
        SetTextColor(dc, selected ? GetSysColor(COLOR_HIGHLIGHTTEXT) : textColour);
        const std::u16string& text = model.At(i).text;
        ExtTextOutW(dc, client.left + kListMarginX, y, 0, nullptr, text.data(), static_cast<uint32_t>(text.size()),
                    nullptr);
    }
    SetTextColor(dc, textColour);
}

}  // namespace controls

namespace {

using namespace controls;

struct ListBoxState {
    ListModel model;
    HFONT font = 0;
    size_t top = 0;
};

uint32_t StyleOf(HWND window) {
    return static_cast<uint32_t>(GetWindowLongPtrW(window, GWL_STYLE));
}

size_t VisibleRows(HWND window, const ListBoxState& s) {
    RECT client{};
    GetClientRect(window, &client);
    return static_cast<size_t>(std::max(1, (client.bottom - client.top) / LineHeight(s.font)));
}

void ClampTop(HWND window, ListBoxState& s) {
    const size_t rows = VisibleRows(window, s);
    const size_t count = s.model.Count();
    const size_t highest = count > rows ? count - rows : 0;
    s.top = std::min(s.top, highest);
}

void ShowSelection(HWND window, ListBoxState& s) {
    const intptr_t selection = s.model.Selection();
    if (selection >= 0) {
        const auto index = static_cast<size_t>(selection);
        const size_t rows = VisibleRows(window, s);
        if (index < s.top) s.top = index;
        if (index >= s.top + rows) s.top = index - rows + 1;
    }
    ClampTop(window, s);
}

void Notify(HWND window, UINT code) {
    if (StyleOf(window) & LBS_NOTIFY) NotifyParent(window, code);
}

// The user chose an item: select it, show it, tell the parent.
void Choose(HWND window, ListBoxState& s, intptr_t index) {
    if (!s.model.Valid(index)) return;
    s.model.Select(index);
    ShowSelection(window, s);
    Repaint(window);
    Notify(window, LBN_SELCHANGE);
}

void PressKey(HWND window, ListBoxState& s, uint32_t key) {
    const auto count = static_cast<intptr_t>(s.model.Count());
    if (count == 0) return;
    const intptr_t current = s.model.Selection();
    intptr_t target = current;
    switch (key) {
    case VK_UP:
        target = current < 0 ? 0 : std::max<intptr_t>(0, current - 1);
        break;
    case VK_DOWN:
        target = current < 0 ? 0 : std::min(count - 1, current + 1);
        break;
    case VK_HOME:
        target = 0;
        break;
    case VK_END:
        target = count - 1;
        break;
    default:
        return;
    }
    if (target != current) Choose(window, s, target);
}

void Paint(HWND window, ListBoxState& s) {
    PAINTSTRUCT paint{};
    const HDC dc = BeginPaint(window, &paint);
    if (!dc) return;
    const HBRUSH brush = AskParentColours(window, dc, WM_CTLCOLORLISTBOX, COLOR_WINDOW, COLOR_WINDOWTEXT);
    if (StateOf<ListBoxState>(window) != &s) {
        EndPaint(window, &paint);
        return;
    }
    RECT client{};
    GetClientRect(window, &client);
    PaintListItems(dc, s.model, s.top, client, brush, s.font, LineHeight(s.font));
    EndPaint(window, &paint);
    PaintBorder(window);
}

LRESULT Changed(HWND window, LRESULT result) {
    if (ListBoxState* s = StateOf<ListBoxState>(window)) ClampTop(window, *s);
    Repaint(window);
    return result;
}

LRESULT ListBoxWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_CREATE) {
        // A control that has its state keeps it: a second WM_CREATE (a
        // procedure passing its own on again) must not start it afresh.
        if (StateOf<ListBoxState>(window)) return 0;
        SetStatePointer(window, new ListBoxState);
        return 0;
    }
    ListBoxState* state = StateOf<ListBoxState>(window);
    if (message == WM_NCDESTROY) {
        delete state;
        SetStatePointer(window, nullptr);
        return 0;
    }
    if (!state) return DefWindowProcW(window, message, wParam, lParam);
    ListBoxState& s = *state;
    const auto index = static_cast<intptr_t>(static_cast<int32_t>(static_cast<uint32_t>(wParam)));
    const auto* text = reinterpret_cast<const char16_t*>(lParam);
    switch (message) {
    case WM_PAINT:
        Paint(window, s);
        return 0;
    case WM_ERASEBKGND:
        return 1;
    case WM_SETFONT:
        s.font = static_cast<HFONT>(wParam);
        if (lParam) Repaint(window);
        return 0;
    case WM_GETFONT:
        return static_cast<LRESULT>(s.font);
    case WM_SIZE:
        ClampTop(window, s);
        return 0;
    case WM_SETFOCUS:
        Notify(window, LBN_SETFOCUS);
        return 0;
    case WM_KILLFOCUS:
        Notify(window, LBN_KILLFOCUS);
        return 0;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK: {
        if (GetFocus() != window) SetFocus(window);
        ListBoxState* again = StateOf<ListBoxState>(window);
        if (!again) return 0;
        const int32_t y = static_cast<int16_t>((lParam >> 16) & 0xFFFF);
        if (y < 0) return 0;
        const auto row = static_cast<intptr_t>(again->top) + y / LineHeight(again->font);
        if (!again->model.Valid(row)) return 0;
        Choose(window, *again, row);
        if (message == WM_LBUTTONDBLCLK && StateOf<ListBoxState>(window)) Notify(window, LBN_DBLCLK);
        return 0;
    }
    case WM_KEYDOWN:
        PressKey(window, s, static_cast<uint32_t>(wParam));
        return 0;
    case LB_ADDSTRING:
        return Changed(window, s.model.Add(ViewOf(text), (StyleOf(window) & LBS_SORT) != 0));
    case LB_INSERTSTRING:
        return Changed(window, s.model.Insert(index, ViewOf(text)));
    case LB_DELETESTRING:
        return Changed(window, s.model.Delete(index));
    case LB_RESETCONTENT:
        s.model.Clear();
        s.top = 0;
        return Changed(window, LB_OKAY);
    case LB_SETCURSEL: {
        const LRESULT result = s.model.Select(index);
        ShowSelection(window, s);
        Repaint(window);
        return result;
    }
    case LB_GETCURSEL:
        return s.model.Selection();
    case LB_GETTEXT:
        return s.model.CopyText(index, reinterpret_cast<char16_t*>(lParam));
    case LB_GETTEXTLEN:
        return s.model.Length(index);
    case LB_GETCOUNT:
        return static_cast<LRESULT>(s.model.Count());
    case LB_GETTOPINDEX:
        return static_cast<LRESULT>(s.top);
    case LB_SETTOPINDEX:
        if (!s.model.Valid(index)) return LB_ERR;
        s.top = static_cast<size_t>(index);
        return Changed(window, LB_OKAY);
    case LB_FINDSTRING:
        return s.model.Find(index, ViewOf(text), false);
    case LB_FINDSTRINGEXACT:
        return s.model.Find(index, ViewOf(text), true);
    case LB_GETITEMDATA:
        return s.model.Data(index);
    case LB_SETITEMDATA:
        return s.model.SetData(index, lParam);
    case LB_GETITEMHEIGHT:
        return LineHeight(s.font);
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

}  // namespace

void RegisterListBoxClass() {
    RegisterControlClass(kListBoxClass, ListBoxWindowProc, CS_DBLCLKS);
}

}  // namespace qob::platform
