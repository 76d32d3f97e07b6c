// display/driver.h
// What a display driver is: the description detection fills and each driver
// carries, the parameters a display is opened with, and the driver slots.
#pragma once

#include <cstdint>

#include "display/pixel_buffer.h"
#include "display/rect.h"

namespace qob {

// Passed in and returned filled in.
struct DisplayParams {
    int32_t width;
    int32_t height;
    int32_t orientation;  // 0..3; 4: any
    int32_t swapEffect;   // 1 discard, 2 keep the back buffer's contents between frames
};

constexpr int32_t kAnyOrientation = 4;
constexpr int32_t kSwapDiscard = 1;
constexpr int32_t kSwapKeep = 2;

// Swap modes of a driver.
constexpr int32_t kSwapModeDirect = 0;  // the frame buffer may be drawn directly; a back buffer is wanted
constexpr int32_t kSwapModeShadow = 1;  // the driver keeps a single shadow
constexpr int32_t kSwapModeOwn = 2;     // the driver offers its own persistent buffer

struct DriverInfo {
    int32_t width;
    int32_t height;
    int32_t bitsPerPixel;
    int32_t pitch;        // bytes
    int32_t orientation;  // 0..3; 4: none detected
    int32_t swapMode;
    uint8_t* frameBuffer;
};

// Zeros with orientation 4, as detection starts.
[[nodiscard]] constexpr DriverInfo EmptyDriverInfo() { return DriverInfo{0, 0, 0, 0, kAnyOrientation, 0, nullptr}; }

// Driver ids.
constexpr int32_t kDriverGdi = 1;
constexpr int32_t kDriverDirect = 2;
constexpr int32_t kDriverGapi = 3;
constexpr int32_t kDriverStrongArm = 4;
constexpr int32_t kDriverXScale = 5;
constexpr int32_t kDriverImageon100 = 6;
constexpr int32_t kDriverSlowFb = 7;
constexpr int32_t kDriverVga = 8;

// Present flags.
constexpr uint32_t kPresentAfterWait = 1;  // wait for the controller's scan before copying
constexpr uint32_t kPresentEverything = 2;  // drivers that copy differences copy everything

// The slots every driver has; the base's do nothing. Lock hands out the
// frame buffer for one frame (null on failure), Unlock presents it.
class Driver {
public:
    Driver() = default;
    Driver(const Driver&) = delete;
    Driver& operator=(const Driver&) = delete;
    virtual ~Driver() = default;

    virtual void Resume() {}
    virtual void Suspend() {}
    virtual void Repaint() {}
    [[nodiscard]] virtual bool Initialize(uintptr_t window, const DisplayParams& params, const DriverInfo& detected) = 0;
    [[nodiscard]] virtual PixelBuffer* Lock() = 0;
    virtual void Unlock(uint32_t flags) { (void)flags; }
    virtual void AdjustDirtyRect(const Rect& rect) { (void)rect; }
    virtual void WaitBeforeCopy() {}

    DriverInfo info = EmptyDriverInfo();
};

}  // namespace qob
