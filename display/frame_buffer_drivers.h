// display/frame_buffer_drivers.h
// The drivers over interfaces the device publishes: GAPI (gx.dll), the
// frame buffer that GETGXINFO reports (optionally copied by DMA), and the
// raw frame buffer that GETRAWFRAMEBUFFER reports; and the detections of
// these and of the screen device context.
#pragma once

#include <cstdint>

#include "display/device_libraries.h"
#include "display/driver.h"

namespace qob {

// Detections fill the one detected description; each answers whether its
// driver can run.
[[nodiscard]] bool DetectGdi(DriverInfo& detected);
[[nodiscard]] bool DetectGapi(DriverInfo& detected, uintptr_t window);
[[nodiscard]] bool DetectDirect(DriverInfo& detected);
[[nodiscard]] bool DetectVga(DriverInfo& detected);

class GapiDriver : public Driver {
public:
    ~GapiDriver() override;
    void Resume() override;
    void Suspend() override;
    [[nodiscard]] bool Initialize(uintptr_t window, const DisplayParams& params, const DriverInfo& detected) override;
    [[nodiscard]] PixelBuffer* Lock() override;
    void Unlock(uint32_t flags) override;
    void AdjustDirtyRect(const Rect& rect) override;

private:
    PixelBuffer* buffer = nullptr;  // owned; its bits are the device's
    bool open = false;
    bool direct = false;  // the detected address is drawn into without GXBeginDraw
    int64_t offset = 0;   // from GXBeginDraw's address to the first memory row
};

class DirectDriver : public Driver {
public:
    DirectDriver();
    ~DirectDriver() override;
    [[nodiscard]] bool Initialize(uintptr_t window, const DisplayParams& params, const DriverInfo& detected) override;
    [[nodiscard]] PixelBuffer* Lock() override;
    void Unlock(uint32_t flags) override;
    void AdjustDirtyRect(const Rect& rect) override;

    // The rectangle the next present hands to the DMA engine {x, y, width, height}.
    struct DmaRect {
        int32_t x, y, width, height;
    };
    [[nodiscard]] DmaRect DmaRectangle() const { return dmaRect; }

private:
    PixelBuffer* buffer = nullptr;  // owned; its bits are the device's
    GxDmaLibrary* dma = nullptr;    // none: no DMA
    DmaRect dmaRect{0, 0, 0, 0};
};

class VgaDriver : public Driver {
public:
    ~VgaDriver() override;
    [[nodiscard]] bool Initialize(uintptr_t window, const DisplayParams& params, const DriverInfo& detected) override;
    [[nodiscard]] PixelBuffer* Lock() override { return buffer; }

private:
    PixelBuffer* buffer = nullptr;  // owned; its bits are the device's
};

// How long the DMA engine may stay busy before a Lock gives up, in
// milliseconds of the platform clock (a few frame periods).
constexpr int64_t kDmaWaitLimitMs = 67;

}  // namespace qob
