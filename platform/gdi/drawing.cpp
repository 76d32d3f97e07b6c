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

bool Contains(const RECT& r, int x, int y) { return x >= r.left && x < r.right && y >= r.top && y < r.bottom; }

// The logical rectangle in surface coordinates, clipped; empty when it
// misses the clip.
RECT ToSurface(const Canvas& canvas, const RECT& rect) {
    const RECT moved{rect.left + canvas.originX, rect.top + canvas.originY, rect.right + canvas.originX,
                     rect.bottom + canvas.originY};
    return Intersect(moved, canvas.clip);
}

void XorSurfaceRect(Surface32& surface, const RECT& rect, uint32_t bits) {
    for (int y = rect.top; y < rect.bottom; ++y) {
        uint32_t* row = PixelAt(surface, rect.left, y);
        for (int x = 0; x < rect.right - rect.left; ++x) row[x] ^= bits;
    }
}

// A w x w square of the pen's pixels centred on the logical point.
void StampPen(const Canvas& canvas, int x, int y, int width, uint32_t pixel) {
    const int half = width / 2;
    const RECT square = ToSurface(canvas, {x - half, y - half, x - half + width, y - half + width});
    if (!IsEmpty(square)) FillSurfaceRect(*canvas.surface, square, pixel);
}

// Bresenham from (x0, y0) towards (x1, y1), the end point left out.
void DrawLine(const Canvas& canvas, const Pen& pen, int x0, int y0, int x1, int y1) {
    if (pen.style == PS_NULL) return;
    const uint32_t pixel = PixelFromColor(pen.color);
    const int dx = std::abs(x1 - x0), dy = -std::abs(y1 - y0);
    const int stepX = x0 < x1 ? 1 : -1, stepY = y0 < y1 ? 1 : -1;
    int error = dx + dy;
    for (int step = 0; x0 != x1 || y0 != y1; ++step) {
        const bool on = pen.style != PS_DASH || (step / kDashLength) % 2 == 0;
        if (on) {
            if (pen.width <= 1) {
                const int sx = x0 + canvas.originX, sy = y0 + canvas.originY;
                if (Contains(canvas.clip, sx, sy)) *PixelAt(*canvas.surface, sx, sy) = pixel;
            } else {
                StampPen(canvas, x0, y0, pen.width, pixel);
            }
        }
        const int twice = 2 * error;
        if (twice >= dy) {
            error += dy;
            x0 += stepX;
        }
        if (twice <= dx) {
            error += dx;
            y0 += stepY;
        }
    }
}

// The four sides of a one-pixel frame, no pixel twice (a frame one pixel
// high or wide has no second row or column).
template <typename Visit>
void VisitFrame(const RECT& r, Visit visit) {
    if (IsEmpty(r)) return;
    for (int x = r.left; x < r.right; ++x) visit(x, r.top);
    if (r.bottom - 1 > r.top)
        for (int x = r.left; x < r.right; ++x) visit(x, r.bottom - 1);
    for (int y = r.top + 1; y < r.bottom - 1; ++y) {
        visit(r.left, y);
        if (r.right - 1 > r.left) visit(r.right - 1, y);
    }
}

// The DC's canvas; false when the DC is dead or draws nowhere (the caller
// then tells the two apart by the DC).
bool LookUp(HDC handle, DeviceContext** dc, Canvas* canvas) {
    *dc = LookUpDC(handle);
    return *dc && CanvasOf(**dc, canvas);
}

}  // namespace

namespace gdi {

void FillSurfaceRect(Surface32& surface, const RECT& rect, uint32_t pixel) {
    const int width = rect.right - rect.left;
    if (width == surface.stride) {  // whole rows: one run
        std::fill_n(PixelAt(surface, 0, rect.top), static_cast<size_t>(width) * (rect.bottom - rect.top), pixel);
        return;
    }
    for (int y = rect.top; y < rect.bottom; ++y) std::fill_n(PixelAt(surface, rect.left, y), width, pixel);
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
    if (brush->hollow) return 1;
    const uint32_t pixel = PixelFromColor(brush->color);
    const RECT& r = *rect;
    if (IsEmpty(r)) return 1;
    for (const RECT side : {RECT{r.left, r.top, r.right, r.top + 1}, RECT{r.left, r.bottom - 1, r.right, r.bottom},
                            RECT{r.left, r.top, r.left + 1, r.bottom}, RECT{r.right - 1, r.top, r.right, r.bottom}}) {
        const RECT target = ToSurface(canvas, side);
        if (!IsEmpty(target)) FillSurfaceRect(*canvas.surface, target, pixel);
    }
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
    const RECT r = *rect;
    VisitFrame(r, [&](int x, int y) {
        if (((x - r.left) + (y - r.top)) % 2 != 0) return;
        const int sx = x + canvas.originX, sy = y + canvas.originY;
        if (Contains(canvas.clip, sx, sy)) *PixelAt(*canvas.surface, sx, sy) ^= kColorBits;
    });
    return true;
}

bool Rectangle(HDC handle, int left, int top, int right, int bottom) {
    DeviceContext* dc = nullptr;
    Canvas canvas;
    if (!LookUp(handle, &dc, &canvas)) return dc != nullptr;
    if (left > right) std::swap(left, right);
    if (top > bottom) std::swap(top, bottom);
    const Pen& pen = SelectedPen(*dc);
    const Brush& brush = SelectedBrush(*dc);
    const int border = pen.style == PS_NULL ? 0 : std::min(pen.width, std::min(right - left, bottom - top) / 2 + 1);
    if (!brush.hollow) {
        const RECT inside = ToSurface(canvas, {left + border, top + border, right - border, bottom - border});
        if (!IsEmpty(inside)) FillSurfaceRect(*canvas.surface, inside, PixelFromColor(brush.color));
    }
    if (border == 0 || right - left < 1 || bottom - top < 1) return true;
    if (pen.style == PS_DASH && pen.width <= 1) {
        const POINT corners[] = {{left, top}, {right - 1, top}, {right - 1, bottom - 1}, {left, bottom - 1}, {left, top}};
        for (int i = 0; i < 4; ++i) DrawLine(canvas, pen, corners[i].x, corners[i].y, corners[i + 1].x, corners[i + 1].y);
        return true;
    }
    const uint32_t pixel = PixelFromColor(pen.color);
    for (const RECT side : {RECT{left, top, right, top + border}, RECT{left, bottom - border, right, bottom},
                            RECT{left, top, left + border, bottom}, RECT{right - border, top, right, bottom}}) {
        const RECT target = ToSurface(canvas, side);
        if (!IsEmpty(target)) FillSurfaceRect(*canvas.surface, target, pixel);
    }
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
    const int sx = x + canvas.originX, sy = y + canvas.originY;
    if (!Contains(canvas.clip, sx, sy)) return CLR_INVALID;
    color = ResolveColor(color);
    *PixelAt(*canvas.surface, sx, sy) = PixelFromColor(color);
    return color;
}

COLORREF GetPixel(HDC handle, int x, int y) {
    DeviceContext* dc = nullptr;
    Canvas canvas;
    if (!LookUp(handle, &dc, &canvas)) return CLR_INVALID;
    const int sx = x + canvas.originX, sy = y + canvas.originY;
    if (!Contains(canvas.clip, sx, sy)) return CLR_INVALID;
    return ColorFromPixel(*PixelAt(*canvas.surface, sx, sy));
}

bool BitBlt(HDC destination, int x, int y, int width, int height, HDC source, int sourceX, int sourceY,
            uint32_t operation) {
    const bool needsSource = operation == SRCCOPY || operation == SRCINVERT;
    if (!needsSource && operation != DSTINVERT && operation != BLACKNESS && operation != WHITENESS) return false;
    DeviceContext* dc = LookUpDC(destination);
    DeviceContext* sourceDc = needsSource ? LookUpDC(source) : nullptr;
    if (!dc || (needsSource && !sourceDc) || width < 0 || height < 0) return false;
    Canvas canvas;
    if (!CanvasOf(*dc, &canvas)) return true;
    RECT target = ToSurface(canvas, {x, y, x + width, y + height});
    if (!needsSource) {
        if (IsEmpty(target)) return true;
        if (operation == DSTINVERT) XorSurfaceRect(*canvas.surface, target, kColorBits);
        else FillSurfaceRect(*canvas.surface, target, operation == WHITENESS ? kColorBits : 0);
        return true;
    }
    Canvas from;
    if (!CanvasOf(*sourceDc, &from)) return true;
    // Surface offset from a destination pixel to its source pixel.
    const int shiftX = (sourceX + from.originX) - (x + canvas.originX);
    const int shiftY = (sourceY + from.originY) - (y + canvas.originY);
    target = Intersect(target, {from.clip.left - shiftX, from.clip.top - shiftY, from.clip.right - shiftX,
                                from.clip.bottom - shiftY});
    if (IsEmpty(target)) return true;
    const int rowWidth = target.right - target.left;
    const int rows = target.bottom - target.top;
    // Rows of the source first, so an overlapping copy within one surface
    // reads what was there before.
    std::vector<uint32_t> copy(static_cast<size_t>(rowWidth) * rows);
    for (int row = 0; row < rows; ++row)
        std::memcpy(&copy[static_cast<size_t>(row) * rowWidth],
                    PixelAt(*from.surface, target.left + shiftX, target.top + shiftY + row), rowWidth * sizeof(uint32_t));
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
