// display/lcd_drivers.h
// The drivers that read the processor's LCD controller: the controller
// probes (StrongARM and XScale), the mapping of device addresses into the
// process, and the two drivers, which draw straight into the frame buffer
// and, when asked, wait for the controller's scan to leave the rows a copy
// would tear.
#pragma once

#include <cstdint>

#include "display/driver.h"

namespace qob {

// Bytes of a memory page, from the system at first use.
[[nodiscard]] uint32_t PageSize();

// A pointer to size bytes at a device address, or null when the device does
// not map them all; cached asks for the cached view, which the simulated
// device does not tell apart. UnmapPhysical gives a mapping back.
[[nodiscard]] uint8_t* MapPhysical(uint32_t address, uint32_t size, bool cached);
void UnmapPhysical(uint8_t* pointer);

// What a controller probe found. registers is null when no usable panel was
// found (the probe counts as found when it is not).
struct LcdProbe {
    uint8_t* registers = nullptr;
    uint32_t frameBase = 0;
    int32_t width = 0;
    int32_t height = 0;
    bool monochrome = false;
    bool passive = false;  // the active-display bit of control register 0 is clear
    int32_t paletteBytes = 0;
    int32_t bitsPerPixel = 0;
    int32_t stride = 0;

    [[nodiscard]] bool Found() const { return registers != nullptr; }
};

// The probes run once each, on first use.
[[nodiscard]] const LcdProbe& StrongArmProbe();
[[nodiscard]] const LcdProbe& XScaleProbe();
// Forgets both probes (their mappings are given back).
void ResetLcdProbes();

// The probe of the controller the processor type has: type 1 StrongARM,
// type 2 XScale; null for any other type.
[[nodiscard]] const LcdProbe* LcdProbeForCpu(int32_t cpuType);

// The wait band of a driver, in the scan register's values.
struct ScanBand {
    int64_t lower;
    int64_t upper;
};

// How long WaitBeforeCopy waits for the band at most: about one frame at
// 60 Hz, on the platform clock. A stopped controller, or one whose band lies
// outside its scan, then gets its copy anyway.
constexpr int64_t kScanWaitLimitMs = 17;

class LcdDriver : public Driver {
public:
    ~LcdDriver() override;
    [[nodiscard]] bool Initialize(uintptr_t window, const DisplayParams& params, const DriverInfo& detected) override;
    [[nodiscard]] PixelBuffer* Lock() override { return buffer; }
    void WaitBeforeCopy() override;

    [[nodiscard]] ScanBand Band() const { return band; }
    // The device address of the frame buffer the driver draws into (0 when
    // it is not in the physical map).
    [[nodiscard]] uint32_t FrameAddress() const { return frameAddress; }

protected:
    LcdDriver(const LcdProbe& (*probe)(), uint32_t scanRegister) : probe(probe), scanRegister(scanRegister) {}
    // Whether a scan register reading lies in the band.
    [[nodiscard]] virtual bool InBand(uint32_t reading) const = 0;
    // The band for the probe's controller and the driver's description.
    [[nodiscard]] virtual ScanBand BandFor(const LcdProbe& found) const = 0;
    // The driver's own changes to the description and its address (device
    // address, or 0 for the detected host address as it is).
    virtual void Override(DriverInfo& description, uint32_t& address) const { (void)description, (void)address; }

    ScanBand band{0, -1};

private:
    const LcdProbe& (*probe)();
    uint32_t scanRegister;
    const uint8_t* registers = nullptr;
    PixelBuffer* buffer = nullptr;  // owned; its bits are the device's
    uint32_t frameAddress = 0;
};

class StrongArmDriver : public LcdDriver {
public:
    StrongArmDriver();

protected:
    [[nodiscard]] bool InBand(uint32_t reading) const override;
    [[nodiscard]] ScanBand BandFor(const LcdProbe& found) const override;
    void Override(DriverInfo& description, uint32_t& address) const override;
};

class XScaleDriver : public LcdDriver {
public:
    XScaleDriver();

protected:
    [[nodiscard]] bool InBand(uint32_t reading) const override;
    [[nodiscard]] ScanBand BandFor(const LcdProbe& found) const override;
};

// The frame buffer the model-1 device always has, and its orientation.
constexpr uint32_t kModelOneFrameAddress = 0xAC050020;
constexpr int32_t kModelOneOrientation = 3;

}  // namespace qob
