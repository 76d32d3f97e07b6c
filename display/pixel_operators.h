// display/pixel_operators.h
// The three pixel operators: plain copy (one shared instance), alpha blend at
// a level, and a caller's pixel function.
#pragma once

#include <cstdint>

#include "display/pixel_operator.h"

namespace qob {

// p = c. Plain copies move one row per memmove, fills write 32-bit words.
class CopyOperator final : public PixelOperator {
public:
    constexpr CopyOperator() = default;

    void CopyRect(PixelBuffer& destination, Point point, const PixelBuffer& source, const Rect& sourceRect) override;
    void CopyRectKeyed(PixelBuffer& destination, Point point, const PixelBuffer& source, const Rect& sourceRect,
                       uint16_t key) override;
    void CopyTransformed(PixelBuffer& destination, const Rect& destinationRect, const TransformBlock& transform,
                         const PixelBuffer& source) override;
    void CopyTransformedKeyed(PixelBuffer& destination, const Rect& destinationRect, const TransformBlock& transform,
                              const PixelBuffer& source, uint16_t key) override;
    void CircleClipped(PixelBuffer& destination, Point centre, int32_t radius, uint16_t colour,
                       const Rect& clip) override;
    void Circle(PixelBuffer& destination, Point centre, int32_t radius, uint16_t colour) override;
    // Equal bytes: a byte fill; else a width that is a multiple of 8: rows of
    // 32-bit words holding the colour twice; else pixel by pixel. Row padding
    // is left alone.
    void Fill(PixelBuffer& buffer, uint16_t colour) override;
    void FillRect(PixelBuffer& buffer, const Rect& rect, uint16_t colour) override;
    void HorizontalRun(PixelBuffer& buffer, Point start, int32_t count, uint16_t colour) override;
    void Line(PixelBuffer& buffer, Point from, Point to, uint16_t colour) override;
    void SetPixel(PixelBuffer& buffer, Point point, uint16_t colour) override;
    void VerticalRun(PixelBuffer& buffer, Point start, int32_t lastOffset, uint16_t colour) override;
    // m = the mask's weight; 31 gives 31/32 of the source.
    void MaskedBlend(PixelBuffer& destination, Point point, const PixelBuffer& source, const PixelBuffer& mask,
                     const Rect& sourceRect) override;
};

// The copy operator every canvas starts with. It is constant-initialised and
// never destroyed, so it outlives anything torn down at exit.
[[nodiscard]] CopyOperator& SharedCopyOperator();

// p = Blend(c, p, level). A masked blend weighs the mask's weight by the
// level: m = (weight x level) >> 8.
class AlphaOperator final : public PixelOperator {
public:
    explicit AlphaOperator(int32_t level) : level(level) {}

    void CopyRect(PixelBuffer& destination, Point point, const PixelBuffer& source, const Rect& sourceRect) override;
    void CopyRectKeyed(PixelBuffer& destination, Point point, const PixelBuffer& source, const Rect& sourceRect,
                       uint16_t key) override;
    void CopyTransformed(PixelBuffer& destination, const Rect& destinationRect, const TransformBlock& transform,
                         const PixelBuffer& source) override;
    void CopyTransformedKeyed(PixelBuffer& destination, const Rect& destinationRect, const TransformBlock& transform,
                              const PixelBuffer& source, uint16_t key) override;
    void CircleClipped(PixelBuffer& destination, Point centre, int32_t radius, uint16_t colour,
                       const Rect& clip) override;
    void Circle(PixelBuffer& destination, Point centre, int32_t radius, uint16_t colour) override;
    void Fill(PixelBuffer& buffer, uint16_t colour) override;
    void FillRect(PixelBuffer& buffer, const Rect& rect, uint16_t colour) override;
    void HorizontalRun(PixelBuffer& buffer, Point start, int32_t count, uint16_t colour) override;
    void Line(PixelBuffer& buffer, Point from, Point to, uint16_t colour) override;
    void SetPixel(PixelBuffer& buffer, Point point, uint16_t colour) override;
    void VerticalRun(PixelBuffer& buffer, Point start, int32_t lastOffset, uint16_t colour) override;
    void MaskedBlend(PixelBuffer& destination, Point point, const PixelBuffer& source, const PixelBuffer& mask,
                     const Rect& sourceRect) override;

    int32_t level;  // 0..251 in use
};

// p = function.Apply(c, p). A masked blend applies the function to the source
// pixel and blends the result in by the mask's weight, as the copy operator
// does, so colour effects work on alpha-masked sprites.
class PixelFunctionOperator final : public PixelOperator {
public:
    explicit PixelFunctionOperator(PixelFunction* function) : function(function) {}

    void CopyRect(PixelBuffer& destination, Point point, const PixelBuffer& source, const Rect& sourceRect) override;
    void CopyRectKeyed(PixelBuffer& destination, Point point, const PixelBuffer& source, const Rect& sourceRect,
                       uint16_t key) override;
    void CopyTransformed(PixelBuffer& destination, const Rect& destinationRect, const TransformBlock& transform,
                         const PixelBuffer& source) override;
    void CopyTransformedKeyed(PixelBuffer& destination, const Rect& destinationRect, const TransformBlock& transform,
                              const PixelBuffer& source, uint16_t key) override;
    void CircleClipped(PixelBuffer& destination, Point centre, int32_t radius, uint16_t colour,
                       const Rect& clip) override;
    void Circle(PixelBuffer& destination, Point centre, int32_t radius, uint16_t colour) override;
    void Fill(PixelBuffer& buffer, uint16_t colour) override;
    void FillRect(PixelBuffer& buffer, const Rect& rect, uint16_t colour) override;
    void HorizontalRun(PixelBuffer& buffer, Point start, int32_t count, uint16_t colour) override;
    void Line(PixelBuffer& buffer, Point from, Point to, uint16_t colour) override;
    void SetPixel(PixelBuffer& buffer, Point point, uint16_t colour) override;
    void VerticalRun(PixelBuffer& buffer, Point start, int32_t lastOffset, uint16_t colour) override;
    void MaskedBlend(PixelBuffer& destination, Point point, const PixelBuffer& source, const PixelBuffer& mask,
                     const Rect& sourceRect) override;

    PixelFunction* function;  // not owned
};

}  // namespace qob
