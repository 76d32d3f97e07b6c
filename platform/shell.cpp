// platform/shell.cpp
// The shell's windows: desktop, task bar, input panel and menu bars (command
// bars, platform/controls/command_bar.h).

#include "platform/shell.h"

#include "platform/controls/command_bar.h"
#include "platform/gdi.h"
#include "platform/window_manager/internal.h"

namespace qob::platform {

using namespace wm;

namespace {

struct ShellWindows {
    HWND desktop = 0;
    HWND taskBar = 0;
    HWND inputPanel = 0;
};

ShellWindows gShell;

LRESULT ShellProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    // The shell's windows are never closed by a program's WM_CLOSE.
    if (message == WM_CLOSE) return 0;
    return DefWindowProcW(window, message, wParam, lParam);
}

// The task bar: the active window's title on the caption colour.
LRESULT TaskBarProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != WM_PAINT) return ShellProcedure(window, message, wParam, lParam);
    PAINTSTRUCT paint{};
    const HDC dc = BeginPaint(window, &paint);
    if (dc) {
        const std::u16string title = WindowTitle(GetActiveWindow());
        RECT area{};
        GetClientRect(window, &area);
        area.left += 4;
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, SYS_COLOR_INDEX_FLAG | COLOR_CAPTIONTEXT);
        DrawTextW(dc, title.c_str(), static_cast<int>(title.size()), &area, DT_LEFT | DT_VCENTER | DT_SINGLELINE);
    }
    EndPaint(window, &paint);
    return 0;
}

void RegisterShellClass(const char16_t* name, WNDPROC procedure, HBRUSH background) {
    WNDCLASSW windowClass;
    windowClass.lpfnWndProc = procedure;
    windowClass.hbrBackground = background;
    windowClass.lpszClassName = name;
    (void)RegisterClassW(&windowClass);
}

HWND MakeShellWindow(const char16_t* className, const char16_t* title, uint32_t exStyle, RECT rect, HWND owner,
                     int backgroundColour, WNDPROC procedure = ShellProcedure) {
    RegisterShellClass(className, procedure, GetSysColorBrush(backgroundColour));
    const HWND window = CreateWindowExW(exStyle, className, title, WS_POPUP, rect.left, rect.top,
                                        rect.right - rect.left, rect.bottom - rect.top, owner, 0, 0, nullptr);
    if (Window* record = Find(window)) record->shellWindow = true;
    return window;
}

}  // namespace

void StartShell() {
    if (IsWindow(gShell.desktop)) return;
    const SIZE screen = ScreenSize();
    gShell.desktop = MakeShellWindow(u"DesktopWindow", u"Desktop", 0, RECT{0, 0, screen.cx, screen.cy}, 0,
                                     COLOR_BACKGROUND);
    SetWindowPos(gShell.desktop, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    ShowWindow(gShell.desktop, SW_SHOWNA);
    gShell.taskBar = MakeShellWindow(u"HHTaskBar", u"", WS_EX_TOPMOST, RECT{0, 0, screen.cx, kTaskBarHeight}, 0,
                                     COLOR_ACTIVECAPTION, TaskBarProcedure);
    ShowWindow(gShell.taskBar, SW_SHOWNA);
    const int32_t panelTop = screen.cy - kMenuBarHeight - kInputPanelHeight;
    gShell.inputPanel = MakeShellWindow(u"SipWndClass", u"", WS_EX_TOPMOST,
                                        RECT{0, panelTop, screen.cx, panelTop + kInputPanelHeight}, 0,
                                        COLOR_BTNFACE);
}

void ForgetShell() { gShell = ShellWindows{}; }

HWND GetDesktopWindow() { return IsWindow(gShell.desktop) ? gShell.desktop : 0; }

HWND TaskBarWindow() { return IsWindow(gShell.taskBar) ? gShell.taskBar : 0; }

void RefreshTaskBar() {
    if (IsWindow(gShell.taskBar)) InvalidateRect(gShell.taskBar, nullptr, true);
}

HWND InputPanelWindow() { return IsWindow(gShell.inputPanel) ? gShell.inputPanel : 0; }

HWND CreateMenuBar(HWND form) {
    if (!IsWindow(form)) return 0;
    const SIZE screen = ScreenSize();
    return MakeShellWindow(u"MenuBar", u"", 0, RECT{0, screen.cy - kMenuBarHeight, screen.cx, screen.cy}, form,
                           COLOR_MENU, CommandBarProcedure);
}

bool ShowMenuBar(HWND bar, bool show) {
    if (!IsWindow(bar)) return false;
    ShowWindow(bar, show ? SW_SHOWNA : SW_HIDE);
    return true;
}

void HideInputPanel(HWND panel) { ShowWindow(panel, SW_HIDE); }

bool HandleShellActivate(HWND, WPARAM, LPARAM, ActivateInfo* info, uint32_t) {
    if (!info) return false;
    info->size = sizeof(ActivateInfo);
    return true;
}

bool HandleShellSettingChange(HWND, WPARAM, LPARAM, ActivateInfo* info) {
    if (!info) return false;
    info->size = sizeof(ActivateInfo);
    return true;
}

bool RequestFullScreen(HWND window, uint32_t) { return IsWindow(window); }

}  // namespace qob::platform
