// display/display_canvas.cpp
// Making, drawing frames on and destroying the display canvas.
#include "display/display_canvas.h"

#include "platform/memory.h"

namespace qob {

Canvas* CreateDisplayCanvas(uintptr_t window, DisplayParams* params) {
    if (params == nullptr) return nullptr;
    auto* record = static_cast<DisplayCanvas*>(platform::AllocateBlock(sizeof(DisplayCanvas)));
    if (record == nullptr) return nullptr;
    DisplayParams finalParams = *params;
    std::unique_ptr<Display> display = Display::Create(window, finalParams);
    if (!display) {
        platform::FreeBlock(record);
        return nullptr;
    }
    *record = DisplayCanvas{Canvas{nullptr, Rect{0, 0, 0, 0}, &SharedCopyOperator(), nullptr, nullptr, nullptr},
                            finalParams, display.release(), PixelSurface{nullptr, -1, nullptr, 0, false}};
    record->canvas.display = record;
    *params = finalParams;
    return &record->canvas;
}

PixelSurface* CanvasBeginScene(Canvas* canvas) {
    if (canvas == nullptr || canvas->display == nullptr) return nullptr;
    DisplayCanvas& record = *canvas->display;
    if (!DisplayBeginScene(record.display)) return nullptr;
    PixelBuffer* buffer = DisplayGetBackBuffer(record.display);
    if (record.surface.dc != 0)
        record.surface.savedBuffer = buffer;
    else
        record.surface.buffer = buffer;
    if (record.surface.buffer == nullptr) return nullptr;
    CanvasSetTarget(canvas, &record.surface);
    return &record.surface;
}

int CanvasUpdate(Canvas* canvas, const Rect* rect) {
    if (canvas == nullptr || canvas->display == nullptr) return 0;
    DisplayCanvas& record = *canvas->display;
    if (rect != nullptr) DisplaySetDirtyRect(record.display, rect);
    const int presented = DisplayPresent(record.display, 0);
    // The frame's buffer leaves the surface; a DC lent out over it stays,
    // with nothing to copy back into.
    if (record.surface.dc != 0)
        record.surface.savedBuffer = nullptr;
    else
        record.surface.buffer = nullptr;
    return presented;
}

void ReleaseDisplayCanvas(DisplayCanvas* canvas) {
    if (canvas == nullptr) return;
    PixelSurface& surface = canvas->surface;
    if (surface.dc != 0) delete surface.buffer;
    surface = PixelSurface{nullptr, -1, nullptr, 0, false};
    delete canvas->display;
    canvas->display = nullptr;
    canvas->canvas.display = nullptr;
}

}  // namespace qob
