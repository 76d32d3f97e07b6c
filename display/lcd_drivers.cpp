// display/lcd_drivers.cpp
// The LCD-controller probes, the physical mapping and the two drivers.
#include "display/lcd_drivers.h"

#include <unistd.h>

#include <cstring>
#include <new>
#include <optional>

#include "display/device_model.h"
#include "display/display_window.h"
#include "platform/clock.h"
#include "platform/display_device.h"

namespace qob {
namespace {

std::optional<LcdProbe> gStrongArm;
std::optional<LcdProbe> gXScale;

constexpr int32_t kModelOne = 1;

int32_t RoundUp(int32_t value, int32_t alignment) { return (value + alignment - 1) / alignment * alignment; }

// Control register 0: enabled, monochrome, active display, and (XScale) the
// double-pixel monochrome mode.
constexpr uint32_t kControlEnabled = 1u << 0;
constexpr uint32_t kControlMonochrome = 1u << 1;
constexpr uint32_t kControlActive = 1u << 7;
constexpr uint32_t kControlDoubleMono = 1u << 9;

LcdProbe RunXScaleProbe() {
    LcdProbe probe;
    uint8_t* registers = MapPhysical(platform::kXScaleRegisterAddress, platform::kXScaleRegisterBytes, false);
    if (registers == nullptr) return probe;
    auto read = [&](uint32_t index) { return platform::ReadDeviceRegister(registers, index); };
    const uint32_t control = read(0);
    if ((control & kControlEnabled) == 0) {
        UnmapPhysical(registers);
        return probe;
    }
    probe.width = int32_t(read(1) & 0x3FF) + 1;
    probe.height = int32_t(read(2) & 0x3FF) + 1;
    probe.monochrome = (control & kControlMonochrome) != 0;
    probe.passive = (control & kControlActive) == 0;
    struct Depth {
        int32_t bits, palette;
    };
    constexpr Depth kDepths[8] = {{1, 8}, {2, 8}, {4, 32}, {8, 512}, {16, 0}, {0, 0}, {0, 0}, {0, 0}};
    const Depth depth = kDepths[(read(3) >> 24) & 7];
    probe.bitsPerPixel = depth.bits;
    probe.paletteBytes = depth.palette;
    const bool wideAlignment = (probe.monochrome && (control & kControlDoubleMono) != 0) ||
                               (!probe.passive && (depth.bits == 8 || depth.bits == 16));
    probe.stride = RoundUp(probe.width, wideAlignment ? 8 : 4) * depth.bits / 8;
    if (depth.bits == 16)
        probe.registers = registers;
    else
        UnmapPhysical(registers);
    return probe;
}

LcdProbe RunStrongArmProbe() {
    LcdProbe probe;
    uint8_t* registers = MapPhysical(platform::kStrongArmRegisterAddress, platform::kStrongArmRegisterBytes, false);
    if (registers == nullptr) return probe;
    auto read = [&](uint32_t index) { return platform::ReadDeviceRegister(registers, index); };
    const uint32_t control = read(0);
    if ((control & kControlEnabled) == 0) {
        UnmapPhysical(registers);
        return probe;
    }
    probe.frameBase = read(4);
    probe.width = int32_t(read(8) & 0x3FF) + 16;
    probe.height = int32_t(read(9) & 0x3FF) + 1;
    probe.monochrome = (control & kControlMonochrome) != 0;
    probe.passive = (control & kControlActive) == 0;
    // The palette's first entry tells the depth; a frame base the device
    // does not map leaves the panel unfound.
    uint8_t* palette = MapPhysical(probe.frameBase, 2, false);
    if (palette != nullptr) {
        uint16_t entry = 0;
        std::memcpy(&entry, palette, sizeof entry);
        UnmapPhysical(palette);
        switch (entry & 0x3000) {
            case 0x0000: probe.bitsPerPixel = 4, probe.paletteBytes = 32; break;
            case 0x1000: probe.bitsPerPixel = 8, probe.paletteBytes = 512; break;
            case 0x2000: probe.bitsPerPixel = 16, probe.paletteBytes = 32; break;
            default: probe.bitsPerPixel = 0, probe.paletteBytes = 0; break;
        }
    }
    probe.stride = RoundUp(probe.width, 16) * probe.bitsPerPixel / 8;
    if (palette != nullptr && probe.bitsPerPixel == 16 && !probe.passive)
        probe.registers = registers;
    else
        UnmapPhysical(registers);
    return probe;
}

void Forget(std::optional<LcdProbe>& probe) {
    if (probe && probe->registers) UnmapPhysical(probe->registers);
    probe.reset();
}

}  // namespace

uint32_t PageSize() {
    static const uint32_t size = [] {
        const long answer = sysconf(_SC_PAGESIZE);
        return answer > 0 ? uint32_t(answer) : 4096u;
    }();
    return size;
}

// The mapping covers whole pages from the one that holds the address; a span
// that would run past the end of the 32-bit address space maps nothing.
uint8_t* MapPhysical(uint32_t address, uint32_t size, bool) {
    const uint64_t inPage = address % PageSize();
    if (size == 0 || uint64_t(address) - inPage + inPage + size > (uint64_t{1} << 32)) return nullptr;
    return platform::PhysicalToHost(address, size);
}

void UnmapPhysical(uint8_t*) {}

const LcdProbe& StrongArmProbe() {
    if (!gStrongArm) gStrongArm = RunStrongArmProbe();
    return *gStrongArm;
}

const LcdProbe& XScaleProbe() {
    if (!gXScale) gXScale = RunXScaleProbe();
    return *gXScale;
}

void ResetLcdProbes() {
    Forget(gStrongArm);
    Forget(gXScale);
}

const LcdProbe* LcdProbeForCpu(int32_t cpuType) {
    if (cpuType == 1) return &StrongArmProbe();
    if (cpuType == 2) return &XScaleProbe();
    return nullptr;
}

// LcdDriver

LcdDriver::~LcdDriver() { delete buffer; }

// The frame buffer comes from the detections before the probe. When its
// device address has bit 29 set, the address with the bit cleared is the
// same memory through the cache, and is taken when it holds the same bytes;
// an alias the device does not map, or that holds other bytes, keeps the
// address.
bool LcdDriver::Initialize(uintptr_t window, const DisplayParams&, const DriverInfo& detected) {
    if (buffer != nullptr) return false;
    const LcdProbe& found = probe();
    if (!DisplayWindowExists(window) || detected.frameBuffer == nullptr || !found.Found()) return false;
    DriverInfo description = detected;
    description.swapMode = kSwapModeDirect;
    uint8_t* bits = detected.frameBuffer;
    uint32_t address = platform::HostToPhysical(bits);
    uint32_t fixed = 0;
    Override(description, fixed);
    const int64_t bytes = int64_t(description.pitch) * description.height;
    if (description.width <= 0 || description.height <= 0 || description.pitch <= 0 || bytes > UINT32_MAX)
        return false;
    if (fixed != 0) {
        address = fixed;
        bits = MapPhysical(address, uint32_t(bytes), false);
        if (bits == nullptr) return false;
    }
    if ((address & platform::kAliasBit) != 0) {
        const uint8_t* frame = MapPhysical(address, uint32_t(bytes), false);
        uint8_t* alias = MapPhysical(address & ~platform::kAliasBit, uint32_t(bytes), true);
        if (frame != nullptr && alias != nullptr && std::memcmp(frame, alias, size_t(bytes)) == 0) {
            bits = alias;
            address &= ~platform::kAliasBit;
        }
    }
    info = description;
    buffer = new (std::nothrow) PixelBuffer(info.width, info.height, info.pitch, bits, false);
    if (buffer == nullptr) return false;
    frameAddress = address;
    registers = found.registers;
    band = BandFor(found);
    return true;
}

void LcdDriver::WaitBeforeCopy() {
    platform::Sleep(0);
    if (registers == nullptr) return;
    const int64_t limit = platform::QueryPerformanceFrequency() / 1000 * kScanWaitLimitMs;
    const int64_t start = platform::QueryPerformanceCounter();
    while (!InBand(platform::ReadDeviceRegister(registers, scanRegister)))
        if (platform::QueryPerformanceCounter() - start >= limit) return;
}

// StrongARM: register 5 is the address the controller's DMA reads now.

StrongArmDriver::StrongArmDriver() : LcdDriver(&StrongArmProbe, platform::kStrongArmScanRegister) {}

bool StrongArmDriver::InBand(uint32_t reading) const { return reading >= band.lower && reading <= band.upper; }

ScanBand StrongArmDriver::BandFor(const LcdProbe& found) const {
    const int64_t frame = int64_t(found.frameBase) + found.paletteBytes;
    return ScanBand{frame + int64_t(info.height - 34) * info.pitch, frame + int64_t(info.height - 20) * info.pitch};
}

void StrongArmDriver::Override(DriverInfo& description, uint32_t& address) const {
    if (DetectDeviceModel() != kModelOne) return;
    description.orientation = kModelOneOrientation;
    address = kModelOneFrameAddress;
}

// XScale: the low 21 bits of register 131 count the bytes the controller has
// read of the frame, while bit 26 is clear.

XScaleDriver::XScaleDriver() : LcdDriver(&XScaleProbe, platform::kXScaleScanRegister) {}

bool XScaleDriver::InBand(uint32_t reading) const {
    if ((reading & platform::kXScaleScanBusyBit) != 0) return false;
    const int64_t position = reading & 0x1FFFFF;
    return position >= band.lower && position <= band.upper;
}

ScanBand XScaleDriver::BandFor(const LcdProbe&) const {
    return ScanBand{20 * int64_t(info.pitch), 34 * int64_t(info.pitch)};
}

}  // namespace qob
