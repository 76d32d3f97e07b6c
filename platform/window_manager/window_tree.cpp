// platform/window_manager/window_tree.cpp
// Classes and windows: creation, the tree and the z-order, destruction,
// showing, moving, enabling, focus, activation, capture and window words.

#include <algorithm>
#include <cstring>

#include "platform/controls/system_classes.h"
#include "platform/memory.h"
#include "platform/shell.h"
#include "platform/window_manager/internal.h"

namespace qob::platform {
namespace wm {

State& S() {
    static State* state = new State;  // outlives every static that might destroy a window
    return *state;
}

Window* Find(HWND handle) {
    if (handle == 0) return nullptr;
    return static_cast<Window*>(HandleObject(handle, HandleKind::Window));
}

bool IsTopLevel(const Window* window) { return (window->style & WS_CHILD) == 0 || !window->parent; }

Window* TopLevelOf(Window* window) {
    while (window && !IsTopLevel(window)) window = window->parent;
    return window;
}

RECT ScreenRect(const Window* window) {
    RECT rect = window->rect;
    if (IsTopLevel(window)) return rect;
    const POINT origin = ClientOriginOnScreen(window->parent);
    return RECT{rect.left + origin.x, rect.top + origin.y, rect.right + origin.x, rect.bottom + origin.y};
}

RECT ClientRectInWindow(const Window* window) {
    const int32_t width = window->rect.right - window->rect.left;
    const int32_t height = window->rect.bottom - window->rect.top;
    const int32_t border = (window->style & WS_BORDER) && width >= 2 && height >= 2 ? 1 : 0;
    return RECT{border, border + CaptionHeight(window), width - border, height - border};
}

POINT ClientOriginOnScreen(const Window* window) {
    const RECT rect = ScreenRect(window);
    const RECT client = ClientRectInWindow(window);
    return POINT{rect.left + client.left, rect.top + client.top};
}

bool IsShown(const Window* window) {
    for (const Window* w = window; w; w = IsTopLevel(w) ? nullptr : w->parent)
        if (!(w->style & WS_VISIBLE)) return false;
    return true;
}

bool RectIsEmpty(const RECT& r) { return r.right <= r.left || r.bottom <= r.top; }

RECT Intersect(const RECT& a, const RECT& b) {
    RECT r{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right), std::min(a.bottom, b.bottom)};
    if (RectIsEmpty(r)) r = RECT{0, 0, 0, 0};
    return r;
}

RECT Union(const RECT& a, const RECT& b) {
    if (RectIsEmpty(a)) return b;
    if (RectIsEmpty(b)) return a;
    return RECT{std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
                std::max(a.bottom, b.bottom)};
}

bool Contains(const RECT& r, POINT p) { return p.x >= r.left && p.x < r.right && p.y >= r.top && p.y < r.bottom; }

char16_t* LowMemoryText(const std::u16string& text) {
    auto* copy = static_cast<char16_t*>(AllocateBlock((text.size() + 1) * sizeof(char16_t)));
    if (!copy) return nullptr;
    std::memcpy(copy, text.data(), text.size() * sizeof(char16_t));
    copy[text.size()] = 0;
    return copy;
}

LRESULT CallProcedure(Window* window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (!window->procedure) return 0;
    ++window->sendDepth;
    const LRESULT result = window->procedure(window->handle, message, wParam, lParam);
    if (--window->sendDepth == 0 && window->dead) {
        std::erase(S().graveyard, window);
        delete window;
    }
    return result;
}

}  // namespace wm


using namespace wm;

namespace {

std::u16string Fold(std::u16string_view name) {
    std::u16string folded(name);
    for (char16_t& c : folded)
        if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
    return folded;
}

std::u16string_view View(const char16_t* text) {
    if (!text) return {};
    size_t length = 0;
    while (text[length]) ++length;
    return {text, length};
}

WindowClass* FindRegisteredClass(const std::u16string& folded) {
    for (auto& c : S().classes)
        if (c->folded == folded) return c.get();
    return nullptr;
}

// A name not found may be a system class not registered yet (at the start,
// or after ResetWindowManager): those are registered on the first miss.
WindowClass* FindClass(std::u16string_view name) {
    const std::u16string folded = Fold(name);
    if (WindowClass* found = FindRegisteredClass(folded)) return found;
    static bool registeringSystemClasses = false;
    if (registeringSystemClasses) return nullptr;
    registeringSystemClasses = true;
    RegisterSystemClasses();
    registeringSystemClasses = false;
    return FindRegisteredClass(folded);
}

int32_t ClampSize(int32_t size) { return std::clamp(size, 0, 32767); }

RECT WorkArea() {
    RECT area{};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
    return area;
}

std::vector<Window*>& SiblingsOf(Window* window) {
    return IsTopLevel(window) ? S().topLevels : window->parent->children;
}

// Where a top-level window may go in the z-order: topmost windows above the
// others, the desktop always at the bottom.
bool IsDesktop(const Window* window) { return window->handle == GetDesktopWindow() && window->handle != 0; }

// Puts the window into its sibling list at the place insertAfter names.
void PlaceAmongSiblings(Window* window, HWND insertAfter) {
    std::vector<Window*>& siblings = SiblingsOf(window);
    std::erase(siblings, window);
    const bool topLevel = IsTopLevel(window);
    auto firstNonTopmost = [&] {
        auto it = siblings.begin();
        while (it != siblings.end() && ((*it)->exStyle & WS_EX_TOPMOST)) ++it;
        return it;
    };
    auto aboveDesktop = [&] {
        auto it = siblings.end();
        if (topLevel && !siblings.empty() && IsDesktop(siblings.back())) --it;
        return it;
    };
    if (topLevel && IsDesktop(window)) {
        siblings.push_back(window);
        return;
    }
    if (insertAfter == HWND_TOPMOST) window->exStyle |= WS_EX_TOPMOST;
    if (insertAfter == HWND_NOTOPMOST) window->exStyle &= ~WS_EX_TOPMOST;
    if (insertAfter == HWND_TOP || insertAfter == HWND_TOPMOST || insertAfter == HWND_NOTOPMOST) {
        siblings.insert(topLevel && !(window->exStyle & WS_EX_TOPMOST) ? firstNonTopmost() : siblings.begin(),
                        window);
        return;
    }
    if (insertAfter == HWND_BOTTOM) {
        siblings.insert(aboveDesktop(), window);
        return;
    }
    Window* after = Find(insertAfter);
    auto it = after ? std::find(siblings.begin(), siblings.end(), after) : siblings.end();
    if (it == siblings.end()) {
        siblings.insert(topLevel ? firstNonTopmost() : siblings.begin(), window);
        return;
    }
    ++it;
    if (topLevel && it == siblings.end() && !siblings.empty() && IsDesktop(siblings.back())) --it;
    if (topLevel && after && IsDesktop(after)) it = aboveDesktop();
    siblings.insert(it, window);
}

// An owned top-level window stays in front of its owner, as a form's menu
// bar and dialogs stay in front of the form however it is raised: each one
// found behind its owner goes to just in front of it (its own owned windows
// follow on the next rounds).
void KeepOwnedInFront(std::vector<Window*>& topLevels) {
    for (size_t rounds = 0; rounds <= topLevels.size(); ++rounds) {
        bool moved = false;
        for (size_t i = 0; i < topLevels.size(); ++i) {
            Window* owned = topLevels[i];
            if (!owned->owner) continue;
            const auto front = topLevels.begin();
            const auto ownerAt = std::find(front, front + static_cast<std::ptrdiff_t>(i), owned->owner);
            if (ownerAt == front + static_cast<std::ptrdiff_t>(i)) continue;
            const auto ownerIndex = ownerAt - front;
            topLevels.erase(front + static_cast<std::ptrdiff_t>(i));
            topLevels.insert(topLevels.begin() + ownerIndex, owned);
            moved = true;
        }
        if (!moved) return;
    }
}

void PlaceInZOrder(Window* window, HWND insertAfter) {
    PlaceAmongSiblings(window, insertAfter);
    if (IsTopLevel(window)) KeepOwnedInFront(S().topLevels);
}

void SendFocusChange(HWND from, HWND to) {
    S().focus = to;
    if (Window* old = Find(from)) CallProcedure(old, WM_KILLFOCUS, to, 0);
    if (S().focus != to) return;  // the procedure moved the focus on
    if (Window* now = Find(to)) CallProcedure(now, WM_SETFOCUS, from, 0);
}

bool IsInside(const Window* window, const Window* ancestor) {
    for (const Window* w = window; w; w = IsTopLevel(w) ? nullptr : w->parent)
        if (w == ancestor) return true;
    return false;
}

// Whether the window can become the active one.
bool CanActivate(const Window* window) {
    return window && !window->destroying && IsTopLevel(window) && (window->style & WS_VISIBLE) &&
           !(window->style & WS_DISABLED) && !IsDesktop(window) && !window->shellWindow && window->procedure;
}

void ReleaseWindow(Window* window) {
    window->dead = true;
    FreeHandle(window->handle);
    UnbindWindow(window->handle);
    if (window->windowClass) --window->windowClass->windowCount;
    --S().liveWindows;
    DropSurface(window);
    if (window->sendDepth > 0) S().graveyard.push_back(window);
    else delete window;
}

void SendDestroy(Window* window) {
    CallProcedure(window, WM_DESTROY, 0, 0);
    const std::vector<Window*> children = window->children;
    for (Window* child : children)
        if (!child->dead) SendDestroy(child);
}

void SendNcDestroyAndRelease(Window* window) {
    const std::vector<Window*> children = window->children;
    for (Window* child : children)
        if (!child->dead) SendNcDestroyAndRelease(child);
    std::erase_if(S().timers, [window](const Timer& t) { return t.window == window->handle; });
    // The class no longer counts the window: a procedure may unregister it
    // while the window hears its last message.
    if (window->windowClass) --window->windowClass->windowCount;
    window->windowClass = nullptr;
    CallProcedure(window, WM_NCDESTROY, 0, 0);
    if (window->dead) return;
    if (window->parent && !IsTopLevel(window)) std::erase(window->parent->children, window);
    else std::erase(S().topLevels, window);
    for (Window* child : window->children) child->parent = nullptr;
    window->children.clear();
    for (Window* top : S().topLevels)
        if (top->owner == window) top->owner = nullptr;
    ReleaseWindow(window);
}

void Reposition(Window* window, const RECT& rect) {
    const bool shown = IsShown(window);
    window->rect = rect;
    if (IsTopLevel(window)) UpdateSurface(window);
    if (shown) MarkScreenDirty();
}

}  // namespace

namespace wm {

void Activate(Window* window, WPARAM how) {
    State& s = S();
    const HWND old = s.active;
    if (old == window->handle) return;
    s.active = window->handle;
    RefreshTaskBar();
    if (Window* previous = Find(old)) CallProcedure(previous, WM_ACTIVATE, WA_INACTIVE, static_cast<LPARAM>(window->handle));
    if (s.active != window->handle || window->dead) return;
    CallProcedure(window, WM_ACTIVATE, how, static_cast<LPARAM>(old));
}

void ActivateNext(Window* leaving) {
    State& s = S();
    Window* next = nullptr;
    if (leaving && leaving->owner && CanActivate(leaving->owner)) next = leaving->owner;
    for (size_t i = 0; !next && i < s.topLevels.size(); ++i)
        if (s.topLevels[i] != leaving && CanActivate(s.topLevels[i]) && !(s.topLevels[i]->exStyle & WS_EX_TOPMOST))
            next = s.topLevels[i];
    if (next) {
        Activate(next, WA_ACTIVE);
        return;
    }
    const HWND old = s.active;
    s.active = 0;
    RefreshTaskBar();
    if (Window* previous = Find(old); previous && !previous->destroying)
        CallProcedure(previous, WM_ACTIVATE, WA_INACTIVE, 0);
    if (s.focus) SendFocusChange(s.focus, 0);
}

}  // namespace wm

// --- classes ---------------------------------------------------------------------------

ATOM RegisterClassW(const WNDCLASSW* windowClass) {
    if (!windowClass || !windowClass->lpszClassName || !windowClass->lpfnWndProc) return 0;
    const std::u16string_view name = View(windowClass->lpszClassName);
    if (name.empty() || FindClass(name)) return 0;
    auto record = std::make_unique<WindowClass>();
    record->name = std::u16string(name);
    record->folded = Fold(name);
    record->info = *windowClass;
    record->info.lpszClassName = record->name.c_str();
    record->info.lpszMenuName = nullptr;
    S().classes.push_back(std::move(record));
    return static_cast<ATOM>(0xC000 + S().classes.size() % 0x3FFF);
}

bool UnregisterClassW(const char16_t* className, HINSTANCE) {
    WindowClass* record = className ? FindClass(View(className)) : nullptr;
    if (!record || record->windowCount > 0) return false;
    std::erase_if(S().classes, [record](const auto& c) { return c.get() == record; });
    return true;
}

bool GetClassInfoW(HINSTANCE, const char16_t* className, WNDCLASSW* out) {
    WindowClass* record = className ? FindClass(View(className)) : nullptr;
    if (!record || !out) return false;
    *out = record->info;
    return true;
}

int GetClassNameW(HWND handle, char16_t* buffer, int count) {
    Window* window = Find(handle);
    if (!window || !buffer || count <= 0 || !window->windowClass) return 0;
    const std::u16string& name = window->windowClass->name;
    const int length = std::min(static_cast<int>(name.size()), count - 1);
    std::copy_n(name.data(), length, buffer);
    buffer[length] = 0;
    return length;
}

// --- creation and destruction -----------------------------------------------------------

HWND CreateWindowExW(uint32_t exStyle, const char16_t* className, const char16_t* title, uint32_t style,
                     int32_t x, int32_t y, int32_t width, int32_t height, HWND parentHandle, HMENU menuOrId,
                     HINSTANCE instance, void* createParams) {
    WindowClass* windowClass = className ? FindClass(View(className)) : nullptr;
    if (!windowClass) return 0;
    Window* parent = Find(parentHandle);
    if ((style & WS_CHILD) && !parent) return 0;
    if (parent && parent->destroying) return 0;
    const RECT work = WorkArea();
    if (x == CW_USEDEFAULT) {
        x = (style & WS_CHILD) ? 0 : work.left;
        y = (style & WS_CHILD) ? 0 : work.top;
    }
    if (width == CW_USEDEFAULT) {
        width = work.right - work.left;
        height = work.bottom - work.top;
    }
    width = ClampSize(width);
    height = ClampSize(height);

    auto* window = new Window;
    window->handle = NewHandle(HandleKind::Window, window);
    if (window->handle == 0) {
        delete window;
        return 0;
    }
    window->windowClass = windowClass;
    ++windowClass->windowCount;
    ++S().liveWindows;
    window->text = std::u16string(View(title));
    window->style = style & ~WS_VISIBLE;
    window->exStyle = exStyle;
    window->rect = RECT{x, y, static_cast<int32_t>(std::min<int64_t>(int64_t{x} + width, INT32_MAX)),
                        static_cast<int32_t>(std::min<int64_t>(int64_t{y} + height, INT32_MAX))};
    window->procedure = windowClass->info.lpfnWndProc;
    window->extraBytes.assign(static_cast<size_t>(std::max(0, windowClass->info.cbWndExtra)), 0);
    window->thread = GetCurrentThreadId();
    if (style & WS_CHILD) {
        window->parent = parent;
        window->id = menuOrId;
        parent->children.insert(parent->children.begin(), window);
    } else {
        window->owner = parent ? TopLevelOf(parent) : nullptr;
        PlaceInZOrder(window, HWND_TOP);
        UpdateSurface(window);
    }
    BindWindowToThread(window->handle);
    const HWND handle = window->handle;

    CREATESTRUCTW* create = static_cast<CREATESTRUCTW*>(AllocateZeroedBlock(sizeof(CREATESTRUCTW)));
    char16_t* nameCopy = LowMemoryText(window->text);
    char16_t* classCopy = LowMemoryText(windowClass->name);
    if (create) {
        *create = CREATESTRUCTW{static_cast<uint32_t>(reinterpret_cast<uintptr_t>(createParams)),
                                static_cast<uint32_t>(instance),
                                static_cast<uint32_t>(menuOrId),
                                static_cast<uint32_t>(parentHandle),
                                height,
                                width,
                                y,
                                x,
                                static_cast<int32_t>(style),
                                static_cast<uint32_t>(reinterpret_cast<uintptr_t>(nameCopy)),
                                static_cast<uint32_t>(reinterpret_cast<uintptr_t>(classCopy)),
                                exStyle};
    }
    const LRESULT created = CallProcedure(window, WM_CREATE, 0, reinterpret_cast<LPARAM>(create));
    FreeBlock(create);
    FreeBlock(nameCopy);
    FreeBlock(classCopy);
    if (!IsWindow(handle)) return 0;
    if (created == -1) {
        DestroyWindow(handle);
        return 0;
    }
    const RECT client = ClientRectInWindow(window);
    CallProcedure(window, WM_SIZE, SIZE_RESTORED,
                  static_cast<LPARAM>((client.right - client.left) & 0xFFFF) |
                      (static_cast<LPARAM>((client.bottom - client.top) & 0xFFFF) << 16));
    if (!IsWindow(handle)) return 0;
    CallProcedure(window, WM_MOVE, 0,
                  static_cast<LPARAM>(static_cast<uint16_t>(window->rect.left)) |
                      (static_cast<LPARAM>(static_cast<uint16_t>(window->rect.top)) << 16));
    if (!IsWindow(handle)) return 0;
    if (style & WS_DISABLED) window->style |= WS_DISABLED;
    if (style & WS_VISIBLE) ShowWindow(handle, SW_SHOW);
    return IsWindow(handle) ? handle : 0;
}

bool DestroyWindow(HWND handle) {
    Window* window = Find(handle);
    if (!window || window->destroying) return false;
    State& s = S();
    window->destroying = true;
    if (window->style & WS_VISIBLE) {
        window->style &= ~WS_VISIBLE;
        MarkScreenDirty();
    }
    // Owned pop-ups go first, each through its own destruction.
    std::vector<HWND> owned;
    for (Window* top : s.topLevels)
        if (top->owner == window) owned.push_back(top->handle);
    for (HWND popup : owned) DestroyWindow(popup);

    const bool hadActive = [&] {
        Window* active = Find(s.active);
        return active && IsInside(active, window);
    }();
    SendDestroy(window);
    Window* parent = IsTopLevel(window) ? nullptr : window->parent;
    Window* owner = window->owner;
    const bool focusInside = [&] {
        Window* focus = Find(s.focus);
        return focus && IsInside(focus, window);
    }();
    const bool captureInside = [&] {
        Window* capture = Find(s.capture);
        return capture && IsInside(capture, window);
    }();
    SendNcDestroyAndRelease(window);

    // The windows left take over what the destroyed ones had.
    if (captureInside || (s.capture && !Find(s.capture))) s.capture = 0;
    if (hadActive || (s.active && !Find(s.active))) {
        s.active = 0;
        Window* next = owner && CanActivate(owner) ? owner : nullptr;
        for (size_t i = 0; !next && i < s.topLevels.size(); ++i)
            if (CanActivate(s.topLevels[i]) && !(s.topLevels[i]->exStyle & WS_EX_TOPMOST)) next = s.topLevels[i];
        s.focus = 0;
        if (next) Activate(next, WA_ACTIVE);
        RefreshTaskBar();
    } else if (focusInside || (s.focus && !Find(s.focus))) {
        s.focus = 0;
        if (parent && !parent->destroying && Find(parent->handle)) SendFocusChange(0, parent->handle);
    }
    return true;
}

bool IsWindow(HWND handle) { return Find(handle) != nullptr; }

bool IsWindowVisible(HWND handle) {
    Window* window = Find(handle);
    return window && IsShown(window);
}

bool IsWindowEnabled(HWND handle) {
    Window* window = Find(handle);
    return window && !(window->style & WS_DISABLED);
}

bool IsChild(HWND parentHandle, HWND handle) {
    Window* parent = Find(parentHandle);
    Window* window = Find(handle);
    return parent && window && window != parent && IsInside(window, parent);
}

bool SetWindowOwner(HWND handle, HWND ownerHandle) {
    Window* window = Find(handle);
    Window* owner = Find(ownerHandle);
    if (owner) owner = TopLevelOf(owner);
    if (!window || !owner || window == owner || (window->style & WS_CHILD)) return false;
    for (const Window* w = owner; w; w = w->owner)
        if (w == window) return false;
    window->owner = owner;
    return true;
}

HWND GetParent(HWND handle) {
    Window* window = Find(handle);
    if (!window) return 0;
    if ((window->style & WS_CHILD) && window->parent) return window->parent->handle;
    return window->owner ? window->owner->handle : 0;
}

HWND GetWindow(HWND handle, UINT relation) {
    Window* window = Find(handle);
    if (!window) return 0;
    if (relation == GW_OWNER) return window->owner ? window->owner->handle : 0;
    if (relation == GW_CHILD) return window->children.empty() ? 0 : window->children.front()->handle;
    const std::vector<Window*>& siblings = SiblingsOf(window);
    auto it = std::find(siblings.begin(), siblings.end(), window);
    if (it == siblings.end()) return 0;
    if (relation == GW_HWNDNEXT) return it + 1 == siblings.end() ? 0 : (*(it + 1))->handle;
    if (relation == GW_HWNDPREV) return it == siblings.begin() ? 0 : (*(it - 1))->handle;
    return 0;
}

// --- showing, moving, enabling ------------------------------------------------------------

bool ShowWindow(HWND handle, int command) {
    Window* window = Find(handle);
    if (!window) return false;
    const bool wasVisible = (window->style & WS_VISIBLE) != 0;
    const bool show = command != SW_HIDE && command != SW_MINIMIZE;
    if (window->inShowWindow || show == wasVisible || window->destroying) {
        // Already so, or nested in its own WM_SHOWWINDOW: only activation of
        // a shown top-level window may still be asked for.
        if (show && wasVisible && !window->inShowWindow && IsTopLevel(window) && command != SW_SHOWNA &&
            command != SW_SHOWNOACTIVATE && CanActivate(window) && S().active != handle) {
            PlaceInZOrder(window, HWND_TOP);
            Activate(window, WA_ACTIVE);
        }
        return wasVisible;
    }
    window->inShowWindow = true;
    CallProcedure(window, WM_SHOWWINDOW, show ? 1 : 0, 0);
    window->inShowWindow = false;
    if (!IsWindow(handle)) return wasVisible;
    if (show) window->style |= WS_VISIBLE;
    else window->style &= ~WS_VISIBLE;
    MarkScreenDirty();
    if (show) {
        InvalidateRect(handle, nullptr, true);
        if (IsTopLevel(window) && command != SW_SHOWNA && command != SW_SHOWNOACTIVATE && CanActivate(window)) {
            PlaceInZOrder(window, HWND_TOP);
            Activate(window, WA_ACTIVE);
        }
    } else {
        State& s = S();
        if (Window* capture = Find(s.capture); capture && IsInside(capture, window)) s.capture = 0;
        if (IsTopLevel(window) && s.active == handle) ActivateNext(window);
        else if (Window* focus = Find(s.focus); focus && IsInside(focus, window) && !IsTopLevel(window))
            SendFocusChange(s.focus, window->parent ? window->parent->handle : 0);
    }
    return wasVisible;
}

bool SetWindowPos(HWND handle, HWND insertAfter, int32_t x, int32_t y, int32_t width, int32_t height, UINT flags) {
    Window* window = Find(handle);
    if (!window) return false;
    RECT rect = window->rect;
    if (!(flags & SWP_NOMOVE)) {
        const int32_t w = rect.right - rect.left;
        const int32_t h = rect.bottom - rect.top;
        rect = RECT{x, y, x + w, y + h};
    }
    if (!(flags & SWP_NOSIZE)) {
        rect.right = static_cast<int32_t>(std::min<int64_t>(int64_t{rect.left} + ClampSize(width), INT32_MAX));
        rect.bottom = static_cast<int32_t>(std::min<int64_t>(int64_t{rect.top} + ClampSize(height), INT32_MAX));
    }
    Reposition(window, rect);
    if (!(flags & SWP_NOZORDER)) {
        PlaceInZOrder(window, insertAfter);
        if (IsShown(window)) MarkScreenDirty();
    }
    if (flags & SWP_SHOWWINDOW) ShowWindow(handle, (flags & SWP_NOACTIVATE) ? SW_SHOWNA : SW_SHOW);
    if (flags & SWP_HIDEWINDOW) ShowWindow(handle, SW_HIDE);
    if (!IsWindow(handle)) return true;
    if (!(flags & SWP_NOREDRAW) && !(flags & SWP_NOSIZE)) InvalidateRect(handle, nullptr, true);
    auto* position = static_cast<WINDOWPOS*>(AllocateZeroedBlock(sizeof(WINDOWPOS)));
    if (!position) return true;
    *position = WINDOWPOS{static_cast<uint32_t>(handle),
                          (flags & SWP_NOZORDER) ? 0u : static_cast<uint32_t>(insertAfter),
                          window->rect.left,
                          window->rect.top,
                          window->rect.right - window->rect.left,
                          window->rect.bottom - window->rect.top,
                          flags};
    CallProcedure(window, WM_WINDOWPOSCHANGED, 0, reinterpret_cast<LPARAM>(position));
    FreeBlock(position);
    return true;
}

bool MoveWindow(HWND handle, int32_t x, int32_t y, int32_t width, int32_t height, bool repaint) {
    return SetWindowPos(handle, 0, x, y, width, height,
                        SWP_NOZORDER | SWP_NOACTIVATE | (repaint ? 0u : SWP_NOREDRAW));
}

bool BringWindowToTop(HWND handle) {
    Window* window = Find(handle);
    if (!window) return false;
    PlaceInZOrder(window, HWND_TOP);
    MarkScreenDirty();
    if (IsTopLevel(window) && CanActivate(window)) Activate(window, WA_ACTIVE);
    return true;
}

bool GetWindowRect(HWND handle, RECT* rect) {
    Window* window = Find(handle);
    if (!window || !rect) return false;
    *rect = ScreenRect(window);
    return true;
}

bool GetClientRect(HWND handle, RECT* rect) {
    Window* window = Find(handle);
    if (!window || !rect) return false;
    const RECT client = ClientRectInWindow(window);
    *rect = RECT{0, 0, client.right - client.left, client.bottom - client.top};
    return true;
}

bool ClientToScreen(HWND handle, POINT* point) {
    Window* window = Find(handle);
    if (!window || !point) return false;
    const POINT origin = ClientOriginOnScreen(window);
    point->x += origin.x;
    point->y += origin.y;
    return true;
}

bool ScreenToClient(HWND handle, POINT* point) {
    Window* window = Find(handle);
    if (!window || !point) return false;
    const POINT origin = ClientOriginOnScreen(window);
    point->x -= origin.x;
    point->y -= origin.y;
    return true;
}

bool EnableWindow(HWND handle, bool enable) {
    Window* window = Find(handle);
    if (!window) return false;
    const bool wasDisabled = (window->style & WS_DISABLED) != 0;
    if (wasDisabled == !enable) return wasDisabled;
    if (enable) window->style &= ~WS_DISABLED;
    else window->style |= WS_DISABLED;
    State& s = S();
    if (!enable) {
        if (Window* focus = Find(s.focus); focus && IsInside(focus, window)) SendFocusChange(s.focus, 0);
        if (Window* capture = Find(s.capture); capture && IsInside(capture, window)) s.capture = 0;
    }
    if (IsWindow(handle)) CallProcedure(window, WM_ENABLE, enable ? 1 : 0, 0);
    return wasDisabled;
}

// --- focus, activation, capture --------------------------------------------------------------

HWND SetFocus(HWND handle) {
    State& s = S();
    const HWND old = s.focus;
    if (handle == 0) {
        if (old) SendFocusChange(old, 0);
        return old;
    }
    Window* window = Find(handle);
    if (!window || (window->style & WS_DISABLED) || window->destroying) return 0;
    if (old == handle) return old;
    Window* top = TopLevelOf(window);
    if (top && s.active != top->handle && CanActivate(top)) {
        Activate(top, WA_ACTIVE);
        if (!IsWindow(handle) || s.focus == handle) return old;
    }
    SendFocusChange(s.focus, handle);
    return old;
}

HWND GetFocus() { return S().focus; }

HWND SetActiveWindow(HWND handle) {
    const HWND old = S().active;
    Window* window = Find(handle);
    if (!window) return 0;
    Window* top = TopLevelOf(window);
    if (!CanActivate(top)) return 0;
    PlaceInZOrder(top, HWND_TOP);
    Activate(top, WA_ACTIVE);
    return old;
}

HWND GetActiveWindow() { return S().active; }

bool SetForegroundWindow(HWND handle) { return SetActiveWindow(handle) != 0 || S().active == handle; }

HWND GetForegroundWindow() { return S().active; }

HWND SetCapture(HWND handle) {
    State& s = S();
    const HWND old = s.capture;
    Window* window = Find(handle);
    if (!window) return old;
    s.capture = handle;
    if (old && old != handle)
        if (Window* previous = Find(old)) CallProcedure(previous, WM_CAPTURECHANGED, 0, static_cast<LPARAM>(handle));
    return old;
}

bool ReleaseCapture() {
    State& s = S();
    const HWND old = s.capture;
    s.capture = 0;
    if (Window* previous = Find(old)) CallProcedure(previous, WM_CAPTURECHANGED, 0, 0);
    return true;
}

HWND GetCapture() { return S().capture; }

// --- texts and words -----------------------------------------------------------------------

// The text and the buffer that these two send travel in low-memory blocks:
// a procedure may hand the message's words to code that keeps only 32 bits.
bool SetWindowTextW(HWND handle, const char16_t* text) {
    if (!IsWindow(handle)) return false;
    char16_t* copy = LowMemoryText(std::u16string(View(text ? text : u"")));
    if (!copy) return false;
    const bool set = SendMessageW(handle, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(copy)) != 0;
    FreeBlock(copy);
    return set;
}

// The caller's buffer gets what the window wrote into the low one, as if it
// had written there; the answer is the window's, kept within count - 1.
int GetWindowTextW(HWND handle, char16_t* buffer, int count) {
    if (!buffer || count <= 0) return 0;
    buffer[0] = 0;
    auto* low = static_cast<char16_t*>(AllocateZeroedBlock(static_cast<size_t>(count) * sizeof(char16_t)));
    if (!low) return 0;
    const LRESULT answered = SendMessageW(handle, WM_GETTEXT, static_cast<WPARAM>(count), reinterpret_cast<LPARAM>(low));
    std::copy_n(low, count, buffer);
    FreeBlock(low);
    return static_cast<int>(std::clamp<LRESULT>(answered, 0, count - 1));
}

int GetWindowTextLengthW(HWND handle) { return static_cast<int>(SendMessageW(handle, WM_GETTEXTLENGTH, 0, 0)); }

std::u16string WindowTitle(HWND handle) {
    Window* window = Find(handle);
    return window ? window->text : std::u16string();
}

intptr_t GetWindowLongPtrW(HWND handle, int index) {
    Window* window = Find(handle);
    if (!window) return 0;
    switch (index) {
    case GWL_WNDPROC: return reinterpret_cast<intptr_t>(window->procedure);
    case GWL_USERDATA: return window->userData;
    case GWL_STYLE: return static_cast<intptr_t>(window->style);
    case GWL_EXSTYLE: return static_cast<intptr_t>(window->exStyle);
    case GWL_ID: return static_cast<intptr_t>(window->id);
    default: break;
    }
    if (index < 0 || static_cast<size_t>(index) + sizeof(intptr_t) > window->extraBytes.size()) return 0;
    intptr_t value = 0;
    std::memcpy(&value, window->extraBytes.data() + index, sizeof value);
    return value;
}

intptr_t SetWindowLongPtrW(HWND handle, int index, intptr_t value) {
    Window* window = Find(handle);
    if (!window) return 0;
    const intptr_t old = GetWindowLongPtrW(handle, index);
    switch (index) {
    case GWL_WNDPROC:
        if (value) window->procedure = reinterpret_cast<WNDPROC>(value);
        return old;
    case GWL_USERDATA: window->userData = value; return old;
    case GWL_STYLE:
        window->style = static_cast<uint32_t>(value);
        MarkScreenDirty();
        return old;
    case GWL_EXSTYLE: window->exStyle = static_cast<uint32_t>(value); return old;
    case GWL_ID: window->id = static_cast<uintptr_t>(value); return old;
    default: break;
    }
    if (index < 0 || static_cast<size_t>(index) + sizeof(intptr_t) > window->extraBytes.size()) return 0;
    std::memcpy(window->extraBytes.data() + index, &value, sizeof value);
    return old;
}

LRESULT CallWindowProcW(WNDPROC procedure, HWND handle, UINT message, WPARAM wParam, LPARAM lParam) {
    if (!procedure) return 0;
    Window* window = Find(handle);
    if (!window) return procedure(handle, message, wParam, lParam);
    ++window->sendDepth;
    const LRESULT result = procedure(handle, message, wParam, lParam);
    if (--window->sendDepth == 0 && window->dead) {
        std::erase(S().graveyard, window);
        delete window;
    }
    return result;
}

HWND FindWindowW(const char16_t* className, const char16_t* title) {
    const std::u16string folded = className ? Fold(View(className)) : std::u16string();
    for (Window* window : S().topLevels) {
        if (className && (!window->windowClass || window->windowClass->folded != folded)) continue;
        if (title && window->text != View(title)) continue;
        return window->handle;
    }
    return 0;
}

void EnumWindows(bool (*visit)(HWND window, void* user), void* user) {
    std::vector<HWND> handles;
    for (Window* window : S().topLevels) handles.push_back(window->handle);
    for (HWND handle : handles)
        if (IsWindow(handle) && !visit(handle, user)) return;
}

int LiveWindowCount() { return S().liveWindows; }

}  // namespace qob::platform
