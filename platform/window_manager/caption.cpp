// platform/window_manager/caption.cpp
// The caption of a WS_CAPTION window: a bar of SM_CYCAPTION pixels above the
// client area with the window's title and, with WS_EX_CAPTIONOKBTN, an "OK"
// box whose tap (pressed and released inside it) posts WM_COMMAND IDOK.

#include <algorithm>

#include "platform/gdi.h"
#include "platform/message_box.h"
#include "platform/window_manager/internal.h"

namespace qob::platform {
namespace wm {
namespace {

// The window whose OK box the stylus went down on (0: none).
HWND gOkPressed = 0;

int32_t BorderOf(const Window* window) {
    const int32_t width = window->rect.right - window->rect.left;
    const int32_t height = window->rect.bottom - window->rect.top;
    return (window->style & WS_BORDER) && width >= 2 && height >= 2 ? 1 : 0;
}

// The caption bar and the OK box in the window's own coordinates.
RECT CaptionBar(const Window* window) {
    const int32_t border = BorderOf(window);
    const int32_t width = window->rect.right - window->rect.left;
    return RECT{border, border, width - border, border + CaptionHeight(window)};
}

RECT OkBox(const Window* window) {
    const RECT bar = CaptionBar(window);
    return RECT{bar.right - 2 - kCaptionOkWidth, bar.top + 3, bar.right - 2, bar.bottom - 3};
}

bool HasOkBox(const Window* window) {
    return CaptionHeight(window) > 0 && (window->exStyle & WS_EX_CAPTIONOKBTN);
}

bool Inside(const RECT& rect, POINT point) {
    return point.x >= rect.left && point.x < rect.right && point.y >= rect.top && point.y < rect.bottom;
}

}  // namespace

int32_t CaptionHeight(const Window* window) {
    if ((window->style & WS_CAPTION) != WS_CAPTION) return 0;
    const int32_t height = window->rect.bottom - window->rect.top - 2 * BorderOf(window);
    return std::clamp(kCaptionHeight, 0, std::max(0, height));
}

void PaintCaption(Window* window) {
    if (CaptionHeight(window) == 0) return;
    const HDC dc = GetWindowDC(window->handle);
    if (!dc) return;
    const int32_t width = window->rect.right - window->rect.left;
    const int32_t height = window->rect.bottom - window->rect.top;
    if (BorderOf(window)) {
        const RECT frame{0, 0, width, height};
        FrameRect(dc, &frame, GetSysColorBrush(COLOR_WINDOWFRAME));
    }
    const RECT bar = CaptionBar(window);
    FillRect(dc, &bar, GetSysColorBrush(COLOR_ACTIVECAPTION));
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, GetSysColor(COLOR_CAPTIONTEXT));
    RECT title{bar.left + 4, bar.top, bar.right - 2, bar.bottom};
    if (HasOkBox(window)) {
        RECT ok = OkBox(window);
        title.right = ok.left - 2;
        FrameRect(dc, &ok, GetSysColorBrush(COLOR_CAPTIONTEXT));
        DrawTextW(dc, u"OK", 2, &ok, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
    }
    DrawTextW(dc, window->text.c_str(), static_cast<int>(window->text.size()), &title,
              DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
    ReleaseDC(window->handle, dc);
}

bool CaptionTakesStylus(Window* target, POINT screen, StylusAction action) {
    const HWND handle = target->handle;
    const RECT rect = ScreenRect(target);
    const POINT point{screen.x - rect.left, screen.y - rect.top};
    const bool inCaption = CaptionHeight(target) > 0 && Inside(CaptionBar(target), point);
    const bool onOk = HasOkBox(target) && Inside(OkBox(target), point);
    switch (action) {
    case StylusAction::Down:
        gOkPressed = onOk ? handle : 0;
        return inCaption;
    case StylusAction::Move:
        return inCaption || gOkPressed == handle;
    case StylusAction::Up: {
        const bool pressed = gOkPressed == handle;
        gOkPressed = 0;
        if (pressed && onOk) (void)PostMessageW(handle, WM_COMMAND, static_cast<WPARAM>(IDOK), 0);
        return inCaption || pressed;
    }
    }
    return false;
}

}  // namespace wm

RECT CaptionOkRect(HWND handle) {
    const wm::Window* window = wm::Find(handle);
    if (!window || !wm::HasOkBox(window)) return RECT{};
    const RECT box = wm::OkBox(window);
    const RECT rect = wm::ScreenRect(window);
    return RECT{box.left + rect.left, box.top + rect.top, box.right + rect.left, box.bottom + rect.top};
}

}  // namespace qob::platform
