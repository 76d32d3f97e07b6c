// platform/shell.h
// The device shell: the task bar across the top of the screen showing the
// active window's title, the desktop at the bottom of the z-order, the input
// panel, and the 26-pixel menu bars of forms.
#pragma once

#include <cstdint>

#include "platform/window_manager.h"

namespace qob::platform {

constexpr int32_t kTaskBarHeight = 26;
constexpr int32_t kMenuBarHeight = 26;
constexpr int32_t kInputPanelHeight = 80;

// Makes the desktop (text "Desktop", the whole screen, bottom of the
// z-order), the task bar and the hidden input panel (class "SipWndClass"),
// once; nothing when they exist.
void StartShell();
// The shell's windows were destroyed with everything else (ResetWindowManager).
void ForgetShell();

[[nodiscard]] HWND TaskBarWindow();
// The task bar shows the active window's title again.
void RefreshTaskBar();
[[nodiscard]] HWND InputPanelWindow();

// A form's menu bar: an empty command bar of the screen's width and 26
// pixels at the bottom of the screen, owned by the form, hidden until ShowMenuBar.
[[nodiscard]] HWND CreateMenuBar(HWND form);
bool ShowMenuBar(HWND bar, bool show);

// Hides the input panel (the shell's input-panel call when a form closes or
// is shown).
void HideInputPanel(HWND panel);

// The 12-byte activate info of a form: size 12, the window that last had the
// focus, input-panel flags.
struct ActivateInfo {
    uint32_t size;
    uint32_t lastFocus;
    uint32_t flags;
};
// The shell's activation and setting-change handlers keep the info (its size
// word set) and do nothing else.
bool HandleShellActivate(HWND window, WPARAM wParam, LPARAM lParam, ActivateInfo* info, uint32_t flags);
bool HandleShellSettingChange(HWND window, WPARAM wParam, LPARAM lParam, ActivateInfo* info);
// The full-screen request of a game window: nothing to do on this screen.
bool RequestFullScreen(HWND window, uint32_t state);

}  // namespace qob::platform
