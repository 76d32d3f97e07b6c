// display/gdi_driver.cpp
// The GDI driver over the window layer's DIB sections and window DCs.
#include "display/gdi_driver.h"

#include "display/display_window.h"
#include "platform/gdi.h"
#include "platform/window_manager.h"

namespace qob {

GdiDriver::~GdiDriver() {
    if (windowDc != 0) platform::ReleaseDC(window, windowDc);
    delete buffer;
}

bool GdiDriver::Initialize(uintptr_t window, const DisplayParams&, const DriverInfo& detected) {
    if (buffer != nullptr) return false;
    buffer = DibPixelBuffer::Create(detected.width, detected.height);
    if (buffer == nullptr) return false;
    this->window = window;
    windowDc = platform::GetDC(window);
    info = DriverInfo{buffer->width, buffer->height, 16, buffer->pitch, 0, kSwapModeOwn, buffer->bits};
    return true;
}

void GdiDriver::AdjustDirtyRect(const Rect& rect) {
    present = PresentRect{rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top};
}

// A window that had nothing on the screen when the driver started (so no
// DC) gets one when it has.
void GdiDriver::Unlock(uint32_t) {
    if (!DisplayWindowExists(window)) return;
    if (windowDc == 0) windowDc = platform::GetDC(window);
    if (windowDc == 0 || present.width <= 0 || present.height <= 0) return;
    platform::BitBlt(windowDc, present.x, present.y, present.width, present.height, buffer->dc, present.x, present.y,
                     platform::SRCCOPY);
    platform::NoteWindowDrawn(window);
}

}  // namespace qob
