// display/transformed_blits.cpp
// Scaled, rotated and masked blits over the operators' transformed copies and
// masked blend. Transform words are 128-bit, so any 32-bit position, size
// or source rectangle is safe.
#include "display/transformed_blits.h"

#include <algorithm>
#include <cmath>

namespace qob {
namespace {

bool HasTarget(const Canvas* canvas) {
    return canvas != nullptr && canvas->target != nullptr && canvas->target->buffer != nullptr;
}

bool HasPixels(const PixelSurface* surface) { return surface != nullptr && surface->buffer != nullptr; }

// {left, top, right, bottom} given in 64 bits, cut to the area; false when
// nothing is left.
bool ClipToArea(int64_t left, int64_t top, int64_t right, int64_t bottom, const Rect& area, Rect& clipped) {
    left = std::max<int64_t>(left, area.left), top = std::max<int64_t>(top, area.top);
    right = std::min<int64_t>(right, area.right), bottom = std::min<int64_t>(bottom, area.bottom);
    if (right <= left || bottom <= top) return false;
    clipped = Rect{static_cast<int32_t>(left), static_cast<int32_t>(top), static_cast<int32_t>(right),
                   static_cast<int32_t>(bottom)};
    return true;
}

// R, the half side of the square a rotated source can cover, and the
// rotation's cosine and sine in 1/1024 (of -angle, truncated).
struct Rotation {
    int64_t radius;
    int64_t cosine;
    int64_t sine;
};

bool MakeRotation(const PixelBuffer& source, float angle, Rotation& rotation) {
    if (!std::isfinite(angle)) return false;
    const double halfWidth = source.width / 2.0, halfHeight = source.height / 2.0;
    rotation.radius = static_cast<int64_t>(std::sqrt(halfWidth * halfWidth + halfHeight * halfHeight) + 1);
    rotation.cosine = static_cast<int32_t>(std::cos(-angle) * 1024.0f);
    rotation.sine = static_cast<int32_t>(std::sin(-angle) * 1024.0f);
    return true;
}

// Moves a transform so that it maps pixel (column, row) of its old
// destination to (0, 0) of the new one.
TransformBlock ShiftTransform(TransformBlock t, int64_t column, int64_t row) {
    t.e += 64 * (t.a * column + t.c * row);
    t.f += 64 * (t.b * column + t.d * row);
    return t;
}

// The scaling of a source rectangle onto a destination of dw x dh, relative
// to the destination's top-left. False for an empty destination.
bool MakeScaling(const Rect& from, int64_t dw, int64_t dh, TransformBlock& t) {
    if (dw <= 0 || dh <= 0) return false;
    const __int128 a = (__int128{from.right} - from.left) * 1024 / dw;
    const __int128 d = (__int128{from.bottom} - from.top) * 1024 / dh;
    t = TransformBlock{a, 0, 0, d, __int128{from.left} * 65536, __int128{from.top} * 65536};
    return true;
}

Rect WholeOf(const PixelBuffer& buffer) { return Rect{0, 0, buffer.width, buffer.height}; }

void CopyTransformedBy(PixelOperator& op, PixelBuffer& target, const Rect& rect, const TransformBlock& t,
                       const PixelSurface& source) {
    if (source.colorKey >= 0)
        op.CopyTransformedKeyed(target, rect, t, *source.buffer, static_cast<uint16_t>(source.colorKey));
    else
        op.CopyTransformed(target, rect, t, *source.buffer);
}

// Scales the source rectangle onto the destination, cut to the area, through
// the operator. False for an empty destination or nothing left to draw.
bool DrawScaled(PixelOperator& op, PixelBuffer& target, const Rect& area, const Rect& destination,
                const PixelSurface& source, const Rect* sourceRect) {
    TransformBlock t;
    Rect clipped;
    const Rect from = sourceRect ? *sourceRect : WholeOf(*source.buffer);
    if (!MakeScaling(from, int64_t{destination.right} - destination.left,
                     int64_t{destination.bottom} - destination.top, t) ||
        !ClipToArea(destination.left, destination.top, destination.right, destination.bottom, area, clipped))
        return false;
    CopyTransformedBy(op, target, clipped, ShiftTransform(t, -int64_t{destination.left}, -int64_t{destination.top}),
                      source);
    return true;
}

// Two temporary surfaces of one size, released when it ends.
struct TemporaryPair {
    PixelSurface colour{};
    PixelSurface mask{};
    TemporaryPair(int32_t width, int32_t height) {
        SurfaceInit(&colour, width, height);
        SurfaceInit(&mask, width, height);
    }
    ~TemporaryPair() {
        SurfaceRelease(&colour);
        SurfaceRelease(&mask);
    }
    TemporaryPair(const TemporaryPair&) = delete;
    TemporaryPair& operator=(const TemporaryPair&) = delete;
    bool IsMade() const { return colour.buffer != nullptr && mask.buffer != nullptr; }
};

// The source and mask through one transform into cleared temporaries (plain
// copies), then blended onto the target at point through the current
// operator. 0 when the temporaries cannot be made.
int BlendThroughTemporaries(Canvas* canvas, const Rect& clipped, const TransformBlock& t, const PixelSurface& source,
                            const PixelSurface& mask) {
    const int32_t width = clipped.right - clipped.left, height = clipped.bottom - clipped.top;
    TemporaryPair temporaries(width, height);
    if (!temporaries.IsMade()) return 0;
    CopyOperator& copy = SharedCopyOperator();
    const Rect whole{0, 0, width, height};
    copy.Fill(*temporaries.colour.buffer, 0);
    copy.Fill(*temporaries.mask.buffer, 0);
    copy.CopyTransformed(*temporaries.colour.buffer, whole, t, *source.buffer);
    copy.CopyTransformed(*temporaries.mask.buffer, whole, t, *mask.buffer);
    canvas->currentOperator->MaskedBlend(*canvas->target->buffer, Point{clipped.left, clipped.top},
                                         *temporaries.colour.buffer, *temporaries.mask.buffer, whole);
    return 1;
}

}  // namespace

// The transform maps the square's centre (cx, cy) to the source's centre
// (w / 2, h / 2): e = ((w << 9) - C cx - S cy) << 6, f = (S cx - C cy + (h << 9)) << 6.
int CanvasBlitRotated(Canvas* canvas, int32_t cx, int32_t cy, float angle, const PixelSurface* source) {
    Rotation r;
    if (!HasTarget(canvas) || !HasPixels(source) || !MakeRotation(*source->buffer, angle, r)) return 0;
    PixelBuffer* target;
    Rect area, clipped;
    if (!GetCanvasArea(canvas, target, area) ||
        !ClipToArea(int64_t{cx} - r.radius, int64_t{cy} - r.radius, int64_t{cx} + r.radius, int64_t{cy} + r.radius,
                    area, clipped))
        return 1;
    const __int128 w = source->buffer->width, h = source->buffer->height;
    const TransformBlock t{r.cosine, -r.sine, r.sine, r.cosine, (w * 512 - r.cosine * cx - r.sine * cy) * 64,
                           (r.sine * cx - r.cosine * cy + h * 512) * 64};
    CopyTransformedBy(*canvas->currentOperator, *target, clipped, t, *source);
    return 1;
}

int CanvasBlitScaledRotated(Canvas* canvas, int32_t cx, int32_t cy, float angle, const PixelSurface* source,
                            PixelSurface* scratch, const Rect* sourceRect) {
    if (!HasTarget(canvas) || !HasPixels(source) || !HasPixels(scratch) || !std::isfinite(angle)) return 0;
    scratch->colorKey = source->colorKey >= 0 ? source->colorKey : -1;
    CopyOperator& copy = SharedCopyOperator();
    if (scratch->colorKey >= 0) copy.Fill(*scratch->buffer, static_cast<uint16_t>(scratch->colorKey));
    const Rect whole = WholeOf(*scratch->buffer);
    if (!DrawScaled(copy, *scratch->buffer, whole, whole, *source, sourceRect)) return 1;
    return CanvasBlitRotated(canvas, cx, cy, angle, scratch);
}

int CanvasBlitTransformed(Canvas* canvas, const Rect& destination, const PixelSurface* source,
                          const Rect* sourceRect) {
    if (!HasTarget(canvas) || !HasPixels(source)) return 0;
    PixelBuffer* target;
    Rect area;
    if (GetCanvasArea(canvas, target, area))
        DrawScaled(*canvas->currentOperator, *target, area, destination, *source, sourceRect);
    return 1;
}

int CanvasBlitMasked(Canvas* canvas, int32_t x, int32_t y, const PixelSurface* source, const PixelSurface* mask,
                     const Rect* sourceRect) {
    if (!HasTarget(canvas) || !HasPixels(source) || !HasPixels(mask)) return 0;
    PixelBuffer* target;
    Rect area, from;
    Point point;
    if (GetCanvasArea(canvas, target, area) &&
        ClipBlit(area, x, y, *source->buffer, mask->buffer, sourceRect, point, from))
        canvas->currentOperator->MaskedBlend(*target, point, *source->buffer, *mask->buffer, from);
    return 1;
}

// Relative to the 2R square: e = ((w << 9) - (S + C) R) << 6,
// f = ((S - C) R + (h << 9)) << 6; the temporaries hold only the part of the
// square inside the area.
int CanvasBlitRotatedEx(Canvas* canvas, int32_t cx, int32_t cy, float angle, const PixelSurface* source,
                        const PixelSurface* mask) {
    Rotation r;
    if (!HasTarget(canvas) || !HasPixels(source) || !HasPixels(mask) || !MakeRotation(*source->buffer, angle, r))
        return 0;
    PixelBuffer* target;
    Rect area, clipped;
    const int64_t left = int64_t{cx} - r.radius, top = int64_t{cy} - r.radius;
    if (!GetCanvasArea(canvas, target, area) ||
        !ClipToArea(left, top, int64_t{cx} + r.radius, int64_t{cy} + r.radius, area, clipped))
        return 1;
    const __int128 w = source->buffer->width, h = source->buffer->height, radius = r.radius;
    const TransformBlock square{r.cosine, -r.sine, r.sine, r.cosine, (w * 512 - (r.sine + r.cosine) * radius) * 64,
                                ((r.sine - r.cosine) * radius + h * 512) * 64};
    return BlendThroughTemporaries(canvas, clipped, ShiftTransform(square, clipped.left - left, clipped.top - top),
                                   *source, *mask);
}

int CanvasBlitTransformedEx(Canvas* canvas, const Rect& destination, const PixelSurface* source,
                            const PixelSurface* mask, const Rect* sourceRect) {
    if (!HasTarget(canvas) || !HasPixels(source) || !HasPixels(mask)) return 0;
    TransformBlock t;
    PixelBuffer* target;
    Rect area, clipped;
    const Rect from = sourceRect ? *sourceRect : WholeOf(*source->buffer);
    if (!MakeScaling(from, int64_t{destination.right} - destination.left,
                     int64_t{destination.bottom} - destination.top, t) ||
        !GetCanvasArea(canvas, target, area) ||
        !ClipToArea(destination.left, destination.top, destination.right, destination.bottom, area, clipped))
        return 1;
    return BlendThroughTemporaries(
        canvas, clipped,
        ShiftTransform(t, int64_t{clipped.left} - destination.left, int64_t{clipped.top} - destination.top), *source,
        *mask);
}

}  // namespace qob
