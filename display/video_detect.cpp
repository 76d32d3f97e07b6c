// display/video_detect.cpp
// Detection in its order of steps, the mode list and the driver choice.
#include "display/video_detect.h"

#include <iterator>

#include "display/chip_drivers.h"
#include "display/device_libraries.h"
#include "display/device_model.h"
#include "display/frame_buffer_drivers.h"
#include "display/lcd_drivers.h"

namespace qob {
namespace {

std::unique_ptr<VideoDetect> gDetect;
uintptr_t gRememberedWindow = 0;

constexpr int32_t kModelPortraitLandscape = 8;  // its system orientation is wanted at 3

}  // namespace

void VideoDetect::Found(int32_t id) {
    if (foundCount < int32_t(std::size(foundIds))) foundIds[foundCount++] = id;
}

// A detected orientation of 4 (none) counts as 0 on every way out of the
// detection, the early stop of a screen that is not 16-bit included: a mode
// list that began at 4 would offer 1 to 3 and refuse the upright mode.
void VideoDetect::Detect(uintptr_t window) {
    info = EmptyDriverInfo();
    modeCount = 0;
    foundCount = 0;
    DetectDrivers(window);
    if (info.orientation == kAnyOrientation) info.orientation = 0;
    BuildModes();
}

void VideoDetect::DetectDrivers(uintptr_t window) {
    const int32_t wanted = DetectDeviceModel() == kModelPortraitLandscape ? 3 : 0;
    if (GetDisplayOrientation() != wanted) SetDisplayOrientation(wanted);

    if (DetectGdi(info)) Found(kDriverGdi);
    if (info.bitsPerPixel != 16) return;
    probeHardware = true;

    bool offered = false;
    if (DetectGapi(info, window)) {
        Found(kDriverGapi);
        offered = true;
    } else if (!Gapi().IsLoaded() && DetectDirect(info)) {
        Found(kDriverDirect);
        offered = true;
    }
    if (offered && info.swapMode == kSwapModeOwn) probeHardware = false;

    if (DetectVga(info)) {
        Found(kDriverVga);
        probeHardware = false;
    }

    // The LCD controller of the processor, then the graphics chips, each
    // only while no driver before it offers a buffer of its own.
    if (probeHardware) {
        const int32_t cpu = GetCpuType();
        if (cpu == 1 && StrongArmProbe().Found()) {
            Found(kDriverStrongArm);
            probeHardware = false;
        } else if (cpu == 2 && XScaleProbe().Found()) {
            Found(kDriverXScale);
            probeHardware = false;
        }
    }
    if (probeHardware && DetectImageon100()) {
        Found(kDriverImageon100);
        probeHardware = false;
    }
    if (probeHardware && DetectMediaQ(info)) Found(kDriverSlowFb);
}

void VideoDetect::BuildModes() {
    modes[0] = DisplayMode{info.width, info.height, info.orientation};
    modeCount = 1;
    if (info.width % 16 == 0 && info.height % 16 == 0) {
        for (; modeCount < 4; ++modeCount) {
            const DisplayMode& previous = modes[modeCount - 1];
            modes[modeCount] = DisplayMode{previous.height, previous.width, (previous.orientation + 1) % 4};
        }
    } else if (info.orientation != 0) {
        modes[modeCount++] = info.orientation == 2 ? DisplayMode{info.width, info.height, 0}
                                                   : DisplayMode{info.height, info.width, 0};
    }
}

VideoDetect& TheVideoDetect() {
    if (!gDetect) {
        gDetect = std::make_unique<VideoDetect>();
        gDetect->Detect(gRememberedWindow);
    }
    return *gDetect;
}

void RememberDisplayWindow(uintptr_t window) { gRememberedWindow = window; }

uintptr_t RememberedDisplayWindow() { return gRememberedWindow; }

// The GDI driver draws through the window layer's DIB sections; until it is
// here, its id gives no driver, and the choice moves on to the next id.
std::unique_ptr<Driver> CreateDriver(int32_t id) {
    switch (id) {
        case kDriverDirect: return std::make_unique<DirectDriver>();
        case kDriverGapi: return std::make_unique<GapiDriver>();
        case kDriverStrongArm: return std::make_unique<StrongArmDriver>();
        case kDriverXScale: return std::make_unique<XScaleDriver>();
        case kDriverImageon100: return std::make_unique<Imageon100Driver>();
        case kDriverSlowFb: return std::make_unique<SlowFbDriver>();
        case kDriverVga: return std::make_unique<VgaDriver>();
        default: return nullptr;
    }
}

std::unique_ptr<Driver> ChooseDriver(VideoDetect& detect, uintptr_t window, const DisplayParams& params) {
    if (detect.foundCount == 0) return nullptr;
    if (params.orientation != kAnyOrientation) {
        bool listed = false;
        for (int32_t i = 0; i < detect.modeCount; ++i) listed |= detect.modes[i].orientation == params.orientation;
        if (!listed) return nullptr;
    }
    for (int32_t i = detect.foundCount - 1; i >= 0; --i) {
        std::unique_ptr<Driver> driver = CreateDriver(detect.foundIds[i]);
        if (driver && driver->Initialize(window, params, detect.info)) return driver;
    }
    return nullptr;
}

int32_t GetDisplayOrientation() {
    platform::DisplayModeRecord mode{sizeof mode, platform::DM_DISPLAYORIENTATION, platform::DMDO_0};
    if (CoreDll().ChangeDisplaySettingsEx(&mode, platform::CDS_TEST) != platform::DISP_CHANGE_SUCCESSFUL) return 0;
    switch (mode.displayOrientation) {
        case platform::DMDO_270: return 1;
        case platform::DMDO_180: return 2;
        case platform::DMDO_90: return 3;
        default: return 0;
    }
}

void SetDisplayOrientation(int32_t orientation) {
    constexpr uint32_t kValues[4] = {platform::DMDO_0, platform::DMDO_270, platform::DMDO_180, platform::DMDO_90};
    platform::DisplayModeRecord mode{sizeof mode, platform::DM_DISPLAYORIENTATION, kValues[orientation & 3]};
    (void)CoreDll().ChangeDisplaySettingsEx(&mode, 0);
}

void ResetVideoDetect() {
    gDetect.reset();
    ResetLcdProbes();
    gRememberedWindow = 0;
}

}  // namespace qob
