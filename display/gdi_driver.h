// display/gdi_driver.h
// The driver that draws through the window layer: the program draws into a
// 16-bit DIB section, and each present copies the dirty rectangle into the
// window with BitBlt.
#pragma once

#include <cstdint>

#include "display/dib_pixel_buffer.h"
#include "display/driver.h"

namespace qob {

class GdiDriver : public Driver {
public:
    ~GdiDriver() override;
    [[nodiscard]] bool Initialize(uintptr_t window, const DisplayParams& params, const DriverInfo& detected) override;
    [[nodiscard]] PixelBuffer* Lock() override { return buffer; }
    void Unlock(uint32_t flags) override;
    void AdjustDirtyRect(const Rect& rect) override;

    // The rectangle the next present copies {x, y, width, height}.
    struct PresentRect {
        int32_t x, y, width, height;
    };
    [[nodiscard]] PresentRect PresentRectangle() const { return present; }

private:
    DibPixelBuffer* buffer = nullptr;  // owned
    uintptr_t window = 0;
    uintptr_t windowDc = 0;  // the window's DC, kept while the driver lives
    PresentRect present{0, 0, 0, 0};
};

}  // namespace qob
