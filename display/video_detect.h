// display/video_detect.h
// The one probe of the device: which drivers it offers (in the order they
// were found), the detected description, and the modes a display can have;
// and the choice of a driver among them.
#pragma once

#include <cstdint>
#include <memory>

#include "display/driver.h"

namespace qob {

struct DisplayMode {
    int32_t width;
    int32_t height;
    int32_t orientation;
    bool operator==(const DisplayMode&) const = default;
};

struct VideoDetect {
    DriverInfo info = EmptyDriverInfo();
    DisplayMode modes[4] = {};
    int32_t modeCount = 0;
    int32_t foundIds[8] = {};
    int32_t foundCount = 0;
    // Set while no detected driver offers a buffer of its own, so that the
    // hardware probes that follow the published interfaces run.
    bool probeHardware = false;

    // Runs the detections for the window and builds the mode list.
    void Detect(uintptr_t window);

private:
    void DetectDrivers(uintptr_t window);
    void BuildModes();
    void Found(int32_t id);
};

// The process's probe, run on first use with the window the display
// remembered.
[[nodiscard]] VideoDetect& TheVideoDetect();

// The window the display remembers for the probe (GAPI opens it).
void RememberDisplayWindow(uintptr_t window);
[[nodiscard]] uintptr_t RememberedDisplayWindow();

// A new driver of that id, or null for an id that gives none.
[[nodiscard]] std::unique_ptr<Driver> CreateDriver(int32_t id);

// The driver that serves the params: null when nothing was found or the asked
// orientation (unless 4) is not one of the modes; else the found drivers are
// tried from the last found to the first, and the first that initialises is
// the answer.
[[nodiscard]] std::unique_ptr<Driver> ChooseDriver(VideoDetect& detect, uintptr_t window, const DisplayParams& params);

// The system orientation (0..3) through ChangeDisplaySettingsEx; a failed
// query or an unknown value reads as 0.
[[nodiscard]] int32_t GetDisplayOrientation();
void SetDisplayOrientation(int32_t orientation);

// Forgets the probe and the remembered window.
void ResetVideoDetect();

}  // namespace qob
