// display/display.cpp
// The display object, its window subclassing and the present.
#include "display/display.h"

#include <algorithm>
#include <cstring>

#include "display/device_libraries.h"
#include "display/device_model.h"
#include "display/dib_pixel_buffer.h"
#include "display/display_window.h"
#include "display/gdi_driver.h"
#include "display/rotation_driver.h"
#include "display/tile_copy.h"
#include "display/video_detect.h"
#include "platform/display_device.h"
#include "platform/gdi.h"
#include "platform/window_manager.h"

namespace qob {
namespace {

constexpr uint32_t kFullScreenHideAll = 0x2A;  // task bar, input-panel button and start icon hidden
constexpr uint32_t kFullScreenShowAll = 0x15;

struct SubclassEntry {
    uintptr_t window;
    WindowProcedure previous;
    DisplayBase* display;
};

SubclassEntry gSubclassed[kMaxSubclassedWindows];
int32_t gSubclassCount = 0;

SubclassEntry* FindSubclassed(uintptr_t window) {
    for (int32_t i = 0; i < gSubclassCount; ++i)
        if (gSubclassed[i].window == window) return &gSubclassed[i];
    return nullptr;
}

bool Subclass(uintptr_t window, DisplayBase* display) {
    const DisplayWindowServices& services = GetDisplayWindowServices();
    if (gSubclassCount >= kMaxSubclassedWindows || services.setWindowProcedure == nullptr) return false;
    const WindowProcedure previous = services.setWindowProcedure(window, &DisplayWindowProcedure);
    if (previous == nullptr) return false;
    gSubclassed[gSubclassCount++] = SubclassEntry{window, previous, display};
    return true;
}

// The last entry takes the freed place. With a display given, only that
// display's own subclassing is undone.
void Unsubclass(uintptr_t window, const DisplayBase* display = nullptr) {
    SubclassEntry* entry = FindSubclassed(window);
    if (entry == nullptr || (display != nullptr && entry->display != display)) return;
    const DisplayWindowServices& services = GetDisplayWindowServices();
    if (services.setWindowProcedure) services.setWindowProcedure(window, entry->previous);
    *entry = gSubclassed[--gSubclassCount];
}

int32_t RoundDownEven(int32_t value) { return value & ~1; }
int32_t RoundUpEven(int32_t value) { return int32_t((int64_t(value) + 1) & ~int64_t(1)); }

}  // namespace

intptr_t DisplayWindowProcedure(uintptr_t window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
    const DisplayWindowServices& services = GetDisplayWindowServices();
    const SubclassEntry* entry = FindSubclassed(window);
    if (entry == nullptr)
        return services.defaultWindowProcedure ? services.defaultWindowProcedure(window, message, wParam, lParam) : 0;
    const WindowProcedure previous = entry->previous;
    DisplayBase* display = entry->display;
    switch (message) {
        case kMessageActivate:
            if (wParam & 0xFFFF)
                display->Resume();
            else
                display->Suspend();
            break;
        case kMessagePaint: display->Repaint(); break;
        case kMessageDestroy: Unsubclass(window); break;
        default: break;
    }
    return services.callWindowProcedure ? services.callWindowProcedure(previous, window, message, wParam, lParam) : 0;
}

int32_t CountSubclassedWindows() { return gSubclassCount; }

// DisplayBase

// A frame buffer still locked is unlocked before its driver goes.
DisplayBase::~DisplayBase() {
    if (locked != nullptr && driver) driver->Unlock(0);
    locked = nullptr;
    driver.reset();
    delete backBuffer;
}

void DisplayBase::Resume() {
    active = true;
    locked = nullptr;
    if (driver) driver->Resume();
}

void DisplayBase::Suspend() {
    if (driver) driver->Suspend();
    active = false;
    locked = nullptr;
}

void DisplayBase::Repaint() {
    if (driver) driver->Repaint();
}

bool DisplayBase::Initialize(const DisplayParams& params) {
    if (driver) return false;
    std::unique_ptr<Driver> chosen = MakeDriver(params);
    if (!chosen) return false;
    if (params.orientation < kAnyOrientation && params.orientation != chosen->info.orientation) {
        const DriverInfo innerInfo = chosen->info;
        auto rotation = std::make_unique<RotationDriver>(std::move(chosen));
        if (!rotation->Initialize(window, params, innerInfo)) return false;
        chosen = std::move(rotation);
    }
    driver = std::move(chosen);
    width = driver->info.width;
    height = driver->info.height;
    orientation = driver->info.orientation;
    const int32_t mode = driver->info.swapMode;
    if (mode == kSwapModeDirect || (params.swapEffect == kSwapKeep && mode != kSwapModeOwn)) {
        backBuffer = CreatePixelBuffer(width, height);
        if (backBuffer == nullptr) return false;
        swapEffect = kSwapKeep;
    } else {
        swapEffect = mode;
    }
    locked = nullptr;
    // Through SetDirtyRect, so that the driver's own copy covers the whole
    // screen too: a first present with no rectangle shows everything.
    SetDirtyRect(nullptr);
    return true;
}

int DisplayBase::BeginScene() {
    if (!active) return 0;
    if (locked != nullptr) return 1;
    locked = driver ? driver->Lock() : nullptr;
    return locked != nullptr ? 1 : 0;
}

PixelBuffer* DisplayBase::GetBackBuffer() const {
    if (locked == nullptr) return nullptr;
    return backBuffer != nullptr ? backBuffer : locked;
}

// Rounded out to even, the rectangle is kept within the screen again: on an
// odd width or height the rounding would reach one past it.
void DisplayBase::SetDirtyRect(const Rect* rect) {
    if (rect == nullptr) {
        dirty = Rect{0, 0, width, height};
    } else {
        dirty = Rect{rect->left >= 1 ? rect->left : 0, rect->top >= 1 ? rect->top : 0,
                     rect->right < width ? rect->right : width, rect->bottom < height ? rect->bottom : height};
        if (IsRectEmpty(dirty)) dirty = Rect{0, 0, 0, 0};
    }
    if (driver) driver->AdjustDirtyRect(dirty);
    if (IsRectEmpty(dirty)) {
        fullPitch = false;
        return;
    }
    dirty = Rect{RoundDownEven(dirty.left), RoundDownEven(dirty.top), std::min(RoundUpEven(dirty.right), width),
                 std::min(RoundUpEven(dirty.bottom), height)};
    fullPitch = driver && driver->info.pitch == 2 * (dirty.right - dirty.left);
}

// The block copy needs both buffers' rows to be exactly the rectangle's
// width; otherwise rows are copied one by one, each buffer with its pitch.
int DisplayBase::Present(uint32_t flags) {
    if (!active || locked == nullptr) return 0;
    if (backBuffer != nullptr) {
        if (flags & kPresentAfterWait) driver->WaitBeforeCopy();
        if (!IsRectEmpty(dirty)) {
            const int64_t rowBytes = 2 * int64_t(dirty.right - dirty.left);
            if (fullPitch && backBuffer->pitch == rowBytes && locked->pitch == rowBytes) {
                BlockCopy(locked->bits + int64_t(dirty.top) * locked->pitch,
                          backBuffer->bits + int64_t(dirty.top) * backBuffer->pitch,
                          size_t(dirty.bottom - dirty.top) * size_t(rowBytes));
            } else {
                for (int64_t y = dirty.top; y < dirty.bottom; ++y)
                    BlockCopy(locked->bits + y * locked->pitch + 2 * int64_t(dirty.left),
                              backBuffer->bits + y * backBuffer->pitch + 2 * int64_t(dirty.left), size_t(rowBytes));
            }
        }
    }
    driver->Unlock(flags);
    locked = nullptr;
    Presented();
    return 1;
}

// DisplayCE

DisplayCE::~DisplayCE() {
    delete panelCopy;
    CoreDll().AllKeys(0);
    if (DisplayWindowExists(window)) Unsubclass(window, this);
}

void DisplayCE::Resume() {
    AygShell().SHFullScreen(window, kFullScreenHideAll);
    DisplayBase::Resume();
}

void DisplayCE::Suspend() {
    AygShell().SHFullScreen(window, kFullScreenShowAll);
    DisplayBase::Suspend();
}

bool DisplayCE::Initialize(const DisplayParams& params) {
    if (!DisplayWindowExists(window) || FindSubclassed(window) != nullptr || !Subclass(window, this)) return false;
    if (!DisplayBase::Initialize(params)) return false;
    const Driver* shown = GetDriver();
    if (auto* rotation = dynamic_cast<const RotationDriver*>(shown)) shown = &rotation->Inner();
    showsPanel = dynamic_cast<const GdiDriver*>(shown) == nullptr;
    CoreDll().AllKeys(1);
    AygShell().SHFullScreen(window, kFullScreenHideAll);
    return true;
}

// The panel's upright picture goes into the window at its client origin,
// through a DIB section kept for the purpose.
void DisplayCE::Presented() {
    if (!showsPanel || !DisplayWindowExists(window)) return;
    const platform::HDC dc = platform::GetDC(window);
    if (dc == 0) return;
    const platform::PanelPicture panel = platform::ReadPanel();
    if (panelCopy == nullptr || panelCopy->width != panel.width || panelCopy->height != panel.height) {
        delete panelCopy;
        panelCopy = DibPixelBuffer::Create(panel.width, panel.height);
    }
    if (DibPixelBuffer* copy = panelCopy) {
        for (int32_t y = 0; y < panel.height; ++y)
            std::memcpy(PixelRow(*copy, y), &panel.pixels[size_t(y) * size_t(panel.width)], size_t(panel.width) * 2);
        platform::BitBlt(dc, 0, 0, panel.width, panel.height, copy->dc, 0, 0, platform::SRCCOPY);
    }
    platform::ReleaseDC(window, dc);
}

std::unique_ptr<Driver> DisplayCE::MakeDriver(const DisplayParams& params) {
    RememberDisplayWindow(window);
    return ChooseDriver(TheVideoDetect(), window, params);
}

// Display

std::unique_ptr<Display> Display::Create(uintptr_t window, DisplayParams& params) {
    DisplayParams asked = params;
    if (asked.swapEffect == 0) asked.swapEffect = kSwapDiscard;
    auto display = std::make_unique<DisplayCE>(window);
    if (!display->Initialize(asked)) return nullptr;
    params = DisplayParams{display->Width(), display->Height(), display->Orientation(), display->SwapEffect()};
    return std::unique_ptr<Display>(new Display(std::move(display)));
}

int DisplayBeginScene(Display* display) { return display ? display->Base().BeginScene() : 0; }

PixelBuffer* DisplayGetBackBuffer(Display* display) { return display ? display->Base().GetBackBuffer() : nullptr; }

void DisplaySetDirtyRect(Display* display, const Rect* rect) {
    if (display) display->Base().SetDirtyRect(rect);
}

int DisplayPresent(Display* display, uint32_t flags) { return display ? display->Base().Present(flags) : 0; }

void ResetDisplayStatics() {
    ResetVideoDetect();
    ResetDeviceLibraries();
    ResetDeviceModel();
    gSubclassCount = 0;
}

}  // namespace qob
