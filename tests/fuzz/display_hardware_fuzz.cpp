// tests/fuzz/display_hardware_fuzz.cpp
// The display over faulty simulated hardware: LCD register files, scan
// registers, palettes, alias addresses, a graphics chip that fails or lacks
// entries, MediaQ timings and frame geometries, all from the input; then a
// display is opened and a few frames presented. Nothing may hang, call
// through null or write outside the device's memories.

#include <cstdlib>
#include <cstring>
#include <iterator>

#include "display/display.h"
#include "display/display_window.h"
#include "display/key_map.h"
#include "fuzz_support.h"
#include "platform/clock.h"
#include "platform/display_device.h"

namespace {

using namespace qob;

constexpr uintptr_t kWindow = 0x100;

class Reader {
public:
    Reader(const uint8_t* data, size_t size) : data(data), size(size) {}
    uint8_t Byte() { return at < size ? data[at++] : 0; }
    uint16_t Half() { return uint16_t(Byte() | Byte() << 8); }
    uint32_t Word() { return uint32_t(Half()) | uint32_t(Half()) << 16; }

private:
    const uint8_t* data;
    size_t size;
    size_t at = 0;
};

intptr_t QuietProcedure(uintptr_t, uint32_t, uintptr_t, intptr_t) { return 0; }

void InstallWindow() {
    DisplayWindowServices services;
    services.isWindow = [](uintptr_t window) { return window == kWindow; };
    services.setWindowProcedure = [](uintptr_t, WindowProcedure) -> WindowProcedure { return &QuietProcedure; };
    services.callWindowProcedure = [](WindowProcedure procedure, uintptr_t window, uint32_t message, uintptr_t wParam,
                                      intptr_t lParam) { return procedure(window, message, wParam, lParam); };
    SetDisplayWindowServices(services);
}

const char* const kChipEntries[] = {
    "AtiCore_ProcessAttach",   "AtiCore_ProcessDetach",   "AtiCore_AllocOverlay",
    "AtiCore_SetOverlayOnOff", "AtiCore_SetupOverlay",    "AtiCore_SetOverlayPos",
    "AtiCore_ReleaseOverlay",  "AtiCore_AllocateSurface", "AtiCore_DestroySurface",
    "AtiCore_SetupMemoryTransfer", "AtiCore_TerminateMemoryTransfer", "AtiCore_WaitComplete"};

// One of four devices (XScale, StrongARM, Imageon100, MediaQ), changed by
// the input.
platform::DisplayDeviceProfile ProfileFrom(Reader& input) {
    platform::DisplayDeviceProfile profile = platform::DesktopDisplayProfile();
    profile.oemInfo = "Generic PDA";
    profile.libraries = {"coredll.dll"};
    profile.gxInfoEscape = true;
    profile.videoAddress = 0xA8100000;
    switch (input.Byte() % 4) {
        case 0:
            profile.cpuType = 2;
            profile.lcd = {2, {0x81, 239, 319, 4u << 24}, 0, 1440, 153600, 0, 0, 0x2000};
            break;
        case 1:
            profile.cpuType = 1;
            profile.lcd = {1, {0x81, 0, 0, 0, 0xC0000000, 0, 0, 0, 224, 319}, 0xC0000000, 7680, 153632, 0,
                           0xC0000000, 0x2000};
            break;
        case 2:
            profile.oemInfo = "Toshiba e750";
            profile.libraries.push_back("CoreLinkLib.dll");
            profile.gxInfoEscape = false;
            break;
        default: profile.videoPlacement = 0x42000; break;
    }
    if (const uint8_t cpu = input.Byte() % 4; cpu != 0) profile.cpuType = cpu - 1;
    for (int tweaks = input.Byte() % 8; tweaks > 0; --tweaks) {
        const uint32_t index = input.Byte() % 140;
        const uint32_t value = input.Word();
        if (profile.lcd.registers.size() <= index) profile.lcd.registers.resize(index + 1);
        profile.lcd.registers[index] = value;
    }
    profile.lcd.scanStart ^= input.Word();
    profile.lcd.scanStep ^= input.Half();
    profile.lcd.scanWrap ^= input.Word();
    profile.lcd.scanBusyReadings = input.Byte();
    profile.lcd.firstPaletteEntry ^= input.Half();
    const int32_t width = 240 + int8_t(input.Byte()), height = 320 + int8_t(input.Byte());
    profile.screenWidth = width;
    profile.screenHeight = height;
    profile.panel = platform::PanelLayout{width, height, 2, 2 * width};
    profile.rowPadding = 2 * (input.Byte() % 40);
    profile.videoPlacement ^= input.Word() & 0x7FFF0;
    profile.videoAlias = platform::AliasKind(input.Byte() % 3);
    if (input.Byte() & 1) profile.videoAddress = 0xAC050020;
    if (input.Byte() & 1) profile.oemInfo = "Compaq iPAQ H3800";
    profile.chipWaitFailures = int8_t(input.Byte());
    const uint8_t failures = input.Byte();
    profile.chipSurfaceFails = failures & 1;
    profile.chipOverlayFails = failures & 2;
    profile.chipTransferFails = failures & 4;
    if (const uint8_t missing = input.Byte(); missing < std::size(kChipEntries))
        profile.missingEntries.push_back(kChipEntries[missing]);
    return profile;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool prepared = (qob::fuzz::PrepareProcess(), InstallWindow(), true);
    (void)prepared;
    Reader input(data, size);
    ResetDisplayStatics();
    ResetMilliseconds();
    platform::SelectDisplayDevice(ProfileFrom(input));
    // Every reading moves the clock on by a millisecond, so that waits end
    // within a few readings; the MediaQ timing comes from the input.
    constexpr uint64_t kMs = 1'000'000;
    const uint64_t timing[] = {10 * kMs, 11 * kMs, (11 + uint64_t(input.Byte() % 32)) * kMs};
    platform::ScriptTestClock(timing, std::size(timing), kMs);

    DisplayParams params{0, 0, int32_t(input.Byte() % 5), 1 + input.Byte() % 2};
    auto display = Display::Create(kWindow, params);
    for (int presents = display ? input.Byte() % 5 : 0; presents > 0; --presents) {
        if (!DisplayBeginScene(display.get())) break;
        PixelBuffer* buffer = DisplayGetBackBuffer(display.get());
        if (buffer == nullptr) std::abort();
        for (int32_t y = 0; y < buffer->height; ++y) std::memset(PixelRow(*buffer, y), y, 2 * size_t(buffer->width));
        const Rect dirty{int16_t(input.Half()), int16_t(input.Half()), int16_t(input.Half()), int16_t(input.Half())};
        DisplaySetDirtyRect(display.get(), input.Byte() & 1 ? nullptr : &dirty);
        const uint8_t action = input.Byte();
        if (action & 4) display->Base().Suspend(), display->Base().Resume();
        DisplayPresent(display.get(), action & 3);
    }
    display.reset();
    platform::ClearTestClock();
    if (!platform::DisplayDeviceGuardsIntact()) std::abort();
    return 0;
}
