// platform/gdi/drawing.cpp
// Fills, frames, inversions, lines, single pixels and block copies on a
// DC's surface, each clipped to the DC's clip.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/gdi/gdi_objects.h"

namespace qob::platform {

using namespace gdi;

namespace {

constexpr uint32_t kColorBits = 0x00FFFFFF;
// A dashed pen draws this many pixels, then leaves as many out.
constexpr int kDashLength = 4;

uint32_t* PixelAt(const Surface32& surface, int x, int y) {
    return surface.pixels + static_cast<ptrdiff_t>(y) * surface.stride + x;
}

bool Contains(const RECT& r, int64_t x, int64_t y) { return x >= r.left && x < r.right && y >= r.top && y < r.bottom; }

// The logical rectangle in surface coordinates, clipped; empty when it
// misses the clip.
RECT ToSurface(const Canvas& canvas, int64_t left, int64_t top, int64_t right, int64_t bottom) {
    return Intersect(OnSurface(canvas, left, top, right, bottom), canvas.clip);
}
RECT ToSurface(const Canvas& canvas, const RECT& rect) { return ToSurface(canvas, rect.left, rect.top, rect.right, rect.bottom); }

void XorSurfaceRect(Surface32& surface, const RECT& rect, uint32_t bits) {
    for (int y = rect.top; y < rect.bottom; ++y) {
        uint32_t* row = PixelAt(surface, rect.left, y);
        for (int x = 0; x < rect.right - rect.left; ++x) row[x] ^= bits;
    }
}

// A pen's pixel at surface (x, y): one pixel, or a width x width square
// centred there.
void PlotPen(const Canvas& canvas, int64_t x, int64_t y, int width, uint32_t pixel) {
    if (width <= 1) {
        if (Contains(canvas.clip, x, y)) *PixelAt(*canvas.surface, static_cast<int>(x), static_cast<int>(y)) = pixel;
        return;
    }
    const int64_t left = x - width / 2, top = y - width / 2;
    const RECT square = Intersect(RECT{ClampCoordinate(left), ClampCoordinate(top), ClampCoordinate(left + width),
                                       ClampCoordinate(top + width)},
                                  canvas.clip);
    if (!IsEmpty(square)) FillSurfaceRect(*canvas.surface, square, pixel);
}

// A frame of the given thickness just inside the logical rectangle.
void FillFrame(const Canvas& canvas, const RECT& r, int64_t thickness, uint32_t pixel) {
    if (IsEmpty(r)) return;
    const int64_t left = r.left, top = r.top, right = r.right, bottom = r.bottom;
    const RECT sides[] = {ToSurface(canvas, left, top, right, top + thickness),
                          ToSurface(canvas, left, bottom - thickness, right, bottom),
                          ToSurface(canvas, left, top, left + thickness, bottom),
                          ToSurface(canvas, right - thickness, top, right, bottom)};
    for (const RECT& side : sides)
        if (!IsEmpty(side)) FillSurfaceRect(*canvas.surface, side, pixel);
}

// The line from logical (x0, y0) towards (x1, y1), end point left out.
// Step k along the longer axis puts the pixel at k on that axis and at k
// times the slope, rounded half away from the start, on the other; only
// the steps whose pen reaches the clip are visited, so a line of any length
// costs no more than the clip is long.
void DrawLine(const Canvas& canvas, const Pen& pen, int x0, int y0, int x1, int y1) {
    if (pen.style == PS_NULL) return;
    const uint32_t pixel = PixelFromColor(pen.color);
    const int64_t dx = int64_t{x1} - x0, dy = int64_t{y1} - y0;
    const bool xMajor = std::llabs(dx) >= std::llabs(dy);
    const int64_t steps = xMajor ? std::llabs(dx) : std::llabs(dy);
    const int64_t minorSpan = xMajor ? std::llabs(dy) : std::llabs(dx);
    const int64_t majorStep = (xMajor ? dx : dy) < 0 ? -1 : 1;
    const int64_t minorStep = (xMajor ? dy : dx) < 0 ? -1 : 1;
    const int64_t majorStart = (xMajor ? x0 + int64_t{canvas.originX} : y0 + int64_t{canvas.originY});
    const int64_t minorStart = (xMajor ? y0 + int64_t{canvas.originY} : x0 + int64_t{canvas.originX});
    // Steps whose major coordinate lies within the clip, widened by the pen.
    const int64_t reach = pen.width / 2 + 1;
    const int64_t low = (xMajor ? canvas.clip.left : canvas.clip.top) - reach;
    const int64_t high = (xMajor ? canvas.clip.right : canvas.clip.bottom) + reach;
    int64_t first = majorStep > 0 ? low - majorStart : majorStart - high;
    int64_t last = majorStep > 0 ? high - majorStart : majorStart - low;
    first = std::max<int64_t>(first, 0);
    last = std::min<int64_t>(last, steps - 1);
    for (int64_t k = first; k <= last; ++k) {
        if (pen.style == PS_DASH && (k / kDashLength) % 2 != 0) continue;
        const int64_t major = majorStart + k * majorStep;
        // 128 bits: k times the span can pass 2^63 for a line between far
        // ends of the 32-bit range.
        const auto rounded = (static_cast<__int128>(2 * k) * minorSpan + steps) / (2 * steps);
        const int64_t minor = minorStart + minorStep * static_cast<int64_t>(rounded);
        PlotPen(canvas, xMajor ? major : minor, xMajor ? minor : major, pen.width, pixel);
    }
}

// The DC's canvas; false when the DC is dead (*dc null) or draws nowhere.
bool LookUp(HDC handle, DeviceContext** dc, Canvas* canvas) {
    *dc = LookUpDC(handle);
    return *dc && CanvasOf(**dc, canvas);
}

}  // namespace

namespace gdi {

// Runs are filled by storing the first pixels and copying them on with
// memcpy in doubling chunks: the C library's copy uses the widest stores the
// processor has, which a plain loop compiled for any x86-64 does not.
void FillRun(uint32_t* run, size_t count, uint32_t pixel) {
    constexpr size_t kSeed = 64, kChunk = 4096;  // pixels; a chunk stays in the first-level cache
    const size_t seed = std::min(count, kSeed);
    std::fill_n(run, seed, pixel);
    size_t done = seed;
    while (done < count) {
        const size_t part = std::min({done, kChunk, count - done});
        std::memcpy(run + done, run + done - part, part * sizeof(uint32_t));
        done += part;
    }
}

void FillSurfaceRect(Surface32& surface, const RECT& rect, uint32_t pixel) {
    const int width = rect.right - rect.left;
    if (width == surface.stride) {  // whole rows: one run
        FillRun(PixelAt(surface, 0, rect.top), static_cast<size_t>(width) * (rect.bottom - rect.top), pixel);
        return;
    }
    for (int y = rect.top; y < rect.bottom; ++y) FillRun(PixelAt(surface, rect.left, y), width, pixel);
}

}  // namespace gdi

int FillRect(HDC handle, const RECT* rect, HBRUSH brushHandle) {
    DeviceContext* dc = nullptr;
    Canvas canvas;
    const auto* brush = static_cast<const Brush*>(HandleObject(brushHandle, HandleKind::Brush));
    if (!rect || !brush || !LookUp(handle, &dc, &canvas)) return rect && brush && dc ? 1 : 0;
    const RECT target = ToSurface(canvas, *rect);
    if (!brush->hollow && !IsEmpty(target)) FillSurfaceRect(*canvas.surface, target, PixelFromColor(brush->color));
    return 1;
}

int FrameRect(HDC handle, const RECT* rect, HBRUSH brushHandle) {
    DeviceContext* dc = nullptr;
    Canvas canvas;
    const auto* brush = static_cast<const Brush*>(HandleObject(brushHandle, HandleKind::Brush));
    if (!rect || !brush || !LookUp(handle, &dc, &canvas)) return rect && brush && dc ? 1 : 0;
    if (!brush->hollow) FillFrame(canvas, *rect, 1, PixelFromColor(brush->color));
    return 1;
}

bool InvertRect(HDC handle, const RECT* rect) {
    DeviceContext* dc = nullptr;
    Canvas canvas;
    if (!rect || !LookUp(handle, &dc, &canvas)) return rect && dc;
    const RECT target = ToSurface(canvas, *rect);
    if (!IsEmpty(target)) XorSurfaceRect(*canvas.surface, target, kColorBits);
    return true;
}

bool DrawFocusRect(HDC handle, const RECT* rect) {
    DeviceContext* dc = nullptr;
    Canvas canvas;
    if (!rect || !LookUp(handle, &dc, &canvas)) return rect && dc;
    const RECT r = OnSurface(canvas, rect->left, rect->top, rect->right, rect->bottom);
    if (IsEmpty(r)) return true;
    const RECT& clip = canvas.clip;
    // Every other pixel of the frame, counted from its top-left corner;
    // each pixel once, so that the second call undoes the first.
    auto invert = [&](int x, int y) {
        if (((x - r.left) + (y - r.top)) % 2 == 0) *PixelAt(*canvas.surface, x, y) ^= kColorBits;
    };
    const int x0 = std::max(r.left, clip.left), x1 = std::min(r.right, clip.right);
    for (const int y : {r.top, r.bottom - 1}) {
        if (y >= clip.top && y < clip.bottom)
            for (int x = x0; x < x1; ++x) invert(x, y);
        if (r.bottom - 1 == r.top) break;  // one row: not twice
    }
    const int y0 = std::max(r.top + 1, clip.top), y1 = std::min(r.bottom - 1, clip.bottom);
    for (const int x : {r.left, r.right - 1}) {
        if (x >= clip.left && x < clip.right)
            for (int y = y0; y < y1; ++y) invert(x, y);
        if (r.right - 1 == r.left) break;  // one column: not twice
    }
    return true;
}

bool Rectangle(HDC handle, int left, int top, int right, int bottom) {
    DeviceContext* dc = nullptr;
    Canvas canvas;
    if (!LookUp(handle, &dc, &canvas)) return dc != nullptr;
    if (left > right) std::swap(left, right);
    if (top > bottom) std::swap(top, bottom);
    const RECT r{left, top, right, bottom};
    const Pen& pen = SelectedPen(*dc);
    const Brush& brush = SelectedBrush(*dc);
    const int64_t smaller = std::min(int64_t{right} - left, int64_t{bottom} - top);
    const int64_t border = pen.style == PS_NULL ? 0 : std::min<int64_t>(pen.width, smaller / 2 + 1);
    if (!brush.hollow) {
        const RECT inside = ToSurface(canvas, left + border, top + border, right - border, bottom - border);
        if (!IsEmpty(inside)) FillSurfaceRect(*canvas.surface, inside, PixelFromColor(brush.color));
    }
    if (border == 0 || IsEmpty(r)) return true;
    if (pen.style == PS_DASH && pen.width <= 1) {
        const POINT corners[] = {{left, top}, {right - 1, top}, {right - 1, bottom - 1}, {left, bottom - 1}, {left, top}};
        for (int i = 0; i < 4; ++i) DrawLine(canvas, pen, corners[i].x, corners[i].y, corners[i + 1].x, corners[i + 1].y);
        return true;
    }
    FillFrame(canvas, r, border, PixelFromColor(pen.color));
    return true;
}

bool MoveToEx(HDC handle, int x, int y, POINT* previous) {
    DeviceContext* dc = LookUpDC(handle);
    if (!dc) return false;
    if (previous) *previous = dc->position;
    dc->position = {x, y};
    return true;
}

bool LineTo(HDC handle, int x, int y) {
    DeviceContext* dc = LookUpDC(handle);
    if (!dc) return false;
    Canvas canvas;
    if (CanvasOf(*dc, &canvas)) DrawLine(canvas, SelectedPen(*dc), dc->position.x, dc->position.y, x, y);
    dc->position = {x, y};
    return true;
}

bool Polyline(HDC handle, const POINT* points, int count) {
    DeviceContext* dc = LookUpDC(handle);
    if (!dc || !points || count < 2) return false;
    Canvas canvas;
    if (!CanvasOf(*dc, &canvas)) return true;
    const Pen& pen = SelectedPen(*dc);
    for (int i = 1; i < count; ++i) DrawLine(canvas, pen, points[i - 1].x, points[i - 1].y, points[i].x, points[i].y);
    return true;
}

COLORREF SetPixel(HDC handle, int x, int y, COLORREF color) {
    DeviceContext* dc = nullptr;
    Canvas canvas;
    if (!LookUp(handle, &dc, &canvas)) return CLR_INVALID;
    const int64_t sx = int64_t{x} + canvas.originX, sy = int64_t{y} + canvas.originY;
    if (!Contains(canvas.clip, sx, sy)) return CLR_INVALID;
    color = ResolveColor(color);
    *PixelAt(*canvas.surface, static_cast<int>(sx), static_cast<int>(sy)) = PixelFromColor(color);
    return color;
}

COLORREF GetPixel(HDC handle, int x, int y) {
    DeviceContext* dc = nullptr;
    Canvas canvas;
    if (!LookUp(handle, &dc, &canvas)) return CLR_INVALID;
    const int64_t sx = int64_t{x} + canvas.originX, sy = int64_t{y} + canvas.originY;
    if (!Contains(canvas.clip, sx, sy)) return CLR_INVALID;
    return ColorFromPixel(*PixelAt(*canvas.surface, static_cast<int>(sx), static_cast<int>(sy)));
}

namespace {

// Where a memory DC holding a DIB section draws, without its 32-bit copy:
// the canvas's surface has the section's size and no pixels.
bool DibCanvasOf(const DeviceContext& dc, const Bitmap& bitmap, Canvas* canvas) {
    RECT clip{0, 0, bitmap.surface.width, bitmap.surface.height};
    if (dc.clipped) clip = Intersect(clip, dc.userClip);
    canvas->surface = nullptr;
    canvas->originX = dc.viewport.x;
    canvas->originY = dc.viewport.y;
    canvas->clip = clip;
    return !IsEmpty(clip);
}

// SRCCOPY where a DIB section is the source, the destination or both: rows
// are converted between 16 and 32 bits straight from the section's pixels.
bool CopyWithDib(DeviceContext& dc, Bitmap* toDib, int x, int y, int width, int height, DeviceContext& sourceDc,
                 Bitmap* fromDib, int sourceX, int sourceY) {
    // Drawing calls may have left a 32-bit copy ahead of the pixels.
    if (toDib) FlushDibCopy(*toDib);
    if (fromDib) FlushDibCopy(*fromDib);
    Canvas canvas;
    if (!(toDib ? DibCanvasOf(dc, *toDib, &canvas) : CanvasOf(dc, &canvas))) return true;
    RECT target = ToSurface(canvas, x, y, int64_t{x} + width, int64_t{y} + height);
    Canvas from;
    if (!(fromDib ? DibCanvasOf(sourceDc, *fromDib, &from) : CanvasOf(sourceDc, &from))) return true;
    const int64_t shiftX = (int64_t{sourceX} + from.originX) - (int64_t{x} + canvas.originX);
    const int64_t shiftY = (int64_t{sourceY} + from.originY) - (int64_t{y} + canvas.originY);
    target = Intersect(target, RECT{ClampCoordinate(from.clip.left - shiftX), ClampCoordinate(from.clip.top - shiftY),
                                    ClampCoordinate(from.clip.right - shiftX), ClampCoordinate(from.clip.bottom - shiftY)});
    if (IsEmpty(target)) return true;
    const int rowWidth = target.right - target.left;
    const int rows = target.bottom - target.top;
    const int fromLeft = static_cast<int>(target.left + shiftX);
    const int fromTop = static_cast<int>(target.top + shiftY);
    if (toDib && fromDib) {
        // Both 16-bit: through a copy of the source rows, as the same
        // section may be both ends.
        std::vector<uint16_t> copy(static_cast<size_t>(rowWidth) * rows);
        for (int row = 0; row < rows; ++row)
            std::memcpy(&copy[static_cast<size_t>(row) * rowWidth], fromDib->DibRow(fromTop + row) + fromLeft,
                        rowWidth * sizeof(uint16_t));
        for (int row = 0; row < rows; ++row)
            std::memcpy(toDib->DibRow(target.top + row) + target.left, &copy[static_cast<size_t>(row) * rowWidth],
                        rowWidth * sizeof(uint16_t));
        return true;
    }
    for (int row = 0; row < rows; ++row) {
        if (toDib)
            TruncateRow565(toDib->DibRow(target.top + row) + target.left,
                           PixelAt(*from.surface, fromLeft, fromTop + row), rowWidth);
        else
            ExpandRow565(PixelAt(*canvas.surface, target.left, target.top + row),
                         fromDib->DibRow(fromTop + row) + fromLeft, rowWidth);
    }
    return true;
}

}  // namespace

bool BitBlt(HDC destination, int x, int y, int width, int height, HDC source, int sourceX, int sourceY,
            uint32_t operation) {
    const bool needsSource = operation == SRCCOPY || operation == SRCINVERT;
    if (!needsSource && operation != DSTINVERT && operation != BLACKNESS && operation != WHITENESS) return false;
    DeviceContext* dc = LookUpDC(destination);
    DeviceContext* sourceDc = needsSource ? LookUpDC(source) : nullptr;
    if (!dc || (needsSource && !sourceDc) || width < 0 || height < 0) return false;
    if (operation == SRCCOPY) {
        Bitmap* toDib = SelectedBitmap(*dc);
        Bitmap* fromDib = SelectedBitmap(*sourceDc);
        if (toDib && !toDib->IsDib()) toDib = nullptr;
        if (fromDib && !fromDib->IsDib()) fromDib = nullptr;
        if (toDib || fromDib) return CopyWithDib(*dc, toDib, x, y, width, height, *sourceDc, fromDib, sourceX, sourceY);
    }
    Canvas canvas;
    if (!CanvasOf(*dc, &canvas)) return true;
    RECT target = ToSurface(canvas, x, y, int64_t{x} + width, int64_t{y} + height);
    if (!needsSource) {
        if (IsEmpty(target)) return true;
        if (operation == DSTINVERT) XorSurfaceRect(*canvas.surface, target, kColorBits);
        else FillSurfaceRect(*canvas.surface, target, operation == WHITENESS ? kColorBits : 0);
        return true;
    }
    Canvas from;
    if (!CanvasOf(*sourceDc, &from)) return true;
    // Surface offset from a destination pixel to its source pixel.
    const int64_t shiftX = (int64_t{sourceX} + from.originX) - (int64_t{x} + canvas.originX);
    const int64_t shiftY = (int64_t{sourceY} + from.originY) - (int64_t{y} + canvas.originY);
    target = Intersect(target, RECT{ClampCoordinate(from.clip.left - shiftX), ClampCoordinate(from.clip.top - shiftY),
                                    ClampCoordinate(from.clip.right - shiftX), ClampCoordinate(from.clip.bottom - shiftY)});
    if (IsEmpty(target)) return true;
    const int rowWidth = target.right - target.left;
    const int rows = target.bottom - target.top;
    // Rows of the source first, so an overlapping copy within one surface
    // reads what was there before.
    std::vector<uint32_t> copy(static_cast<size_t>(rowWidth) * rows);
    for (int row = 0; row < rows; ++row)
        std::memcpy(&copy[static_cast<size_t>(row) * rowWidth],
                    PixelAt(*from.surface, static_cast<int>(target.left + shiftX), static_cast<int>(target.top + shiftY + row)),
                    rowWidth * sizeof(uint32_t));
    for (int row = 0; row < rows; ++row) {
        uint32_t* out = PixelAt(*canvas.surface, target.left, target.top + row);
        const uint32_t* in = &copy[static_cast<size_t>(row) * rowWidth];
        if (operation == SRCCOPY) std::memcpy(out, in, rowWidth * sizeof(uint32_t));
        else
            for (int i = 0; i < rowWidth; ++i) out[i] ^= in[i];
    }
    return true;
}

}  // namespace qob::platform
