// platform/window_manager/internal.h
// The window manager's own records, shared by its files: classes, windows,
// timers and the process-wide state. Callers are serialised (the window
// layer's interpreter lock), so the state takes no lock of its own.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/input.h"
#include "platform/window_manager.h"

namespace qob::platform::wm {

struct WindowClass {
    std::u16string name;
    std::u16string folded;  // upper-cased for matching
    WNDCLASSW info;         // lpszClassName points at name
    int windowCount = 0;
};

struct Window {
    HWND handle = 0;
    WindowClass* windowClass = nullptr;
    std::u16string text;
    uint32_t style = 0;
    uint32_t exStyle = 0;
    RECT rect{};  // screen coordinates for a top-level window, the parent's client ones for a child
    Window* parent = nullptr;
    Window* owner = nullptr;
    std::vector<Window*> children;  // front first
    WNDPROC procedure = nullptr;
    intptr_t userData = 0;
    uintptr_t id = 0;
    std::vector<uint8_t> extraBytes;
    ThreadId thread = 0;
    bool destroying = false;  // DestroyWindow has begun
    bool dead = false;        // its handle is gone
    bool inShowWindow = false;
    bool idleClosed = false;  // the idle policy sent it WM_CLOSE once
    bool shellWindow = false; // the task bar, desktop, input panel, menu bars, open menus: never activated, never closed when idle
    int sendDepth = 0;        // procedure calls under way: the memory stays until 0
    bool invalid = false;
    bool erase = false;
    RECT update{};            // client coordinates
    // Top-level windows: the pixels, covering the part of the window on the
    // screen. The surface's size follows the window at once; its pixels are
    // made (blank) when first drawn into or read, so a window that is never
    // drawn costs no memory: until then surface.pixels is null.
    std::vector<uint32_t> pixels;
    Surface32 surface;
    POINT surfaceOrigin{0, 0};  // screen point of the surface's (0, 0)
};

struct Timer {
    HWND window;
    uintptr_t id;
    uint32_t interval;
    uint32_t due;  // tick count
    TIMERPROC procedure;
    ThreadId thread;
};

struct State {
    std::vector<std::unique_ptr<WindowClass>> classes;
    std::vector<Window*> topLevels;  // front first; the desktop last
    std::vector<Window*> graveyard;  // destroyed, still inside a procedure call
    std::vector<Timer> timers;
    HWND focus = 0;
    HWND active = 0;
    HWND capture = 0;
    SIZE screen{240, 320};
    bool screenRead = false;
    IdlePolicy idlePolicy = IdlePolicy::Fail;
    bool idleFailed = false;
    WaitWrapper waitWrapper = nullptr;
    ScreenPresenter* presenter = nullptr;
    uintptr_t nextThreadTimerId = 1;
    int liveWindows = 0;
    // The screen and whether something on it changed since it was composed.
    std::vector<uint32_t> screenPixels;
    Surface32 screenSurface;
    bool screenDirty = true;
    // Double-click detection.
    HWND lastDownWindow = 0;
    uint32_t lastDownTick = 0;
    POINT lastDownPoint{0, 0};
    bool lastDownWasDouble = false;
};

State& S();

// A live window's record, or null.
Window* Find(HWND handle);
bool IsTopLevel(const Window* window);
// The top-level window a window belongs to.
Window* TopLevelOf(Window* window);
// The window's rectangle in screen coordinates and its client rectangle.
RECT ScreenRect(const Window* window);
RECT ClientRectInWindow(const Window* window);  // the client area in the window's own coordinates
POINT ClientOriginOnScreen(const Window* window);
bool IsShown(const Window* window);  // it and all its parents are visible

// Runs a window procedure, keeping the window's memory for the call.
LRESULT CallProcedure(Window* window, UINT message, WPARAM wParam, LPARAM lParam);

// The screen needs composing again (a window changed what is visible).
void MarkScreenDirty();
// The surface of a top-level window follows its rectangle and the screen.
void UpdateSurface(Window* window);
// Surface pixels of a top-level window are no longer composed.
void DropSurface(Window* window);
// Whether a top-level window's surface covers any pixel of the screen, and
// its pixels, made blank when they do not exist yet.
bool HasSurfaceArea(const Window* window);
void MakeSurfacePixels(Window* window);
// What every pixel of a surface holds until something draws there.
constexpr uint32_t kBlankSurfacePixel = 0x00FFFFFF;

// Makes a top-level window the active one and gives it the focus.
void Activate(Window* window, WPARAM how);
// Activates the best window left when the active one went away.
void ActivateNext(Window* leaving);

bool RectIsEmpty(const RECT& rect);
RECT Intersect(const RECT& a, const RECT& b);
RECT Union(const RECT& a, const RECT& b);
bool Contains(const RECT& rect, POINT point);

// The caption (caption.cpp): its height for a WS_CAPTION window (0 for
// others), its picture, and the stylus on it: true when the caption takes
// the event (the client hears nothing of it).
int32_t CaptionHeight(const Window* window);
void PaintCaption(Window* window);
bool CaptionTakesStylus(Window* target, POINT screen, StylusAction action);

// A copy of a UTF-16 text in low memory (freed with FreeBlock); null for none.
char16_t* LowMemoryText(const std::u16string& text);

}  // namespace qob::platform::wm
