// platform/gdi/device_context.cpp
// Device contexts: target DCs over a window layer's surface, memory DCs over
// bitmaps, their selections, colours, modes, origin and clip, and the
// device's capabilities.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/gdi/gdi_objects.h"

namespace qob::platform {

using namespace gdi;

namespace {

constexpr int kMaxDpi = 2400;

SIZE screenSize{240, 320};

HDC NewDC(std::unique_ptr<DeviceContext> dc) {
    dc->brush = DefaultBrush();
    dc->pen = DefaultPen();
    dc->font = DefaultFont();
    return MakeHandle(HandleKind::DeviceContext, std::move(dc));
}

std::unique_ptr<Bitmap> NewBitmap(int width, int height) {
    auto bitmap = std::make_unique<Bitmap>();
    bitmap->pixels = std::make_unique<uint32_t[]>(static_cast<size_t>(width) * static_cast<size_t>(height));
    bitmap->surface = {bitmap->pixels.get(), width, height, width};
    return bitmap;
}

// Whether the bitmap is held by a live DC other than dc.
bool HeldElsewhere(const Bitmap& bitmap, HDC dc) {
    if (bitmap.permanent || bitmap.selectedInto == 0 || bitmap.selectedInto == dc) return false;
    const DeviceContext* holder = LookUpDC(bitmap.selectedInto);
    return holder && HandleObject(holder->bitmap, HandleKind::Bitmap) == &bitmap;
}

HGDIOBJ SelectBitmap(HDC handle, DeviceContext& dc, HBITMAP object, Bitmap& bitmap) {
    if (!dc.memory || HeldElsewhere(bitmap, handle)) return 0;
    const HBITMAP previous = dc.bitmap;
    if (auto* old = static_cast<Bitmap*>(HandleObject(previous, HandleKind::Bitmap)); old && !old->permanent)
        old->selectedInto = 0;
    if (!bitmap.permanent) bitmap.selectedInto = handle;
    dc.bitmap = object;
    dc.clipped = false;  // a memory DC's clip is its bitmap
    return previous;
}

template <typename Value>
Value Swap(Value& slot, Value value) {
    const Value previous = slot;
    slot = value;
    return previous;
}

}  // namespace

namespace gdi {

DeviceContext* LookUpDC(HDC dc) { return static_cast<DeviceContext*>(HandleObject(dc, HandleKind::DeviceContext)); }

HBITMAP DefaultBitmap() {
    static const HBITMAP bitmap = [] {
        std::unique_ptr<Bitmap> record = NewBitmap(1, 1);
        record->permanent = true;
        return MakeHandle(HandleKind::Bitmap, std::move(record));
    }();
    return bitmap;
}

bool CanvasOf(const DeviceContext& dc, Canvas* canvas) {
    Surface32* surface = dc.surface;
    RECT clip = dc.targetClip;
    POINT origin = dc.targetOrigin;
    if (dc.memory) {
        Bitmap* bitmap = SelectedBitmap(dc);
        // A DIB section is drawn on through its 32-bit copy.
        if (bitmap && !MakeDibCopy(*bitmap)) return false;
        surface = bitmap ? &bitmap->surface : nullptr;
        origin = {0, 0};
        if (surface) clip = {0, 0, surface->width, surface->height};
    }
    if (!surface || !surface->pixels) return false;
    clip = Intersect(clip, {0, 0, surface->width, surface->height});
    if (dc.clipped) clip = Intersect(clip, dc.userClip);
    canvas->surface = surface;
    canvas->originX = ClampCoordinate(int64_t{origin.x} + dc.viewport.x);
    canvas->originY = ClampCoordinate(int64_t{origin.y} + dc.viewport.y);
    canvas->clip = clip;
    return !IsEmpty(clip);
}

}  // namespace gdi

void SetGdiScreenSize(SIZE size) { screenSize = {std::max(size.cx, 1), std::max(size.cy, 1)}; }

SIZE GetGdiScreenSize() { return screenSize; }

HDC CreateTargetDC(const DrawTarget& target) {
    auto dc = std::make_unique<DeviceContext>();
    dc->surface = target.surface;
    dc->targetOrigin = target.origin;
    dc->targetClip = target.clip;
    return NewDC(std::move(dc));
}

void DeleteTargetDC(HDC handle) {
    DeviceContext* dc = LookUpDC(handle);
    if (dc && !dc->memory) DestroyHandle(handle);
}

HDC CreateCompatibleDC(HDC) {
    auto dc = std::make_unique<DeviceContext>();
    dc->memory = true;
    dc->bitmap = DefaultBitmap();
    return NewDC(std::move(dc));
}

bool DeleteDC(HDC handle) {
    DeviceContext* dc = LookUpDC(handle);
    if (!dc || !dc->memory) return false;
    if (Bitmap* bitmap = SelectedBitmap(*dc); bitmap && !bitmap->permanent) {
        FlushDibCopy(*bitmap);
        bitmap->selectedInto = 0;
    }
    DestroyHandle(handle);
    return true;
}

HGDIOBJ SelectObject(HDC handle, HGDIOBJ object) {
    DeviceContext* dc = LookUpDC(handle);
    if (!dc) return 0;
    switch (KindOfHandle(object)) {
        case HandleKind::Brush: return Swap(dc->brush, object);
        case HandleKind::Pen: return Swap(dc->pen, object);
        case HandleKind::Font: return Swap(dc->font, object);
        case HandleKind::Bitmap:
            return SelectBitmap(handle, *dc, object, *static_cast<Bitmap*>(HandleObject(object, HandleKind::Bitmap)));
        default: return 0;
    }
}

COLORREF SetTextColor(HDC handle, COLORREF color) {
    DeviceContext* dc = LookUpDC(handle);
    return dc ? Swap(dc->textColor, ResolveColor(color)) : CLR_INVALID;
}

COLORREF SetBkColor(HDC handle, COLORREF color) {
    DeviceContext* dc = LookUpDC(handle);
    return dc ? Swap(dc->backColor, ResolveColor(color)) : CLR_INVALID;
}

int SetBkMode(HDC handle, int mode) {
    DeviceContext* dc = LookUpDC(handle);
    if (!dc || (mode != TRANSPARENT && mode != OPAQUE)) return 0;
    return Swap(dc->backMode, mode);
}

COLORREF GetTextColor(HDC handle) {
    const DeviceContext* dc = LookUpDC(handle);
    return dc ? dc->textColor : CLR_INVALID;
}

COLORREF GetBkColor(HDC handle) {
    const DeviceContext* dc = LookUpDC(handle);
    return dc ? dc->backColor : CLR_INVALID;
}

int GetBkMode(HDC handle) {
    const DeviceContext* dc = LookUpDC(handle);
    return dc ? dc->backMode : 0;
}

bool SetViewportOrgEx(HDC handle, int x, int y, POINT* previous) {
    DeviceContext* dc = LookUpDC(handle);
    if (!dc) return false;
    if (previous) *previous = dc->viewport;
    dc->viewport = {x, y};
    return true;
}

bool GetViewportOrgEx(HDC handle, POINT* origin) {
    const DeviceContext* dc = LookUpDC(handle);
    if (!dc || !origin) return false;
    *origin = dc->viewport;
    return true;
}

int IntersectClipRect(HDC handle, int left, int top, int right, int bottom) {
    DeviceContext* dc = LookUpDC(handle);
    if (!dc) return ERROR;
    Canvas canvas;  // stays empty when the DC draws nowhere: so does the clip
    static_cast<void>(CanvasOf(*dc, &canvas));
    const RECT wanted = OnSurface(canvas, left, top, right, bottom);
    dc->userClip = Intersect(dc->clipped ? dc->userClip : canvas.clip, wanted);
    dc->clipped = true;
    return IsEmpty(dc->userClip) ? NULLREGION : SIMPLEREGION;
}

int GetClipBox(HDC handle, RECT* box) {
    const DeviceContext* dc = LookUpDC(handle);
    if (!dc || !box) return ERROR;
    Canvas canvas;
    if (!CanvasOf(*dc, &canvas)) {
        *box = {0, 0, 0, 0};
        return NULLREGION;
    }
    *box = {canvas.clip.left - canvas.originX, canvas.clip.top - canvas.originY, canvas.clip.right - canvas.originX,
            canvas.clip.bottom - canvas.originY};
    return SIMPLEREGION;
}

std::optional<int> ParseDpi(std::string_view text) {
    if (text.empty() || text.size() > 4) return std::nullopt;
    int value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + (c - '0');
    }
    if (value < 1 || value > kMaxDpi) return std::nullopt;
    return value;
}

int ScreenDpi() {
    static const int dpi = [] {
        const char* setting = std::getenv("QOB_DPI");
        if (!setting) return kDefaultDpi;
        if (const std::optional<int> value = ParseDpi(setting)) return *value;
        std::fprintf(stderr, "QOB_DPI \"%s\" is not a whole number of dots per inch from 1 to %d; %d is used\n",
                     setting, kMaxDpi, kDefaultDpi);
        return kDefaultDpi;
    }();
    return dpi;
}

int GetDeviceCaps(HDC handle, int index) {
    if (!LookUpDC(handle)) return 0;
    switch (index) {
        case HORZRES: return screenSize.cx;
        case VERTRES: return screenSize.cy;
        case BITSPIXEL: return 32;
        case PLANES: return 1;
        case LOGPIXELSX:
        case LOGPIXELSY: return ScreenDpi();
        default: return 0;
    }
}

HBITMAP CreateCompatibleBitmap(HDC, int width, int height) {
    if (width < 1 || height < 1 || width > kMaxBitmapSide || height > kMaxBitmapSide) return 0;
    return MakeHandle(HandleKind::Bitmap, NewBitmap(width, height));
}

const Surface32* GetDCSurface(HDC handle) {
    const DeviceContext* dc = LookUpDC(handle);
    if (!dc) return nullptr;
    if (!dc->memory) return dc->surface;
    Bitmap* bitmap = SelectedBitmap(*dc);
    if (bitmap && !MakeDibCopy(*bitmap)) return nullptr;
    return bitmap ? &bitmap->surface : nullptr;
}

}  // namespace qob::platform
