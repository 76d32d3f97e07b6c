// display/canvas.cpp
// Canvas records, their target, clip and operator, and the basic blit.
#include "display/canvas.h"

#include <algorithm>
#include <new>

#include "display/display_canvas.h"
#include "platform/memory.h"

namespace qob {
namespace {

Rect BufferBounds(const PixelSurface* surface) {
    if (surface == nullptr || surface->buffer == nullptr) return Rect{0, 0, 0, 0};
    return Rect{0, 0, surface->buffer->width, surface->buffer->height};
}

}  // namespace

Canvas* CreateSurfaceCanvas(PixelSurface* surface) {
    if (surface == nullptr) return nullptr;
    auto* canvas = static_cast<Canvas*>(platform::AllocateBlock(sizeof(Canvas)));
    if (canvas == nullptr) return nullptr;
    *canvas = Canvas{surface, BufferBounds(surface), &SharedCopyOperator(), nullptr, nullptr, nullptr};
    return canvas;
}

void DestroyCanvas(Canvas* canvas) {
    if (canvas == nullptr) return;
    if (canvas->display != nullptr) ReleaseDisplayCanvas(canvas->display);
    delete canvas->alphaOperator;
    delete canvas->functionOperator;
    canvas->alphaOperator = nullptr;
    canvas->functionOperator = nullptr;
    canvas->currentOperator = &SharedCopyOperator();
}

PixelSurface* CanvasSetTarget(Canvas* canvas, PixelSurface* surface) {
    PixelSurface* previous = canvas->target;
    canvas->target = surface;
    canvas->clip = BufferBounds(surface);
    return previous;
}

CanvasTargetState CanvasSwapTarget(Canvas* canvas, PixelSurface* surface) {
    const CanvasTargetState previous{canvas->target, canvas->clip};
    CanvasSetTarget(canvas, surface);
    return previous;
}

void CanvasRestoreTarget(Canvas* canvas, const CanvasTargetState& state) {
    canvas->target = state.target;
    canvas->clip = state.clip;
}

void CanvasSetClip(Canvas* canvas, const Rect& rect) {
    canvas->clip = BufferBounds(canvas->target);
    RectIntersect(canvas->clip, rect);
}

int CanvasSetBlend(Canvas* canvas, int32_t level) {
    const int32_t lowByte = level & 0xFF;
    if (lowByte >= 252) {
        CanvasResetOperator(canvas);
        return 1;
    }
    if (canvas->alphaOperator == nullptr) {
        canvas->alphaOperator = new (std::nothrow) AlphaOperator(lowByte);
        if (canvas->alphaOperator == nullptr) return 0;
    }
    canvas->alphaOperator->level = lowByte;
    canvas->currentOperator = canvas->alphaOperator;
    return 1;
}

void CanvasResetOperator(Canvas* canvas) { canvas->currentOperator = &SharedCopyOperator(); }

int CanvasSetPixelFunction(Canvas* canvas, PixelFunction* function) {
    if (function == nullptr) {
        CanvasResetOperator(canvas);
        return 1;
    }
    if (canvas->functionOperator == nullptr) {
        canvas->functionOperator = new (std::nothrow) PixelFunctionOperator(function);
        if (canvas->functionOperator == nullptr) return 0;
    }
    canvas->functionOperator->function = function;
    canvas->currentOperator = canvas->functionOperator;
    return 1;
}

bool GetCanvasArea(const Canvas* canvas, PixelBuffer*& buffer, Rect& area) {
    if (canvas == nullptr || canvas->target == nullptr || canvas->target->buffer == nullptr) return false;
    buffer = canvas->target->buffer;
    area = BufferBounds(canvas->target);
    if (!IsRectEmpty(canvas->clip)) RectIntersect(area, canvas->clip);
    return !IsRectEmpty(area);
}

bool ClipBlit(const Rect& area, int64_t x, int64_t y, const PixelBuffer& source, const PixelBuffer* mask,
              const Rect* sourceRect, Point& point, Rect& clippedSource) {
    const Rect whole{0, 0, source.width, source.height};
    const Rect& wanted = sourceRect ? *sourceRect : whole;
    Rect bounds = whole;
    if (mask != nullptr) RectIntersect(bounds, Rect{0, 0, mask->width, mask->height});

    // The part of the source rectangle inside the source (and mask).
    const int64_t left = std::max(wanted.left, bounds.left), top = std::max(wanted.top, bounds.top);
    const int64_t right = std::min(wanted.right, bounds.right), bottom = std::min(wanted.bottom, bounds.bottom);
    if (right <= left || bottom <= top) return false;
    x += left - wanted.left;
    y += top - wanted.top;

    // The destination of that part, clipped to the area.
    const int64_t toLeft = std::max<int64_t>(x, area.left), toTop = std::max<int64_t>(y, area.top);
    const int64_t toRight = std::min<int64_t>(x + (right - left), area.right);
    const int64_t toBottom = std::min<int64_t>(y + (bottom - top), area.bottom);
    if (toRight <= toLeft || toBottom <= toTop) return false;

    point = Point{static_cast<int32_t>(toLeft), static_cast<int32_t>(toTop)};
    const int64_t fromLeft = left + (toLeft - x), fromTop = top + (toTop - y);
    clippedSource = Rect{static_cast<int32_t>(fromLeft), static_cast<int32_t>(fromTop),
                         static_cast<int32_t>(fromLeft + (toRight - toLeft)),
                         static_cast<int32_t>(fromTop + (toBottom - toTop))};
    return true;
}

int CanvasBlit(Canvas* canvas, int32_t x, int32_t y, const PixelSurface* source, const Rect* sourceRect) {
    PixelBuffer* target = nullptr;
    Rect area{};
    if (canvas == nullptr || canvas->target == nullptr || canvas->target->buffer == nullptr) return 0;
    if (source == nullptr || source->buffer == nullptr) return 0;
    Point point{};
    Rect from{};
    if (!GetCanvasArea(canvas, target, area) || !ClipBlit(area, x, y, *source->buffer, nullptr, sourceRect, point, from))
        return 1;
    if (source->colorKey >= 0)
        canvas->currentOperator->CopyRectKeyed(*target, point, *source->buffer, from,
                                               static_cast<uint16_t>(source->colorKey));
    else
        canvas->currentOperator->CopyRect(*target, point, *source->buffer, from);
    return 1;
}

}  // namespace qob
