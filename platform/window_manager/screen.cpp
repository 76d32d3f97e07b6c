// platform/window_manager/screen.cpp
// The device screen: its size, the top-level windows' surfaces, where a
// window draws, the composition bottom to top, and the reset of everything.

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/controls/accelerators.h"
#include "platform/controls/menus.h"
#include "platform/gdi.h"
#include "platform/input.h"
#include "platform/shell.h"
#include "platform/window_manager/internal.h"

namespace qob::platform {

using namespace wm;

namespace {

constexpr SIZE kDefaultScreen{240, 320};

// "WxH" with both sides 1..4096; anything else is reported and the default used.
SIZE ReadScreenSize() {
    const char* value = std::getenv("QOB_SCREEN");
    if (!value || !*value) return kDefaultScreen;
    int width = 0, height = 0, used = 0;
    if (std::sscanf(value, "%dx%d%n", &width, &height, &used) == 2 && value[used] == 0 && width >= 1 &&
        width <= 4096 && height >= 1 && height <= 4096)
        return SIZE{width, height};
    std::fprintf(stderr, "QOB_SCREEN: \"%s\" is not WxH (1 to 4096 each); the screen is %dx%d\n", value,
                 kDefaultScreen.cx, kDefaultScreen.cy);
    return kDefaultScreen;
}

RECT ScreenBounds() {
    const SIZE size = ScreenSize();
    return RECT{0, 0, size.cx, size.cy};
}

void EnsureScreenSurface() {
    State& s = S();
    const SIZE size = ScreenSize();
    if (s.screenSurface.width == size.cx && s.screenSurface.height == size.cy && !s.screenPixels.empty()) return;
    s.screenPixels.assign(static_cast<size_t>(size.cx) * size.cy, 0);
    s.screenSurface = Surface32{s.screenPixels.data(), size.cx, size.cy, size.cx};
    s.screenDirty = true;
}

}  // namespace

namespace wm {

void MarkScreenDirty() {
    S().screenDirty = true;
    if (S().presenter) WakeQueueWaiters();
}

void UpdateSurface(Window* window) {
    const RECT onScreen = Intersect(window->rect, ScreenBounds());
    const int32_t width = onScreen.right - onScreen.left;
    const int32_t height = onScreen.bottom - onScreen.top;
    const POINT origin{onScreen.left, onScreen.top};
    if (window->surface.width == width && window->surface.height == height && window->surfaceOrigin.x == origin.x &&
        window->surfaceOrigin.y == origin.y)
        return;
    // A surface whose pixels exist gets its new ones now: a DC kept across
    // the change draws into them. Others stay without until first needed.
    const bool made = window->surface.pixels != nullptr;
    window->pixels.clear();
    window->surface = Surface32{nullptr, width, height, width};
    window->surfaceOrigin = origin;
    if (made) MakeSurfacePixels(window);
    if (window->handle) InvalidateRect(window->handle, nullptr, true);
}

bool HasSurfaceArea(const Window* window) { return window->surface.width > 0 && window->surface.height > 0; }

void MakeSurfacePixels(Window* window) {
    if (window->surface.pixels || !HasSurfaceArea(window)) return;
    window->pixels.assign(static_cast<size_t>(window->surface.width) * window->surface.height, kBlankSurfacePixel);
    window->surface.pixels = window->pixels.data();
}

void DropSurface(Window* window) {
    window->pixels.clear();
    window->pixels.shrink_to_fit();
    window->surface = Surface32{};
}

}  // namespace wm

SIZE ScreenSize() {
    State& s = S();
    if (!s.screenRead) {
        s.screen = ReadScreenSize();
        s.screenRead = true;
        SetGdiScreenSize(s.screen);
    }
    return s.screen;
}

int GetSystemMetrics(int index) {
    const SIZE size = ScreenSize();
    if (index == SM_CXSCREEN) return size.cx;
    if (index == SM_CYSCREEN) return size.cy;
    if (index == SM_CYCAPTION) return kCaptionHeight;
    return 0;
}

bool SystemParametersInfoW(UINT action, UINT, void* value, UINT) {
    if (action != SPI_GETWORKAREA || !value) return false;
    const SIZE size = ScreenSize();
    *static_cast<RECT*>(value) = RECT{0, std::min(kTaskBarHeight, size.cy), size.cx, size.cy};
    return true;
}

bool GetWindowDrawTarget(HWND handle, bool wholeWindow, DrawTarget* target) {
    Window* window = Find(handle);
    Window* top = window ? TopLevelOf(window) : nullptr;
    if (!top || !target || !HasSurfaceArea(top)) return false;
    MakeSurfacePixels(top);
    const RECT rect = ScreenRect(window);
    const RECT client = ClientRectInWindow(window);
    RECT area = wholeWindow ? rect
                            : RECT{rect.left + client.left, rect.top + client.top, rect.left + client.right,
                                   rect.top + client.bottom};
    const POINT origin{area.left, area.top};
    for (Window* p = window; !IsTopLevel(p); p = p->parent) {
        const RECT parentRect = ScreenRect(p->parent);
        const RECT parentClient = ClientRectInWindow(p->parent);
        area = Intersect(area, RECT{parentRect.left + parentClient.left, parentRect.top + parentClient.top,
                                    parentRect.left + parentClient.right, parentRect.top + parentClient.bottom});
    }
    const POINT base = top->surfaceOrigin;
    target->surface = &top->surface;
    target->origin = POINT{origin.x - base.x, origin.y - base.y};
    target->clip = Intersect(RECT{area.left - base.x, area.top - base.y, area.right - base.x, area.bottom - base.y},
                             RECT{0, 0, top->surface.width, top->surface.height});
    return true;
}

bool ComposeScreen() {
    State& s = S();
    EnsureScreenSurface();
    if (!s.screenDirty) return false;
    s.screenDirty = false;
    Surface32& screen = s.screenSurface;
    // Everything below the front-most window that covers the whole screen
    // is hidden: composing starts there, and only without one is the screen
    // cleared first.
    const RECT bounds = ScreenBounds();
    auto start = s.topLevels.rend();
    for (auto it = s.topLevels.begin(); it != s.topLevels.end(); ++it) {
        const Window* window = *it;
        if ((window->style & WS_VISIBLE) && HasSurfaceArea(window) && window->surfaceOrigin.x == 0 &&
            window->surfaceOrigin.y == 0 && window->surface.width == bounds.right &&
            window->surface.height == bounds.bottom) {
            start = std::make_reverse_iterator(it + 1);
            break;
        }
    }
    if (start == s.topLevels.rend()) {
        std::fill(s.screenPixels.begin(), s.screenPixels.end(), 0);
        start = s.topLevels.rbegin();
    }
    for (auto it = start; it != s.topLevels.rend(); ++it) {
        const Window* window = *it;
        if (!(window->style & WS_VISIBLE) || !HasSurfaceArea(window)) continue;
        const Surface32& from = window->surface;
        const int32_t x = window->surfaceOrigin.x;
        const int32_t y = window->surfaceOrigin.y;
        for (int32_t row = 0; row < from.height; ++row) {
            uint32_t* to = screen.pixels + static_cast<size_t>(y + row) * screen.stride + x;
            if (from.pixels)
                std::memcpy(to, from.pixels + static_cast<size_t>(row) * from.stride, static_cast<size_t>(from.width) * 4);
            else
                std::fill_n(to, from.width, kBlankSurfacePixel);  // never drawn: still blank
        }
    }
    return true;
}

const Surface32& ScreenSurface() {
    EnsureScreenSurface();
    return S().screenSurface;
}

void ResetWindowManager() {
    State& s = S();
    ForgetShell();
    std::vector<HWND> handles;
    for (Window* window : s.topLevels) handles.push_back(window->handle);
    for (HWND handle : handles) DestroyWindow(handle);
    s.classes.clear();
    s.timers.clear();
    s.focus = s.active = s.capture = 0;
    s.screenRead = false;
    s.screenPixels.clear();
    s.screenSurface = Surface32{};
    s.screenDirty = true;
    s.idleFailed = false;
    s.lastDownWindow = 0;
    s.lastDownWasDouble = false;
    ClearScheduledInput();
    ForgetMenus();
    ForgetAcceleratorTables();
}

}  // namespace qob::platform
