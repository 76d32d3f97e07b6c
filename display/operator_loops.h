// display/operator_loops.h
// The pixel loops that every operator shares, written once over a colour rule
// (source colour, destination pixel) -> new pixel, which each operator's slots
// instantiate inline: no virtual call per pixel.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

#include "display/blend.h"
#include "display/pixel_buffer.h"
#include "display/pixel_operator.h"
#include "display/rect.h"

namespace qob::operator_loops {

template <class Rule>
void CopyRect(Rule rule, PixelBuffer& destination, Point point, const PixelBuffer& source, const Rect& sourceRect) {
    const int64_t width = int64_t{sourceRect.right} - sourceRect.left;
    const int64_t height = int64_t{sourceRect.bottom} - sourceRect.top;
    for (int64_t row = 0; row < height; ++row) {
        const uint16_t* from = PixelAt(source, sourceRect.left, sourceRect.top + row);
        uint16_t* to = PixelAt(destination, point.x, point.y + row);
        for (int64_t i = 0; i < width; ++i) to[i] = rule(from[i], to[i]);
    }
}

template <class Rule>
void CopyRectKeyed(Rule rule, PixelBuffer& destination, Point point, const PixelBuffer& source,
                   const Rect& sourceRect, uint16_t key) {
    const int64_t width = int64_t{sourceRect.right} - sourceRect.left;
    const int64_t height = int64_t{sourceRect.bottom} - sourceRect.top;
    for (int64_t row = 0; row < height; ++row) {
        const uint16_t* from = PixelAt(source, sourceRect.left, sourceRect.top + row);
        uint16_t* to = PixelAt(destination, point.x, point.y + row);
        for (int64_t i = 0; i < width; ++i)
            if (from[i] != key) to[i] = rule(from[i], to[i]);
    }
}

// Floor and ceiling of n / d for d > 0.
inline __int128 FloorDivide(__int128 n, __int128 d) {
    __int128 q = n / d;
    if (n % d != 0 && n < 0) --q;
    return q;
}
inline __int128 CeilDivide(__int128 n, __int128 d) { return -FloorDivide(-n, d); }

// Narrows [first, last) to the steps k for which 0 <= start + k x step < limit.
inline void NarrowSteps(__int128 start, __int128 step, __int128 limit, __int128& first, __int128& last) {
    if (step > 0) {
        first = std::max(first, CeilDivide(-start, step));
        last = std::min(last, FloorDivide(limit - 1 - start, step) + 1);
    } else if (step < 0) {
        first = std::max(first, CeilDivide(start - limit + 1, -step));
        last = std::min(last, FloorDivide(start, -step) + 1);
    } else if (start < 0 || start >= limit) {
        last = first;
    }
}

// A bound on |a x X + c x Y + e| over the rectangle's pixel centres.
inline __int128 TransformBound(__int128 a, __int128 c, __int128 e, const Rect& rect) {
    const auto magnitude = [](__int128 v) { return v < 0 ? -v : v; };
    const __int128 reachX = 64 * std::max(magnitude(rect.left), magnitude(rect.right)) + 32;
    const __int128 reachY = 64 * std::max(magnitude(rect.top), magnitude(rect.bottom)) + 32;
    return magnitude(a) * reachX + magnitude(c) * reachY + magnitude(e);
}

// One edge of the columns of a row whose source coordinate lies inside the
// source: the first column k = ceil(N / D) (D > 0), where N changes by the
// same amount G from row to row. Kept as a quotient and a remainder, so a row
// costs an add and a compare instead of a division.
class ColumnEdge {
public:
    ColumnEdge(int64_t n, int64_t g, int64_t d) : divisor(d) {
        quotient = n / d;
        if (quotient * d < n) ++quotient;  // ceiling
        remainder = quotient * d - n;      // 0 <= remainder < d
        stepQuotient = g / d;
        stepRemainder = g % d;
        if (stepRemainder < 0) stepRemainder += d, --stepQuotient;  // floor
    }
    int64_t Column() const { return quotient; }
    void NextRow() {
        quotient += stepQuotient;
        remainder -= stepRemainder;
        if (remainder < 0) remainder += divisor, ++quotient;
    }

private:
    int64_t divisor, quotient, remainder, stepQuotient, stepRemainder;
};

// The columns [first, last) of each row at which start + k x step lies in
// [0, limit), start growing by rowStep per row.
class ColumnRange {
public:
    ColumnRange(int64_t start, int64_t step, int64_t rowStep, int64_t limit)
        : start(start),
          rowStep(rowStep),
          limit(limit),
          stepless(step == 0),
          // step > 0: first k with start + k step >= 0 and first with >= limit;
          // step < 0: first k with start + k step < limit and first with < 0.
          firstEdge(step > 0 ? -start : start - limit + 1, step > 0 ? -rowStep : rowStep, Divisor(step)),
          lastEdge(step > 0 ? limit - start : start + 1, step > 0 ? -rowStep : rowStep, Divisor(step)) {}
    void Narrow(int64_t count, int64_t& first, int64_t& last) const {
        if (stepless) {
            if (start < 0 || start >= limit) last = first;
            return;
        }
        first = std::max(first, std::clamp<int64_t>(firstEdge.Column(), 0, count));
        last = std::min(last, std::clamp<int64_t>(lastEdge.Column(), 0, count));
    }
    void NextRow() {
        start += rowStep;
        firstEdge.NextRow();
        lastEdge.NextRow();
    }

private:
    static int64_t Divisor(int64_t step) { return step > 0 ? step : step < 0 ? -step : 1; }  // 1: unused

    int64_t start, rowStep, limit;
    bool stepless;
    ColumnEdge firstEdge, lastEdge;
};

// The common case, where every source coordinate of the rectangle fits 64
// bits with room to spare: 64-bit accumulators, and per row the columns whose
// source pixel lies inside the source (the pixels an unsigned test per pixel
// keeps), stepped from row to row, so the inner loop only copies. fetch(x, y)
// reads the source pixel at the integer coordinates.
template <bool Keyed, class Rule, class Fetch>
void CopyTransformedRows(Rule rule, PixelBuffer& destination, const Rect& rect, const TransformBlock& t,
                         const PixelBuffer& source, uint16_t key, Fetch fetch) {
    const int64_t a = static_cast<int64_t>(t.a), b = static_cast<int64_t>(t.b), c = static_cast<int64_t>(t.c);
    const int64_t d = static_cast<int64_t>(t.d), e = static_cast<int64_t>(t.e), f = static_cast<int64_t>(t.f);
    const int64_t limitX = int64_t{source.width} << 16, limitY = int64_t{source.height} << 16;
    const int64_t firstX = 64 * int64_t{rect.left} + 32, columns = int64_t{rect.right} - rect.left;
    const int64_t stepX = 64 * a, stepY = 64 * b;
    const int64_t firstY = 64 * int64_t{rect.top} + 32;
    int64_t startX = a * firstX + c * firstY + e, startY = b * firstX + d * firstY + f;
    ColumnRange rangeX(startX, stepX, 64 * c, limitX), rangeY(startY, stepY, 64 * d, limitY);
    for (int64_t row = rect.top; row < rect.bottom;
         ++row, startX += 64 * c, startY += 64 * d, rangeX.NextRow(), rangeY.NextRow()) {
        int64_t first = 0, last = columns;
        rangeX.Narrow(columns, first, last);
        rangeY.Narrow(columns, first, last);
        int64_t sx = startX + first * stepX, sy = startY + first * stepY;
        uint16_t* to = PixelAt(destination, rect.left, row);
        const auto put = [&](int64_t k, int64_t x, int64_t y) {
            const uint16_t colour = fetch(x >> 16, y >> 16);
            if constexpr (Keyed) {
                if (colour == key) return;
            }
            to[k] = rule(colour, to[k]);
        };
        // Two pixels a step: the second's coordinates are independent of
        // the first's, which the processor overlaps.
        int64_t k = first;
        for (; k + 2 <= last; k += 2, sx += 2 * stepX, sy += 2 * stepY) {
            put(k, sx, sy);
            put(k + 1, sx + stepX, sy + stepY);
        }
        if (k < last) put(k, sx, sy);
    }
}

// Sources up to this many rows are read through a table of row starts built
// per call (a load in place of the multiply by the pitch in every pixel's
// address); taller ones multiply.
constexpr int32_t kTabledSourceRows = 512;

template <bool Keyed, class Rule>
void CopyTransformedNarrow(Rule rule, PixelBuffer& destination, const Rect& rect, const TransformBlock& t,
                           const PixelBuffer& source, uint16_t key) {
    const uint8_t* const bits = source.bits;
    const int64_t pitch = source.pitch;
    if (source.height >= 0 && source.height <= kTabledSourceRows) {
        const uint16_t* rows[kTabledSourceRows];
        for (int32_t y = 0; y < source.height; ++y) rows[y] = reinterpret_cast<const uint16_t*>(bits + pitch * y);
        CopyTransformedRows<Keyed>(rule, destination, rect, t, source, key,
                                   [&rows](int64_t x, int64_t y) { return rows[y][x]; });
    } else {
        CopyTransformedRows<Keyed>(rule, destination, rect, t, source, key, [bits, pitch](int64_t x, int64_t y) {
            return *reinterpret_cast<const uint16_t*>(bits + pitch * y + 2 * x);
        });
    }
}

// The same for any transform, with 128-bit row starts and exact per-row
// column ranges.
template <bool Keyed, class Rule>
void CopyTransformedWide(Rule rule, PixelBuffer& destination, const Rect& rect, const TransformBlock& t,
                         const PixelBuffer& source, uint16_t key) {
    const int64_t columns = int64_t{rect.right} - rect.left;
    if (columns <= 0) return;
    const __int128 limitX = __int128{source.width} << 16, limitY = __int128{source.height} << 16;
    const __int128 stepX = 64 * t.a, stepY = 64 * t.b;
    const __int128 firstX = 64 * __int128{rect.left} + 32;
    for (int64_t row = rect.top; row < rect.bottom; ++row) {
        const __int128 y = 64 * __int128{row} + 32;
        const __int128 startX = t.a * firstX + t.c * y + t.e;
        const __int128 startY = t.b * firstX + t.d * y + t.f;
        __int128 first = 0, last = columns;
        NarrowSteps(startX, stepX, limitX, first, last);
        NarrowSteps(startY, stepY, limitY, first, last);
        if (first >= last) continue;
        // Inside the range both coordinates lie in [0, limit); a range of two
        // or more columns bounds the steps by the limits, so one more step
        // stays far from the 64-bit limit.
        int64_t sx = static_cast<int64_t>(startX + first * stepX);
        int64_t sy = static_cast<int64_t>(startY + first * stepY);
        const bool stepping = last - first > 1;
        const int64_t dx = stepping ? static_cast<int64_t>(stepX) : 0, dy = stepping ? static_cast<int64_t>(stepY) : 0;
        uint16_t* to = PixelAt(destination, rect.left, row);
        for (int64_t k = static_cast<int64_t>(first); k < static_cast<int64_t>(last); ++k, sx += dx, sy += dy) {
            const uint16_t c = *PixelAt(source, sx >> 16, sy >> 16);
            if constexpr (Keyed) {
                if (c == key) continue;
            }
            to[k] = rule(c, to[k]);
        }
    }
}

// Transformed copy. The source coordinates step by 64a, 64b per column and
// 64c, 64d per row. When they could grow past 64 bits (positions and scales
// far out in the 32-bit range), the 128-bit way is taken.
template <bool Keyed, class Rule>
void CopyTransformed(Rule rule, PixelBuffer& destination, const Rect& rect, const TransformBlock& t,
                     const PixelBuffer& source, uint16_t key) {
    constexpr __int128 kRoomy = __int128{1} << 60;
    if (TransformBound(t.a, t.c, t.e, rect) < kRoomy && TransformBound(t.b, t.d, t.f, rect) < kRoomy)
        CopyTransformedNarrow<Keyed>(rule, destination, rect, t, source, key);
    else
        CopyTransformedWide<Keyed>(rule, destination, rect, t, source, key);
}

// Midpoint circle: x = 0, y = r, e = 3 - 2r; eight points per step while
// x < y, the four diagonal points when the walk ends on x = y. Radius 0 plots
// the centre (four times); a negative radius plots nothing. 64-bit, so that
// any 32-bit radius and centre are safe.
template <class Plot>
void TraceCircle(int64_t cx, int64_t cy, int64_t radius, Plot plot) {
    if (radius < 0) return;
    int64_t x = 0, y = radius, e = 3 - 2 * radius;
    while (x < y) {
        plot(cx + x, cy + y), plot(cx - x, cy + y), plot(cx + x, cy - y), plot(cx - x, cy - y);
        plot(cx + y, cy + x), plot(cx - y, cy + x), plot(cx + y, cy - x), plot(cx - y, cy - x);
        if (e < 0) {
            e += 4 * x + 6;
        } else {
            e += 4 * (x - y) + 10;
            --y;
        }
        ++x;
    }
    if (x == y) plot(cx + x, cy + y), plot(cx - x, cy + y), plot(cx + x, cy - y), plot(cx - x, cy - y);
}

// The largest integer whose square is at most n (n >= 0).
inline __int128 SquareRootFloor(__int128 n) {
    __int128 root = static_cast<__int128>(std::sqrt(static_cast<long double>(n)));
    while (root > 0 && root * root > n) --root;
    while ((root + 1) * (root + 1) <= n) ++root;
    return root;
}

// The offsets u >= 0 for which centre + u or centre - u lies in [low, high):
// two intervals of the form [first, last).
struct OffsetIntervals {
    int64_t first[4];
    int64_t last[4];

    OffsetIntervals(int64_t cx, int64_t cy, const Rect& clip)
        : first{clip.left - cx, cx - clip.right + 1, clip.top - cy, cy - clip.bottom + 1},
          last{clip.right - cx, cx - clip.left + 1, clip.bottom - cy, cy - clip.top + 1} {}

    // The smallest offset >= from in any interval, or the largest int64.
    int64_t NextFrom(int64_t from) const {
        int64_t next = std::numeric_limits<int64_t>::max();
        for (int i = 0; i < 4; ++i)
            if (last[i] > from) next = std::min(next, std::max(first[i], from));
        return next;
    }
};

// TraceCircle with each point tested against the clip, skipping the steps
// whose points all miss it: a step at x plots only at offsets x and y, so a
// step whose x lies in no interval of offsets reaching the clip plots
// nothing. The walk then jumps ahead. While x <= y - 2 the walk keeps
// y = the largest t with 2x^2 + t^2 + (t - 1)^2 < 2r^2 and
// e = 2(x + 1)^2 + y^2 + (y - 1)^2 - 2r^2, so the state after a jump is the
// one the step-by-step walk reaches; a huge circle that crosses a small clip
// then costs steps only where it shows.
template <class Plot>
void TraceCircleClipped(int64_t cx, int64_t cy, int64_t radius, const Rect& clip, Plot plot) {
    if (radius < 0) return;
    const auto plotInside = [&](int64_t x, int64_t y) {
        if (ComputeOutcode(clip, x, y) == 0) plot(x, y);
    };
    const __int128 r2 = __int128{radius} * radius;
    // The walk's y at column z (valid while the walk before z kept x <= y - 2).
    const auto walkY = [&](int64_t z) {
        return static_cast<int64_t>((SquareRootFloor(4 * (r2 - __int128{z} * z) - 2) + 1) / 2);
    };
    const auto canJumpTo = [&](int64_t z) { return walkY(z - 1) - (z - 1) >= 2; };
    const OffsetIntervals offsets(cx, cy, clip);
    int64_t x = 0, y = radius, e = 3 - 2 * radius;
    while (x < y) {
        const int64_t wanted = std::min(offsets.NextFrom(x), y);
        if (wanted > x + 1 && canJumpTo(x + 1)) {
            int64_t low = x + 1, high = wanted;  // canJumpTo(low) holds; find the largest such column
            while (low < high) {
                const int64_t middle = low + (high - low + 1) / 2;
                if (canJumpTo(middle))
                    low = middle;
                else
                    high = middle - 1;
            }
            x = low;
            y = walkY(x);
            e = static_cast<int64_t>(2 * (__int128{x} + 1) * (x + 1) + __int128{y} * y + __int128{y - 1} * (y - 1) -
                                     2 * r2);
            continue;
        }
        plotInside(cx + x, cy + y), plotInside(cx - x, cy + y), plotInside(cx + x, cy - y), plotInside(cx - x, cy - y);
        plotInside(cx + y, cy + x), plotInside(cx - y, cy + x), plotInside(cx + y, cy - x), plotInside(cx - y, cy - x);
        if (e < 0) {
            e += 4 * x + 6;
        } else {
            e += 4 * (x - y) + 10;
            --y;
        }
        ++x;
    }
    if (x == y)
        plotInside(cx + x, cy + y), plotInside(cx - x, cy + y), plotInside(cx + x, cy - y), plotInside(cx - x, cy - y);
}

// Two cursors walk from both ends towards each other along the major axis,
// each taking a minor step when the shared decision value allows; both ends
// are drawn. Plot receives each pixel's byte offset from pixel (0, 0) of a
// buffer with that pitch.
template <class Plot>
void TraceLine(Point from, Point to, int64_t pitch, Plot plot) {
    const int64_t deltaX = int64_t{to.x} - from.x, deltaY = int64_t{to.y} - from.y;
    const int64_t dx = deltaX < 0 ? -deltaX : deltaX, dy = deltaY < 0 ? -deltaY : deltaY;
    const int64_t stepX = deltaX < 0 ? -2 : 2, stepY = deltaY < 0 ? -pitch : pitch;
    const bool majorX = dx >= dy;
    const int64_t major = majorX ? dx : dy, minor = majorX ? dy : dx;
    const int64_t majorStep = majorX ? stepX : stepY, diagonalStep = stepX + stepY;
    int64_t start = from.y * pitch + 2 * int64_t{from.x}, end = to.y * pitch + 2 * int64_t{to.x};
    if (major < 2) {
        plot(start);
        if (major & 1) plot(end);
        return;
    }
    int64_t decision = -major;
    for (int64_t i = major / 2; i > 0; --i) {
        decision += 2 * minor;
        plot(start);
        plot(end);
        if (decision < 1) {
            start += majorStep, end -= majorStep;
        } else {
            start += diagonalStep, end -= diagonalStep;
            decision -= 2 * major;
        }
    }
    plot(start);
    if (major & 1) plot(end);
}

template <class Rule>
void FillRect(Rule rule, PixelBuffer& buffer, const Rect& rect, uint16_t colour) {
    for (int64_t row = rect.top; row < rect.bottom; ++row) {
        uint16_t* to = PixelAt(buffer, rect.left, row);
        for (int64_t i = 0; i < int64_t{rect.right} - rect.left; ++i) to[i] = rule(colour, to[i]);
    }
}

template <class Rule>
void VerticalRun(Rule rule, PixelBuffer& buffer, Point start, int32_t lastOffset, uint16_t colour) {
    for (int64_t i = 0; i <= lastOffset; ++i) {
        uint16_t* to = PixelAt(buffer, start.x, start.y + i);
        *to = rule(colour, *to);
    }
}

// Masked blend: Weigh turns the mask's weight into the weight used (0 leaves
// the destination untouched), Colour gives the colour blended in from the
// source and destination pixels.
template <class Weigh, class Colour>
void MaskedBlend(Weigh weigh, Colour colour, PixelBuffer& destination, Point point, const PixelBuffer& source,
                 const PixelBuffer& mask, const Rect& sourceRect) {
    const int64_t width = int64_t{sourceRect.right} - sourceRect.left;
    for (int64_t row = 0; row < int64_t{sourceRect.bottom} - sourceRect.top; ++row) {
        const uint16_t* from = PixelAt(source, sourceRect.left, sourceRect.top + row);
        const uint16_t* weights = PixelAt(mask, sourceRect.left, sourceRect.top + row);
        uint16_t* to = PixelAt(destination, point.x, point.y + row);
        for (int64_t i = 0; i < width; ++i) {
            const uint32_t weight = weigh(MaskWeight(weights[i]));
            if (weight != 0) to[i] = BlendByWeight(colour(from[i], to[i]), to[i], weight);
        }
    }
}

}  // namespace qob::operator_loops
