// platform/gdi/gdi_objects.h
// The records behind the drawing layer's handles, shared by its source files.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/gdi.h"

namespace qob::platform::gdi {

struct DeviceContext;

// Every record below; the drawing layer owns them all (see MakeHandle).
struct GdiObject {
    virtual ~GdiObject() = default;
};

// A handle for a new record, which the drawing layer keeps until
// DestroyHandle: records stay reachable from an ordinary container, not only
// from the handle table, so leak checkers see every live one. 0 (and the
// record gone) when the handle range is used up.
[[nodiscard]] Handle KeepObject(HandleKind kind, void* address, std::unique_ptr<GdiObject> object);
template <typename Record>
[[nodiscard]] Handle MakeHandle(HandleKind kind, std::unique_ptr<Record> object) {
    Record* address = object.get();  // the table holds the record's own type
    return KeepObject(kind, address, std::move(object));
}
// Frees the handle and its record.
void DestroyHandle(Handle handle);

struct Brush final : GdiObject {
    Brush(bool hollow, bool permanent, COLORREF color) : hollow(hollow), permanent(permanent), color(color) {}
    bool hollow = false;
    bool permanent = false;  // stock and system-colour brushes
    COLORREF color = 0;      // resolved
};

struct Pen final : GdiObject {
    Pen(int style, int width, bool permanent, COLORREF color) : style(style), width(width), permanent(permanent), color(color) {}
    int style = PS_SOLID;
    int width = 1;
    bool permanent = false;
    COLORREF color = 0;  // resolved
};

struct Font final : GdiObject {
    LOGFONTW description{};
    FontFace face;
    bool underline = false;
    bool strikeOut = false;
    bool permanent = false;
};

struct Bitmap final : GdiObject {
    ~Bitmap() override;
    std::unique_ptr<uint32_t[]> pixels;
    Surface32 surface;  // a DIB section's: the 32-bit copy (pixels null until made)
    HDC selectedInto = 0;  // a bitmap is selected into one DC at a time
    bool permanent = false;  // the 1 x 1 bitmap every memory DC starts with

    // A 16-bit DIB section: its own pixels (low memory), the byte distance
    // from one row to the next, and the address of row 0 (the last memory
    // row of a bottom-up section, whose pitch is then negative).
    uint8_t* dibBits = nullptr;
    uint8_t* dibRow0 = nullptr;
    int32_t dibPitch = 0;
    bool copyLive = false;  // surface holds the pixels; dibBits are behind until GdiFlush

    [[nodiscard]] bool IsDib() const { return dibBits != nullptr; }
    [[nodiscard]] uint16_t* DibRow(int y) const {
        return reinterpret_cast<uint16_t*>(dibRow0 + static_cast<ptrdiff_t>(y) * dibPitch);
    }
};

// Rows of RGB565 to surface pixels and back (see PixelFrom565, PixelTo565).
void ExpandRow565(uint32_t* out, const uint16_t* in, int count);
void TruncateRow565(uint16_t* out, const uint32_t* in, int count);

// The bitmap selected into a memory DC, or null.
[[nodiscard]] Bitmap* SelectedBitmap(const DeviceContext& dc);

// A DIB section's 32-bit copy: made (and filled from its pixels) unless it is
// live already; false when it cannot be allocated.
[[nodiscard]] bool MakeDibCopy(Bitmap& bitmap);
// Writes the copy back into the section's pixels when it is live.
void FlushDibCopy(Bitmap& bitmap);

// The bitmap a new memory DC holds (any number of DCs at once).
[[nodiscard]] HBITMAP DefaultBitmap();

struct DeviceContext final : GdiObject {
    bool memory = false;         // a memory DC (its surface is its bitmap's)
    Surface32* surface = nullptr;  // target DCs: the target's surface
    POINT targetOrigin{0, 0};    // surface point of the target's (0, 0)
    RECT targetClip{0, 0, 0, 0};  // surface rectangle the target may touch
    bool clipped = false;        // whether userClip narrows the clip
    RECT userClip{0, 0, 0, 0};   // surface coordinates
    POINT viewport{0, 0};
    POINT position{0, 0};        // current position of MoveToEx/LineTo
    HBRUSH brush = 0;
    HPEN pen = 0;
    HFONT font = 0;
    HBITMAP bitmap = 0;          // memory DCs
    COLORREF textColor = 0;
    COLORREF backColor = 0xFFFFFF;
    int backMode = OPAQUE;
};

// Where a DC draws at this moment: its surface, its logical origin in
// surface coordinates, and the clip (within the surface). Empty clip when
// the DC draws nowhere.
struct Canvas {
    Surface32* surface = nullptr;
    int originX = 0;
    int originY = 0;
    RECT clip{0, 0, 0, 0};
};

[[nodiscard]] DeviceContext* LookUpDC(HDC dc);
[[nodiscard]] bool CanvasOf(const DeviceContext& dc, Canvas* canvas);

// The DC's selections, falling back to the defaults when a selected object
// has since been deleted.
[[nodiscard]] const Brush& SelectedBrush(const DeviceContext& dc);
[[nodiscard]] const Pen& SelectedPen(const DeviceContext& dc);
[[nodiscard]] const Font& SelectedFont(const DeviceContext& dc);

[[nodiscard]] HBRUSH DefaultBrush();
[[nodiscard]] HPEN DefaultPen();
[[nodiscard]] HFONT DefaultFont();

// Logical coordinates and sizes come from programs unchecked, so sums with
// them are taken in 64 bits and clamped to this range: far outside any
// surface (so clipping gives the same result) and far from overflowing.
constexpr int64_t kCoordinateLimit = int64_t{1} << 29;
[[nodiscard]] inline int ClampCoordinate(int64_t value) {
    return static_cast<int>(value < -kCoordinateLimit ? -kCoordinateLimit : value > kCoordinateLimit ? kCoordinateLimit : value);
}

// A logical rectangle on the canvas's surface, not clipped.
[[nodiscard]] inline RECT OnSurface(const Canvas& canvas, int64_t left, int64_t top, int64_t right, int64_t bottom) {
    return {ClampCoordinate(left + canvas.originX), ClampCoordinate(top + canvas.originY),
            ClampCoordinate(right + canvas.originX), ClampCoordinate(bottom + canvas.originY)};
}

// Rectangle helpers (right and bottom exclusive).
[[nodiscard]] inline bool IsEmpty(const RECT& r) { return r.left >= r.right || r.top >= r.bottom; }
[[nodiscard]] RECT Intersect(const RECT& a, const RECT& b);

// Fills a surface rectangle already inside the canvas's clip.
void FillSurfaceRect(Surface32& surface, const RECT& rect, uint32_t pixel);

}  // namespace qob::platform::gdi
