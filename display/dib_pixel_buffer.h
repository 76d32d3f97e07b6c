// display/dib_pixel_buffer.h
// A pixel buffer whose bits are a 16-bit DIB section of the window layer's
// drawing, selected into a memory device context of its own: what a surface
// lends out as a device context, and what the GDI driver draws into.
#pragma once

#include <cstdint>

#include "display/pixel_buffer.h"

namespace qob {

class DibPixelBuffer final : public PixelBuffer {
public:
    // Rows top-down with the library's pitch, RGB565 through the masks
    // 0xF800, 0x07E0, 0x001F; the section owns the bits. Null (nothing left
    // made) when the section, its bits or the DC cannot be had.
    [[nodiscard]] static DibPixelBuffer* Create(int32_t width, int32_t height);
    ~DibPixelBuffer() override;

    uintptr_t bitmap = 0;  // the DIB section
    uintptr_t dc = 0;      // the memory DC it is selected into

private:
    DibPixelBuffer(int32_t width, int32_t height, int32_t pitch, uint8_t* bits)
        : PixelBuffer(width, height, pitch, bits, false) {}
};

}  // namespace qob
