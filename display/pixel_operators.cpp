// display/pixel_operators.cpp
// The slots of the copy, alpha and function operators over the shared loops.
#include "display/pixel_operators.h"

#include <cstring>

#include "display/blend.h"
#include "display/operator_loops.h"

namespace qob {
namespace {

namespace loops = operator_loops;

struct CopyRule {
    uint16_t operator()(uint16_t colour, uint16_t) const { return colour; }
};

struct AlphaRule {
    int32_t level;
    uint16_t operator()(uint16_t colour, uint16_t pixel) const { return Blend(colour, pixel, level); }
};

struct FunctionRule {
    PixelFunction* function;
    uint16_t operator()(uint16_t colour, uint16_t pixel) const { return function->Apply(colour, pixel); }
};

template <class Rule>
void PutPixel(Rule rule, PixelBuffer& buffer, int64_t x, int64_t y, uint16_t colour) {
    uint16_t* pixel = PixelAt(buffer, x, y);
    *pixel = rule(colour, *pixel);
}

template <class Rule>
void DrawCircle(Rule rule, PixelBuffer& buffer, Point centre, int32_t radius, uint16_t colour) {
    loops::TraceCircle(centre.x, centre.y, radius,
                       [&](int64_t x, int64_t y) { PutPixel(rule, buffer, x, y, colour); });
}

template <class Rule>
void DrawCircleClipped(Rule rule, PixelBuffer& buffer, Point centre, int32_t radius, uint16_t colour,
                       const Rect& clip) {
    loops::TraceCircleClipped(centre.x, centre.y, radius, clip,
                              [&](int64_t x, int64_t y) { PutPixel(rule, buffer, x, y, colour); });
}

template <class Rule>
void DrawLine(Rule rule, PixelBuffer& buffer, Point from, Point to, uint16_t colour) {
    loops::TraceLine(from, to, buffer.pitch, [&](int64_t offset) {
        uint16_t* pixel = reinterpret_cast<uint16_t*>(buffer.bits + offset);
        *pixel = rule(colour, *pixel);
    });
}

template <class Rule>
void DrawRun(Rule rule, PixelBuffer& buffer, Point start, int32_t count, uint16_t colour) {
    uint16_t* to = PixelAt(buffer, start.x, start.y);
    for (int32_t i = 0; i < count; ++i) to[i] = rule(colour, to[i]);
}

// The colour twice in one 32-bit word, stored through memcpy: rows of device
// buffers may be only 2-byte aligned. The hot row loops are built twice, for
// processors with and without AVX2, and the better one is picked at start.
[[gnu::target_clones("avx2", "default")]] void StoreWords(uint16_t* to, int64_t words, uint32_t pair) {
    for (int64_t i = 0; i < words; ++i) std::memcpy(to + 2 * i, &pair, sizeof pair);
}

// A keyed copy of one row: every pixel is written, keyed ones with their own
// value, so that the loop needs no branch.
[[gnu::target_clones("avx2", "default")]] void CopyRowKeyed(uint16_t* to, const uint16_t* from, int64_t count,
                                                            uint16_t key) {
    for (int64_t i = 0; i < count; ++i) {
        const uint16_t colour = from[i];
        to[i] = colour == key ? to[i] : colour;
    }
}

[[gnu::target_clones("avx2", "default")]] void BlendRow(uint16_t* to, const uint16_t* from, int64_t count,
                                                        int32_t level) {
    for (int64_t i = 0; i < count; ++i) to[i] = Blend(from[i], to[i], level);
}

// count pixels of one colour: one pixel to reach a 4-byte boundary, then
// words, then the odd pixel left.
void FillRun(uint16_t* to, int64_t count, uint16_t colour) {
    if (count > 0 && (reinterpret_cast<uintptr_t>(to) & 2) != 0) *to++ = colour, --count;
    StoreWords(to, count / 2, colour * 0x10001u);
    if (count & 1) to[count - 1] = colour;
}

}  // namespace

// ---- CopyOperator ----

void CopyOperator::CopyRect(PixelBuffer& destination, Point point, const PixelBuffer& source,
                            const Rect& sourceRect) {
    const size_t bytes = 2 * static_cast<size_t>(int64_t{sourceRect.right} - sourceRect.left);
    const int64_t rows = int64_t{sourceRect.bottom} - sourceRect.top;
    if (int64_t{source.pitch} == int64_t(bytes) && int64_t{destination.pitch} == int64_t(bytes)) {
        // Whole rows of buffers without row gaps: one block.
        std::memmove(PixelAt(destination, point.x, point.y), PixelAt(source, sourceRect.left, sourceRect.top),
                     bytes * static_cast<size_t>(rows));
        return;
    }
    for (int64_t row = 0; row < int64_t{sourceRect.bottom} - sourceRect.top; ++row)
        std::memmove(PixelAt(destination, point.x, point.y + row),
                     PixelAt(source, sourceRect.left, sourceRect.top + row), bytes);
}

void CopyOperator::CopyRectKeyed(PixelBuffer& destination, Point point, const PixelBuffer& source,
                                 const Rect& sourceRect, uint16_t key) {
    for (int64_t row = 0; row < int64_t{sourceRect.bottom} - sourceRect.top; ++row)
        CopyRowKeyed(PixelAt(destination, point.x, point.y + row), PixelAt(source, sourceRect.left, sourceRect.top + row),
                     int64_t{sourceRect.right} - sourceRect.left, key);
}

void CopyOperator::CopyTransformed(PixelBuffer& destination, const Rect& destinationRect,
                                   const TransformBlock& transform, const PixelBuffer& source) {
    loops::CopyTransformed<false>(CopyRule{}, destination, destinationRect, transform, source, 0);
}

void CopyOperator::CopyTransformedKeyed(PixelBuffer& destination, const Rect& destinationRect,
                                        const TransformBlock& transform, const PixelBuffer& source, uint16_t key) {
    loops::CopyTransformed<true>(CopyRule{}, destination, destinationRect, transform, source, key);
}

void CopyOperator::CircleClipped(PixelBuffer& destination, Point centre, int32_t radius, uint16_t colour,
                                 const Rect& clip) {
    DrawCircleClipped(CopyRule{}, destination, centre, radius, colour, clip);
}

void CopyOperator::Circle(PixelBuffer& destination, Point centre, int32_t radius, uint16_t colour) {
    DrawCircle(CopyRule{}, destination, centre, radius, colour);
}

void CopyOperator::Fill(PixelBuffer& buffer, uint16_t colour) {
    const int64_t rowBytes = 2 * int64_t{buffer.width};
    if ((colour & 0xFF) == (colour >> 8)) {
        if (buffer.pitch == rowBytes)
            std::memset(buffer.bits, colour & 0xFF, static_cast<size_t>(rowBytes * buffer.height));
        else
            for (int64_t row = 0; row < buffer.height; ++row)
                std::memset(PixelRow(buffer, row), colour & 0xFF, static_cast<size_t>(rowBytes));
    } else if (buffer.width % 8 == 0) {
        if (buffer.pitch == rowBytes)  // rows back to back: one long run
            StoreWords(PixelRow(buffer, 0), buffer.width / 2 * int64_t{buffer.height}, colour * 0x10001u);
        else
            for (int64_t row = 0; row < buffer.height; ++row)
                StoreWords(PixelRow(buffer, row), buffer.width / 2, colour * 0x10001u);
    } else {
        loops::FillRect(CopyRule{}, buffer, Rect{0, 0, buffer.width, buffer.height}, colour);
    }
}

void CopyOperator::FillRect(PixelBuffer& buffer, const Rect& rect, uint16_t colour) {
    for (int64_t row = rect.top; row < rect.bottom; ++row)
        FillRun(PixelAt(buffer, rect.left, row), int64_t{rect.right} - rect.left, colour);
}

void CopyOperator::HorizontalRun(PixelBuffer& buffer, Point start, int32_t count, uint16_t colour) {
    FillRun(PixelAt(buffer, start.x, start.y), count, colour);
}

void CopyOperator::Line(PixelBuffer& buffer, Point from, Point to, uint16_t colour) {
    DrawLine(CopyRule{}, buffer, from, to, colour);
}

void CopyOperator::SetPixel(PixelBuffer& buffer, Point point, uint16_t colour) {
    *PixelAt(buffer, point.x, point.y) = colour;
}

void CopyOperator::VerticalRun(PixelBuffer& buffer, Point start, int32_t lastOffset, uint16_t colour) {
    loops::VerticalRun(CopyRule{}, buffer, start, lastOffset, colour);
}

void CopyOperator::MaskedBlend(PixelBuffer& destination, Point point, const PixelBuffer& source,
                               const PixelBuffer& mask, const Rect& sourceRect) {
    loops::MaskedBlend([](uint32_t weight) { return weight; }, CopyRule{}, destination, point, source, mask,
                       sourceRect);
}

namespace {

// A union never runs its member's destructor, so the shared operator stays
// usable until the process is gone.
union NeverDestroyedCopyOperator {
    constexpr NeverDestroyedCopyOperator() : instance() {}
    ~NeverDestroyedCopyOperator() {}
    CopyOperator instance;
};

constinit NeverDestroyedCopyOperator sharedCopyOperator;

}  // namespace

CopyOperator& SharedCopyOperator() { return sharedCopyOperator.instance; }

// ---- AlphaOperator ----

void AlphaOperator::CopyRect(PixelBuffer& destination, Point point, const PixelBuffer& source,
                             const Rect& sourceRect) {
    for (int64_t row = 0; row < int64_t{sourceRect.bottom} - sourceRect.top; ++row)
        BlendRow(PixelAt(destination, point.x, point.y + row), PixelAt(source, sourceRect.left, sourceRect.top + row),
                 int64_t{sourceRect.right} - sourceRect.left, level);
}

void AlphaOperator::CopyRectKeyed(PixelBuffer& destination, Point point, const PixelBuffer& source,
                                  const Rect& sourceRect, uint16_t key) {
    loops::CopyRectKeyed(AlphaRule{level}, destination, point, source, sourceRect, key);
}

void AlphaOperator::CopyTransformed(PixelBuffer& destination, const Rect& destinationRect,
                                    const TransformBlock& transform, const PixelBuffer& source) {
    loops::CopyTransformed<false>(AlphaRule{level}, destination, destinationRect, transform, source, 0);
}

void AlphaOperator::CopyTransformedKeyed(PixelBuffer& destination, const Rect& destinationRect,
                                         const TransformBlock& transform, const PixelBuffer& source, uint16_t key) {
    loops::CopyTransformed<true>(AlphaRule{level}, destination, destinationRect, transform, source, key);
}

void AlphaOperator::CircleClipped(PixelBuffer& destination, Point centre, int32_t radius, uint16_t colour,
                                  const Rect& clip) {
    DrawCircleClipped(AlphaRule{level}, destination, centre, radius, colour, clip);
}

void AlphaOperator::Circle(PixelBuffer& destination, Point centre, int32_t radius, uint16_t colour) {
    DrawCircle(AlphaRule{level}, destination, centre, radius, colour);
}

void AlphaOperator::Fill(PixelBuffer& buffer, uint16_t colour) {
    loops::FillRect(AlphaRule{level}, buffer, Rect{0, 0, buffer.width, buffer.height}, colour);
}

void AlphaOperator::FillRect(PixelBuffer& buffer, const Rect& rect, uint16_t colour) {
    loops::FillRect(AlphaRule{level}, buffer, rect, colour);
}

void AlphaOperator::HorizontalRun(PixelBuffer& buffer, Point start, int32_t count, uint16_t colour) {
    DrawRun(AlphaRule{level}, buffer, start, count, colour);
}

void AlphaOperator::Line(PixelBuffer& buffer, Point from, Point to, uint16_t colour) {
    DrawLine(AlphaRule{level}, buffer, from, to, colour);
}

void AlphaOperator::SetPixel(PixelBuffer& buffer, Point point, uint16_t colour) {
    PutPixel(AlphaRule{level}, buffer, point.x, point.y, colour);
}

void AlphaOperator::VerticalRun(PixelBuffer& buffer, Point start, int32_t lastOffset, uint16_t colour) {
    loops::VerticalRun(AlphaRule{level}, buffer, start, lastOffset, colour);
}

void AlphaOperator::MaskedBlend(PixelBuffer& destination, Point point, const PixelBuffer& source,
                                const PixelBuffer& mask, const Rect& sourceRect) {
    const uint32_t alpha = static_cast<uint32_t>(level);
    loops::MaskedBlend([alpha](uint32_t weight) { return (weight * alpha) >> 8; }, CopyRule{}, destination, point,
                       source, mask, sourceRect);
}

// ---- PixelFunctionOperator ----

void PixelFunctionOperator::CopyRect(PixelBuffer& destination, Point point, const PixelBuffer& source,
                                     const Rect& sourceRect) {
    loops::CopyRect(FunctionRule{function}, destination, point, source, sourceRect);
}

void PixelFunctionOperator::CopyRectKeyed(PixelBuffer& destination, Point point, const PixelBuffer& source,
                                          const Rect& sourceRect, uint16_t key) {
    loops::CopyRectKeyed(FunctionRule{function}, destination, point, source, sourceRect, key);
}

void PixelFunctionOperator::CopyTransformed(PixelBuffer& destination, const Rect& destinationRect,
                                            const TransformBlock& transform, const PixelBuffer& source) {
    loops::CopyTransformed<false>(FunctionRule{function}, destination, destinationRect, transform, source, 0);
}

void PixelFunctionOperator::CopyTransformedKeyed(PixelBuffer& destination, const Rect& destinationRect,
                                                 const TransformBlock& transform, const PixelBuffer& source,
                                                 uint16_t key) {
    loops::CopyTransformed<true>(FunctionRule{function}, destination, destinationRect, transform, source, key);
}

void PixelFunctionOperator::CircleClipped(PixelBuffer& destination, Point centre, int32_t radius, uint16_t colour,
                                          const Rect& clip) {
    DrawCircleClipped(FunctionRule{function}, destination, centre, radius, colour, clip);
}

void PixelFunctionOperator::Circle(PixelBuffer& destination, Point centre, int32_t radius, uint16_t colour) {
    DrawCircle(FunctionRule{function}, destination, centre, radius, colour);
}

void PixelFunctionOperator::Fill(PixelBuffer& buffer, uint16_t colour) {
    loops::FillRect(FunctionRule{function}, buffer, Rect{0, 0, buffer.width, buffer.height}, colour);
}

void PixelFunctionOperator::FillRect(PixelBuffer& buffer, const Rect& rect, uint16_t colour) {
    loops::FillRect(FunctionRule{function}, buffer, rect, colour);
}

void PixelFunctionOperator::HorizontalRun(PixelBuffer& buffer, Point start, int32_t count, uint16_t colour) {
    DrawRun(FunctionRule{function}, buffer, start, count, colour);
}

void PixelFunctionOperator::Line(PixelBuffer& buffer, Point from, Point to, uint16_t colour) {
    DrawLine(FunctionRule{function}, buffer, from, to, colour);
}

void PixelFunctionOperator::SetPixel(PixelBuffer& buffer, Point point, uint16_t colour) {
    PutPixel(FunctionRule{function}, buffer, point.x, point.y, colour);
}

void PixelFunctionOperator::VerticalRun(PixelBuffer& buffer, Point start, int32_t lastOffset, uint16_t colour) {
    loops::VerticalRun(FunctionRule{function}, buffer, start, lastOffset, colour);
}

void PixelFunctionOperator::MaskedBlend(PixelBuffer& destination, Point point, const PixelBuffer& source,
                                        const PixelBuffer& mask, const Rect& sourceRect) {
    loops::MaskedBlend([](uint32_t weight) { return weight; }, FunctionRule{function}, destination, point, source,
                       mask, sourceRect);
}

}  // namespace qob
