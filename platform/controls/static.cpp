// platform/controls/static.cpp
// The STATIC control: a text drawn left-aligned, centred or right-aligned,
// broken into words at the right edge (SS_LEFTNOWORDWRAP keeps one line), with
// STN_CLICKED on a tap when SS_NOTIFY is set.

#include "platform/controls/control_support.h"
#include "platform/controls/standard_controls.h"

namespace qob::platform {
namespace {

using namespace controls;

struct StaticState {
    HFONT font = 0;
};

uint32_t StyleOf(HWND window) {
    return static_cast<uint32_t>(GetWindowLongPtrW(window, GWL_STYLE));
}

// The DrawTextW format of a style.
uint32_t TextFormat(uint32_t style) {
    uint32_t format = DT_EXPANDTABS;
    switch (style & SS_TYPEMASK) {
    case SS_CENTER:
        format |= DT_CENTER | DT_WORDBREAK;
        break;
    case SS_RIGHT:
        format |= DT_RIGHT | DT_WORDBREAK;
        break;
    case SS_LEFTNOWORDWRAP:
        format |= DT_LEFT | DT_SINGLELINE;
        break;
    default:
        format |= DT_LEFT | DT_WORDBREAK;
        break;
    }
    if (style & SS_NOPREFIX) format |= DT_NOPREFIX;
    return format;
}

void Paint(HWND window, StaticState& s) {
    PAINTSTRUCT paint{};
    const HDC dc = BeginPaint(window, &paint);
    if (!dc) return;
    const HBRUSH brush = AskParentColours(window, dc, WM_CTLCOLORSTATIC, COLOR_STATIC, COLOR_STATICTEXT);
    if (StateOf<StaticState>(window) != &s) {
        EndPaint(window, &paint);
        return;
    }
    RECT client{};
    GetClientRect(window, &client);
    FillRect(dc, &client, brush);
    if (s.font) SelectObject(dc, s.font);
    SetBkMode(dc, TRANSPARENT);
    if (!IsWindowEnabled(window)) SetTextColor(dc, GetSysColor(COLOR_GRAYTEXT));
    const std::u16string text = WindowText(window);
    DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &client, TextFormat(StyleOf(window)));
    EndPaint(window, &paint);
    PaintBorder(window);
}

LRESULT StaticWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_CREATE) {
        // A control that has its state keeps it: a second WM_CREATE (a
        // procedure passing its own on again) must not start it afresh.
        if (StateOf<StaticState>(window)) return 0;
        SetStatePointer(window, new StaticState);
        return 0;
    }
    StaticState* state = StateOf<StaticState>(window);
    if (message == WM_NCDESTROY) {
        delete state;
        SetStatePointer(window, nullptr);
        return 0;
    }
    if (!state) return DefWindowProcW(window, message, wParam, lParam);
    switch (message) {
    case WM_PAINT:
        Paint(window, *state);
        return 0;
    case WM_ERASEBKGND:
        return 1;
    case WM_SETFONT:
        state->font = static_cast<HFONT>(wParam);
        if (lParam) Repaint(window);
        return 0;
    case WM_GETFONT:
        return static_cast<LRESULT>(state->font);
    case WM_SETTEXT: {
        const LRESULT result = DefWindowProcW(window, message, wParam, lParam);
        Repaint(window);
        return result;
    }
    case WM_ENABLE:
        Repaint(window);
        return 0;
    case WM_LBUTTONDOWN:
        if (StyleOf(window) & SS_NOTIFY) NotifyParent(window, STN_CLICKED);
        return 0;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

}  // namespace

void RegisterStaticClass() {
    RegisterControlClass(kStaticClass, StaticWindowProc, 0);
}

}  // namespace qob::platform
