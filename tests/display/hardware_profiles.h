// tests/display/hardware_profiles.h
// Simulated devices for the LCD-controller and graphics-chip drivers. The
// LCD devices also answer GETGXINFO, the detection these drivers take their
// frame buffer from; the MediaQ devices place video memory where the chip's
// lies, and their detection times a scripted clock.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/clock.h"
#include "platform/display_device.h"

namespace qob::testing {

constexpr uint32_t kFrameBase = 0xC0000000;      // StrongARM: register 4, the palette's address
constexpr uint32_t kVideoAddress = 0xA8100000;   // bit 29 set
constexpr uint32_t kPlainVideoAddress = 0x88100000;

// 240 x 320 upright in video memory with 480-byte rows, reported by GETGXINFO.
inline platform::DisplayDeviceProfile EscapeProfile(const char* name) {
    platform::DisplayDeviceProfile profile = platform::DesktopDisplayProfile();
    profile.name = name;
    profile.oemInfo = "Generic PDA";
    profile.libraries = {"coredll.dll"};
    profile.gxInfoEscape = true;
    profile.videoAddress = kVideoAddress;
    return profile;
}

// An active 16-bit XScale panel of 240 x 320; the scan register counts the
// bytes of the frame read so far, three rows a reading.
inline platform::DisplayDeviceProfile XScaleProfile() {
    platform::DisplayDeviceProfile profile = EscapeProfile("xscale");
    profile.cpuType = 2;
    profile.lcd.kind = 2;
    profile.lcd.registers = {0x81, 239, 319, 4u << 24};
    profile.lcd.scanStart = 0;
    profile.lcd.scanStep = 3 * 480;
    profile.lcd.scanWrap = 320 * 480;
    return profile;
}

// An active 16-bit StrongARM panel of 240 x 320 whose frame (after a 32-byte
// palette) lies at kFrameBase; the scan register is the address the
// controller reads, sixteen rows a reading.
inline platform::DisplayDeviceProfile StrongArmProfile() {
    platform::DisplayDeviceProfile profile = EscapeProfile("strongarm");
    profile.cpuType = 1;
    profile.lcd.kind = 1;
    profile.lcd.registers = {0x81, 0, 0, 0, kFrameBase, 0, 0, 0, 240 - 16, 319};
    profile.lcd.paletteAddress = kFrameBase;
    profile.lcd.firstPaletteEntry = 0x2000;
    profile.lcd.scanStart = kFrameBase;
    profile.lcd.scanStep = 16 * 480;
    profile.lcd.scanWrap = 32 + 320 * 480;
    return profile;
}

// Toshiba model 6 with the chip's vendor library and nothing but the screen
// device context before it.
inline platform::DisplayDeviceProfile ImageonProfile() {
    platform::DisplayDeviceProfile profile = platform::DesktopDisplayProfile();
    profile.name = "imageon";
    profile.oemInfo = "Toshiba e740 rev B";
    profile.libraries = {"coredll.dll", "CoreLinkLib.dll"};
    return profile;
}

// The entries of the vendor library that the Imageon100 driver calls.
inline std::vector<const char*> ChipEntries() {
    return {"AtiCore_ProcessAttach",       "AtiCore_ProcessDetach",           "AtiCore_AllocOverlay",
            "AtiCore_SetOverlayOnOff",     "AtiCore_SetupOverlay",            "AtiCore_SetOverlayPos",
            "AtiCore_ReleaseOverlay",      "AtiCore_AllocateSurface",         "AtiCore_DestroySurface",
            "AtiCore_SetupMemoryTransfer", "AtiCore_TerminateMemoryTransfer", "AtiCore_WaitComplete"};
}

// GETGXINFO over video memory placed where a MediaQ's frame buffer lies.
inline platform::DisplayDeviceProfile MediaQProfile() {
    platform::DisplayDeviceProfile profile = EscapeProfile("mediaq");
    profile.videoAddress = 0;
    profile.videoPlacement = 0x42000;
    return profile;
}

// Scripts the millisecond clock so that writing the frame buffer during
// MediaQ detection takes the given milliseconds: the first reading, the wait
// for its next change, and the reading after the writes.
inline void ScriptMediaQTiming(int32_t milliseconds) {
    constexpr uint64_t kMs = 1'000'000;
    const uint64_t readings[] = {500 * kMs, 500 * kMs, 501 * kMs, (501 + uint64_t(milliseconds)) * kMs};
    platform::ScriptTestClock(readings, 4);
}

}  // namespace qob::testing
