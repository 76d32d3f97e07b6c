// platform/controls/button.cpp
// The BUTTON control: push and default push buttons, check boxes and radio
// buttons (plain, automatic, three-state) and group boxes. A press captures
// the stylus; a release inside the button clicks it (BN_CLICKED), after the
// automatic kinds have changed their check. Space clicks too.

#include <algorithm>
#include <vector>

#include "platform/controls/control_support.h"
#include "platform/controls/standard_controls.h"

namespace qob::platform {
namespace {

using namespace controls;

struct ButtonState {
    LRESULT check = BST_UNCHECKED;
    bool pushed = false;
    bool focused = false;
    bool tracking = false;  // the stylus went down on it and is held
    HFONT font = 0;
};

uint32_t StyleOf(HWND window) {
    return static_cast<uint32_t>(GetWindowLongPtrW(window, GWL_STYLE));
}
uint32_t KindOf(HWND window) {
    return StyleOf(window) & BS_TYPEMASK;
}
bool IsCheckKind(uint32_t kind) {
    return kind == BS_CHECKBOX || kind == BS_AUTOCHECKBOX || kind == BS_RADIOBUTTON || kind == BS_3STATE ||
           kind == BS_AUTO3STATE || kind == BS_AUTORADIOBUTTON;
}
bool IsRadioKind(uint32_t kind) {
    return kind == BS_RADIOBUTTON || kind == BS_AUTORADIOBUTTON;
}

// The automatic radio buttons of the button's group: its siblings from the
// last WS_GROUP window at or before it up to the next WS_GROUP window.
void UncheckGroup(HWND button) {
    const HWND parent = GetParent(button);
    if (!parent) return;
    std::vector<HWND> siblings;
    for (HWND child = GetWindow(parent, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        siblings.push_back(child);
    // The window manager keeps children front first; creation order is the reverse.
    std::reverse(siblings.begin(), siblings.end());
    const auto self = std::find(siblings.begin(), siblings.end(), button);
    if (self == siblings.end()) return;
    auto first = self;
    while (first != siblings.begin() && !(StyleOf(*first) & WS_GROUP)) --first;
    auto last = self + 1;
    while (last != siblings.end() && !(StyleOf(*last) & WS_GROUP)) ++last;
    for (auto it = first; it != last; ++it) {
        if (*it == button || KindOf(*it) != BS_AUTORADIOBUTTON) continue;
        char16_t name[16] = {};
        GetClassNameW(*it, name, 16);
        if (FoldCase(name) != kButtonClass) continue;
        SendMessageW(*it, BM_SETCHECK, BST_UNCHECKED, 0);
    }
}

void Click(HWND button) {
    ButtonState* s = StateOf<ButtonState>(button);
    if (!s) return;
    switch (KindOf(button)) {
    case BS_AUTOCHECKBOX:
        s->check = s->check == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED;
        break;
    case BS_AUTO3STATE:
        s->check = (s->check + 1) % 3;
        break;
    case BS_AUTORADIOBUTTON:
        s->check = BST_CHECKED;
        UncheckGroup(button);
        break;
    default:
        break;
    }
    Repaint(button);
    NotifyParent(button, BN_CLICKED);
}

void SetPushed(HWND button, ButtonState& s, bool pushed) {
    if (s.pushed == pushed) return;
    s.pushed = pushed;
    Repaint(button);
}

bool Inside(HWND button, LPARAM lParam) {
    RECT client{};
    GetClientRect(button, &client);
    const int32_t x = static_cast<int16_t>(lParam & 0xFFFF);
    const int32_t y = static_cast<int16_t>((lParam >> 16) & 0xFFFF);
    return x >= client.left && x < client.right && y >= client.top && y < client.bottom;
}

void PaintPush(HWND button, const ButtonState& s, HDC dc, RECT client, HBRUSH brush) {
    FillRect(dc, &client, brush);
    const HBRUSH frame = GetSysColorBrush(COLOR_WINDOWFRAME);
    FrameRect(dc, &client, frame);
    if (KindOf(button) == BS_DEFPUSHBUTTON) {
        const RECT inner{client.left + 1, client.top + 1, client.right - 1, client.bottom - 1};
        FrameRect(dc, &inner, frame);
    }
    RECT textRect = client;
    if (s.pushed) textRect = RECT{client.left + 1, client.top + 1, client.right + 1, client.bottom + 1};
    const std::u16string text = WindowText(button);
    DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &textRect, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
}

void PaintCheck(HWND button, const ButtonState& s, HDC dc, RECT client, HBRUSH brush) {
    FillRect(dc, &client, brush);
    const int32_t top = client.top + (client.bottom - client.top - kCheckBoxSize) / 2;
    const RECT box{client.left, top, client.left + kCheckBoxSize, top + kCheckBoxSize};
    FillRect(dc, &box, GetSysColorBrush(s.pushed ? COLOR_BTNFACE : COLOR_WINDOW));
    FrameRect(dc, &box, GetSysColorBrush(COLOR_WINDOWFRAME));
    if (s.check != BST_UNCHECKED) {
        // A radio button's mark is smaller than a check box's.
        const int32_t inset = IsRadioKind(KindOf(button)) ? 4 : 3;
        const RECT mark{box.left + inset, box.top + inset, box.right - inset, box.bottom - inset};
        FillRect(dc, &mark, GetSysColorBrush(s.check == BST_INDETERMINATE ? COLOR_GRAYTEXT : COLOR_WINDOWTEXT));
    }
    RECT textRect{box.right + kCheckBoxGap, client.top, client.right, client.bottom};
    const std::u16string text = WindowText(button);
    DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &textRect, DT_LEFT | DT_VCENTER | DT_SINGLELINE);
}

void PaintGroup(HWND button, const ButtonState& s, HDC dc, RECT client, HBRUSH brush) {
    FillRect(dc, &client, brush);
    const int32_t half = LineHeight(s.font) / 2;
    const RECT frame{client.left, client.top + half, client.right, client.bottom};
    FrameRect(dc, &frame, GetSysColorBrush(COLOR_BTNSHADOW));
    const std::u16string text = WindowText(button);
    if (text.empty()) return;
    SIZE size{};
    GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
    const RECT label{client.left + 6, client.top, client.left + 6 + size.cx + 4, client.top + size.cy};
    FillRect(dc, &label, brush);
    ExtTextOutW(dc, label.left + 2, client.top, 0, nullptr, text.c_str(), static_cast<uint32_t>(text.size()), nullptr);
}

void Paint(HWND button, ButtonState& s) {
    PAINTSTRUCT paint{};
    const HDC dc = BeginPaint(button, &paint);
    if (!dc) return;
    const uint32_t kind = KindOf(button);
    const bool push = kind == BS_PUSHBUTTON || kind == BS_DEFPUSHBUTTON;
    const HBRUSH brush = push ? AskParentColours(button, dc, WM_CTLCOLORBTN, COLOR_BTNFACE, COLOR_BTNTEXT)
                              : AskParentColours(button, dc, WM_CTLCOLORSTATIC, COLOR_STATIC, COLOR_STATICTEXT);
    if (StateOf<ButtonState>(button) != &s) {
        EndPaint(button, &paint);
        return;
    }
    if (s.font) SelectObject(dc, s.font);
    SetBkMode(dc, TRANSPARENT);
    if (!IsWindowEnabled(button)) SetTextColor(dc, GetSysColor(COLOR_GRAYTEXT));
    RECT client{};
    GetClientRect(button, &client);
    if (push) PaintPush(button, s, dc, client, brush);
    else if (kind == BS_GROUPBOX) PaintGroup(button, s, dc, client, brush);
    else PaintCheck(button, s, dc, client, brush);
    EndPaint(button, &paint);
    PaintBorder(button);
}

LRESULT ButtonWindowProc(HWND button, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_CREATE) {
        // A control that has its state keeps it: a second WM_CREATE (a
        // procedure passing its own on again) must not start it afresh.
        if (StateOf<ButtonState>(button)) return 0;
        SetStatePointer(button, new ButtonState);
        return 0;
    }
    ButtonState* state = StateOf<ButtonState>(button);
    if (message == WM_NCDESTROY) {
        delete state;
        SetStatePointer(button, nullptr);
        return 0;
    }
    if (!state) return DefWindowProcW(button, message, wParam, lParam);
    ButtonState& s = *state;
    const bool group = KindOf(button) == BS_GROUPBOX;
    switch (message) {
    case WM_PAINT:
        Paint(button, s);
        return 0;
    case WM_ERASEBKGND:
        return 1;
    case WM_SETFONT:
        s.font = static_cast<HFONT>(wParam);
        if (lParam) Repaint(button);
        return 0;
    case WM_GETFONT:
        return static_cast<LRESULT>(s.font);
    case WM_SETTEXT: {
        const LRESULT result = DefWindowProcW(button, message, wParam, lParam);
        Repaint(button);
        return result;
    }
    case WM_ENABLE:
        Repaint(button);
        return 0;
    case WM_SETFOCUS:
        s.focused = true;
        return 0;
    case WM_KILLFOCUS:
        s.focused = false;
        SetPushed(button, s, false);
        return 0;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK: {
        if (group) return 0;
        if (GetFocus() != button) SetFocus(button);
        ButtonState* again = StateOf<ButtonState>(button);
        if (!again) return 0;
        again->tracking = true;
        SetCapture(button);
        SetPushed(button, *again, true);
        return 0;
    }
    case WM_MOUSEMOVE:
        if (s.tracking) SetPushed(button, s, Inside(button, lParam));
        return 0;
    case WM_LBUTTONUP: {
        if (!s.tracking) return 0;
        s.tracking = false;
        SetPushed(button, s, false);
        ReleaseCapture();
        if (Inside(button, lParam)) Click(button);
        return 0;
    }
    case WM_CAPTURECHANGED:
        s.tracking = false;
        SetPushed(button, s, false);
        return 0;
    case WM_KEYDOWN:
        if (wParam == VK_SPACE && !group) SetPushed(button, s, true);
        return 0;
    case WM_KEYUP:
        if (wParam == VK_SPACE && s.pushed) {
            SetPushed(button, s, false);
            Click(button);
        }
        return 0;
    case BM_GETCHECK:
        return IsCheckKind(KindOf(button)) ? s.check : BST_UNCHECKED;
    case BM_SETCHECK:
        if (IsCheckKind(KindOf(button))) {
            const auto check = static_cast<LRESULT>(wParam);
            s.check = check == BST_INDETERMINATE && (KindOf(button) == BS_3STATE || KindOf(button) == BS_AUTO3STATE)
                          ? BST_INDETERMINATE
                          : (check ? BST_CHECKED : BST_UNCHECKED);
            Repaint(button);
        }
        return 0;
    case BM_GETSTATE:
        return (IsCheckKind(KindOf(button)) ? s.check : 0) | (s.pushed ? BST_PUSHED : 0) | (s.focused ? BST_FOCUS : 0);
    case BM_SETSTATE:
        SetPushed(button, s, wParam != 0);
        return 0;
    case BM_SETSTYLE:
        SetWindowLongPtrW(button, GWL_STYLE,
                          static_cast<intptr_t>((StyleOf(button) & ~0xFFFFu) | (static_cast<uint32_t>(wParam) & 0xFFFF)));
        if (lParam) Repaint(button);
        return 0;
    case BM_CLICK:
        if (!group && IsWindowEnabled(button)) Click(button);
        return 0;
    default:
        return DefWindowProcW(button, message, wParam, lParam);
    }
}

}  // namespace

void RegisterButtonClass() {
    RegisterControlClass(kButtonClass, ButtonWindowProc, CS_DBLCLKS);
}

}  // namespace qob::platform
