// platform/controls/combobox.cpp
// The COMBOBOX control as a drop-down list: a field showing the chosen item
// with an arrow box, and a pop-up list window that a tap on the field opens.
// A tap on an item of the list chooses it (CBN_SELCHANGE), a tap outside
// closes the list without a change; arrows change the choice directly.

#include <algorithm>

#include "platform/controls/control_support.h"
#include "platform/controls/list_model.h"
#include "platform/controls/standard_controls.h"

namespace qob::platform {
namespace {

using namespace controls;

struct ComboState {
    ListModel model;
    HFONT font = 0;
    int32_t dropHeight = 0;  // the list's height below the field, as created
    HWND list = 0;           // the open pop-up list, or 0
    size_t listTop = 0;
};

uint32_t StyleOf(HWND window) {
    return static_cast<uint32_t>(GetWindowLongPtrW(window, GWL_STYLE));
}

int32_t FieldHeight(const ComboState& s) {
    return LineHeight(s.font) + kComboFieldExtra;
}

void CloseList(HWND combo, ComboState& s, bool notify) {
    const HWND list = s.list;
    if (!list) return;
    s.list = 0;
    if (GetCapture() == list) ReleaseCapture();
    DestroyWindow(list);
    Repaint(combo);
    if (notify) NotifyParent(combo, CBN_CLOSEUP);
}

// Rows the list shows: as many as the height below the field holds (at
// least one), no more than there are items.
size_t ListRows(const ComboState& s) {
    const int32_t itemHeight = LineHeight(s.font);
    const size_t rows = static_cast<size_t>(std::max(1, s.dropHeight / itemHeight));
    return std::min(rows, s.model.Count());
}

void OpenList(HWND combo, ComboState& s) {
    if (s.list || s.model.Count() == 0) return;
    NotifyParent(combo, CBN_DROPDOWN);
    ComboState* again = StateOf<ComboState>(combo);
    if (!again || again->list) return;
    RECT field{};
    GetWindowRect(combo, &field);
    const size_t rows = ListRows(*again);
    const int32_t height = static_cast<int32_t>(rows) * LineHeight(again->font) + 2;
    int32_t top = field.bottom;
    if (top + height > ScreenSize().cy && field.top - height >= 0) top = field.top - height;
    const intptr_t selection = again->model.Selection();
    again->listTop = selection >= static_cast<intptr_t>(rows) ? static_cast<size_t>(selection) - rows + 1 : 0;
    const HWND list = CreateWindowExW(WS_EX_TOPMOST | WS_EX_NOACTIVATE, kComboListClass, u"", WS_POPUP | WS_BORDER, field.left, top,
                                      field.right - field.left, height, combo, 0, 0, nullptr);
    again = StateOf<ComboState>(combo);
    if (!list || !again) return;
    SetWindowLongPtrW(list, 0, static_cast<intptr_t>(combo));
    again->list = list;
    ShowWindow(list, SW_SHOWNOACTIVATE);
    SetCapture(list);
    Repaint(combo);
}

void Choose(HWND combo, ComboState& s, intptr_t index) {
    if (!s.model.Valid(index) || index == s.model.Selection()) return;
    s.model.Select(index);
    Repaint(combo);
    NotifyParent(combo, CBN_SELCHANGE);
}

void PressKey(HWND combo, ComboState& s, uint32_t key) {
    const auto count = static_cast<intptr_t>(s.model.Count());
    if (count == 0) return;
    const intptr_t current = s.model.Selection();
    switch (key) {
    case VK_UP:
        Choose(combo, s, current < 0 ? 0 : std::max<intptr_t>(0, current - 1));
        break;
    case VK_DOWN:
        Choose(combo, s, current < 0 ? 0 : std::min(count - 1, current + 1));
        break;
    case VK_HOME:
        Choose(combo, s, 0);
        break;
    case VK_END:
        Choose(combo, s, count - 1);
        break;
    default:
        break;
    }
}

void PaintField(HWND combo, ComboState& s) {
    PAINTSTRUCT paint{};
    const HDC dc = BeginPaint(combo, &paint);
    if (!dc) return;
    const HBRUSH brush = AskParentColours(combo, dc, WM_CTLCOLOREDIT, COLOR_WINDOW, COLOR_WINDOWTEXT);
    if (StateOf<ComboState>(combo) != &s) {
        EndPaint(combo, &paint);
        return;
    }
    RECT client{};
    GetClientRect(combo, &client);
    FillRect(dc, &client, brush);
    FrameRect(dc, &client, GetSysColorBrush(COLOR_WINDOWFRAME));
    const int32_t box = client.bottom - client.top;
    const RECT arrow{client.right - box, client.top, client.right, client.bottom};
    FillRect(dc, &arrow, GetSysColorBrush(COLOR_BTNFACE));
    FrameRect(dc, &arrow, GetSysColorBrush(COLOR_WINDOWFRAME));
    // A small down-pointing triangle, one line per row.
    const HPEN pen = CreatePen(PS_SOLID, 1, GetSysColor(COLOR_BTNTEXT));
    const HGDIOBJ oldPen = SelectObject(dc, pen);
    const int32_t centreX = arrow.left + box / 2;
    const int32_t top = client.top + box / 2 - 2;
    for (int32_t row = 0; row < 4; ++row) {
        MoveToEx(dc, centreX - 3 + row, top + row, nullptr);
        LineTo(dc, centreX + 4 - row, top + row);
    }
    SelectObject(dc, oldPen);
    DeleteObject(pen);
    const intptr_t selection = s.model.Selection();
    if (selection >= 0) {
        if (s.font) SelectObject(dc, s.font);
        SetBkMode(dc, TRANSPARENT);
        const std::u16string& text = s.model.At(static_cast<size_t>(selection)).text;
        const RECT textRect{client.left + 3, client.top, arrow.left - 1, client.bottom};
        ExtTextOutW(dc, textRect.left, client.top + kComboFieldExtra / 2, ETO_CLIPPED, &textRect, text.data(),
                    static_cast<uint32_t>(text.size()), nullptr);
    }
    EndPaint(combo, &paint);
}

LRESULT Changed(HWND combo, LRESULT result) {
    Repaint(combo);
    return result;
}

LRESULT SetText(HWND combo, ComboState& s, const char16_t* text) {
    const intptr_t found = s.model.Find(-1, ViewOf(text), true);
    if (found < 0) return CB_ERR;
    s.model.Select(found);
    return Changed(combo, 1);
}

LRESULT GetText(const ComboState& s, WPARAM wParam, LPARAM lParam) {
    auto* buffer = reinterpret_cast<char16_t*>(lParam);
    if (!buffer || wParam == 0) return 0;
    const intptr_t selection = s.model.Selection();
    const std::u16string empty;
    const std::u16string& text = selection >= 0 ? s.model.At(static_cast<size_t>(selection)).text : empty;
    const size_t count = std::min(text.size(), static_cast<size_t>(wParam) - 1);
    std::copy_n(text.data(), count, buffer);
    buffer[count] = 0;
    return static_cast<LRESULT>(count);
}

LRESULT ComboBoxWindowProc(HWND combo, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_CREATE) {
        // A control that has its state keeps it: a second WM_CREATE (a
        // procedure passing its own on again) must not start it afresh.
        if (StateOf<ComboState>(combo)) return 0;
        auto* state = new ComboState;
        SetStatePointer(combo, state);
        // The height given is the field and the list below it together; the
        // window keeps the field's height.
        RECT rect{};
        GetWindowRect(combo, &rect);
        const int32_t field = FieldHeight(*state);
        state->dropHeight = std::max(0, rect.bottom - rect.top - field);
        SetWindowPos(combo, 0, 0, 0, rect.right - rect.left, field, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        return 0;
    }
    ComboState* state = StateOf<ComboState>(combo);
    if (message == WM_NCDESTROY) {
        delete state;
        SetStatePointer(combo, nullptr);
        return 0;
    }
    if (!state) return DefWindowProcW(combo, message, wParam, lParam);
    ComboState& s = *state;
    const auto index = static_cast<intptr_t>(static_cast<int32_t>(static_cast<uint32_t>(wParam)));
    const auto* text = reinterpret_cast<const char16_t*>(lParam);
    switch (message) {
    case WM_DESTROY:
        CloseList(combo, s, false);
        return 0;
    case WM_PAINT:
        PaintField(combo, s);
        return 0;
    case WM_ERASEBKGND:
        return 1;
    case WM_SETFONT: {
        s.font = static_cast<HFONT>(wParam);
        RECT rect{};
        GetWindowRect(combo, &rect);
        SetWindowPos(combo, 0, 0, 0, rect.right - rect.left, FieldHeight(s),
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        if (lParam) Repaint(combo);
        return 0;
    }
    case WM_GETFONT:
        return static_cast<LRESULT>(s.font);
    case WM_SETTEXT:
        return SetText(combo, s, text);
    case WM_GETTEXT:
        return GetText(s, wParam, lParam);
    case WM_GETTEXTLENGTH:
        return s.model.Selection() >= 0 ? s.model.Length(s.model.Selection()) : 0;
    case WM_SETFOCUS:
        NotifyParent(combo, CBN_SETFOCUS);
        return 0;
    case WM_KILLFOCUS:
        NotifyParent(combo, CBN_KILLFOCUS);
        return 0;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK: {
        if (GetFocus() != combo) SetFocus(combo);
        ComboState* again = StateOf<ComboState>(combo);
        if (!again) return 0;
        if (again->list) CloseList(combo, *again, true);
        else OpenList(combo, *again);
        return 0;
    }
    case WM_KEYDOWN:
        PressKey(combo, s, static_cast<uint32_t>(wParam));
        return 0;
    case CB_ADDSTRING:
        return Changed(combo, s.model.Add(ViewOf(text), (StyleOf(combo) & CBS_SORT) != 0));
    case CB_INSERTSTRING:
        return Changed(combo, s.model.Insert(index, ViewOf(text)));
    case CB_DELETESTRING:
        return Changed(combo, s.model.Delete(index));
    case CB_RESETCONTENT:
        CloseList(combo, s, true);
        if (ComboState* again = StateOf<ComboState>(combo)) again->model.Clear();
        return Changed(combo, CB_OKAY);
    case CB_SETCURSEL:
        return Changed(combo, s.model.Select(index));
    case CB_GETCURSEL:
        return s.model.Selection();
    case CB_GETLBTEXT:
        return s.model.CopyText(index, reinterpret_cast<char16_t*>(lParam));
    case CB_GETLBTEXTLEN:
        return s.model.Length(index);
    case CB_GETCOUNT:
        return static_cast<LRESULT>(s.model.Count());
    case CB_FINDSTRING:
        return s.model.Find(index, ViewOf(text), false);
    case CB_FINDSTRINGEXACT:
        return s.model.Find(index, ViewOf(text), true);
    case CB_GETITEMDATA:
        return s.model.Data(index);
    case CB_SETITEMDATA:
        return s.model.SetData(index, lParam);
    case CB_SHOWDROPDOWN:
        if (wParam) OpenList(combo, s);
        else CloseList(combo, s, true);
        return 1;
    case CB_GETDROPPEDSTATE:
        return s.list ? 1 : 0;
    default:
        return DefWindowProcW(combo, message, wParam, lParam);
    }
}

// --- the pop-up list ----------------------------------------------------------------

HWND ComboOf(HWND list) {
    const auto combo = static_cast<HWND>(GetWindowLongPtrW(list, 0));
    return IsWindow(combo) ? combo : 0;
}

void PaintList(HWND list) {
    PAINTSTRUCT paint{};
    const HDC dc = BeginPaint(list, &paint);
    if (!dc) return;
    const HWND combo = ComboOf(list);
    ComboState* s = combo ? StateOf<ComboState>(combo) : nullptr;
    if (s) {
        // The combo box's parent colours its list as a list box.
        SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
        SetBkColor(dc, GetSysColor(COLOR_WINDOW));
        const HWND parent = GetParent(combo);
        const LRESULT answer = parent ? SendMessageW(parent, WM_CTLCOLORLISTBOX, static_cast<WPARAM>(dc),
                                                     static_cast<LPARAM>(combo))
                                      : 0;
        s = StateOf<ComboState>(combo);
        if (s) {
            const HBRUSH brush = answer ? static_cast<HBRUSH>(answer) : GetSysColorBrush(COLOR_WINDOW);
            RECT client{};
            GetClientRect(list, &client);
            PaintListItems(dc, s->model, s->listTop, client, brush, s->font, LineHeight(s->font));
        }
    }
    EndPaint(list, &paint);
    PaintBorder(list);
}

void TapList(HWND list, LPARAM lParam) {
    const HWND combo = ComboOf(list);
    ComboState* s = combo ? StateOf<ComboState>(combo) : nullptr;
    if (!s) {
        DestroyWindow(list);
        return;
    }
    const int32_t x = static_cast<int16_t>(lParam & 0xFFFF);
    const int32_t y = static_cast<int16_t>((lParam >> 16) & 0xFFFF);
    RECT client{};
    GetClientRect(list, &client);
    const bool inside = x >= client.left && x < client.right && y >= client.top && y < client.bottom;
    const intptr_t row = inside ? static_cast<intptr_t>(s->listTop) + y / LineHeight(s->font) : -1;
    CloseList(combo, *s, true);
    if (ComboState* again = StateOf<ComboState>(combo); again && again->model.Valid(row)) Choose(combo, *again, row);
}

LRESULT ComboListWindowProc(HWND list, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_PAINT:
        PaintList(list);
        return 0;
    case WM_ERASEBKGND:
        return 1;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
        TapList(list, lParam);
        return 0;
    case WM_CAPTURECHANGED:
        // Capture taken by someone else: the list goes away unchosen.
        if (static_cast<HWND>(lParam) != list) {
            if (const HWND combo = ComboOf(list))
                if (ComboState* s = StateOf<ComboState>(combo); s && s->list == list) {
                    CloseList(combo, *s, true);
                    return 0;
                }
        }
        return 0;
    default:
        return DefWindowProcW(list, message, wParam, lParam);
    }
}

}  // namespace

void RegisterComboBoxClasses() {
    RegisterControlClass(kComboBoxClass, ComboBoxWindowProc, 0);
    RegisterControlClass(kComboListClass, ComboListWindowProc, 0);
}

}  // namespace qob::platform
