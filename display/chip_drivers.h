// display/chip_drivers.h
// The graphics-chip drivers: Imageon100 draws into an overlay surface in the
// chip's memory through the chip's vendor library; SlowFB keeps the picture
// in system memory and writes only the changed words to the slow video
// memory of a MediaQ chip.
#pragma once

#include <cstdint>
#include <memory>

#include "display/device_libraries.h"
#include "display/driver.h"

namespace qob {

// CoreLinkLib.dll, the entries the Imageon100 driver calls.
class ChipLibrary : public DynamicLibrary {
public:
    ChipLibrary();

    // Loaded, with every entry the driver calls.
    [[nodiscard]] bool HasDriverEntries() const;

    platform::ChipVoidEntry processAttach;
    platform::ChipVoidEntry processDetach;
    platform::ChipAllocOverlayEntry allocOverlay;
    platform::ChipSetOverlayOnOffEntry setOverlayOnOff;
    platform::ChipSetupOverlayEntry setupOverlay;
    platform::ChipSetOverlayPosEntry setOverlayPos;
    platform::ChipIdEntry releaseOverlay;
    platform::ChipAllocateSurfaceEntry allocateSurface;
    platform::ChipIdEntry destroySurface;
    platform::ChipSetupMemoryTransferEntry setupMemoryTransfer;
    platform::ChipVoidEntry terminateMemoryTransfer;
    platform::ChipWaitCompleteEntry waitComplete;
};

// Only on device models 6 and 7, and only when the vendor library offers
// every entry the driver calls.
[[nodiscard]] bool DetectImageon100();

// How many times Lock waits for the chip to finish its work, and how long
// each wait may take (milliseconds).
constexpr int32_t kChipWaitTries = 32;
constexpr int32_t kChipWaitMs = 100;

class Imageon100Driver : public Driver {
public:
    Imageon100Driver() = default;
    ~Imageon100Driver() override;
    void Resume() override;
    void Suspend() override;
    [[nodiscard]] bool Initialize(uintptr_t window, const DisplayParams& params, const DriverInfo& detected) override;
    [[nodiscard]] PixelBuffer* Lock() override;
    void Unlock(uint32_t flags) override;

private:
    void Release();

    std::unique_ptr<ChipLibrary> library;
    bool attached = false;
    uint16_t overlay = 0;
    uint16_t surface = 0;
    uint32_t surfaceHandle = 0;
    PixelBuffer* buffer = nullptr;  // owned; its bits are the chip's while locked
    bool locked = false;
};

// Where a MediaQ's frame buffer lies: at least this far into a 512 KiB
// window, and no larger than the chip's video memory; and how slow writing
// it byte by byte must be for the chip to be a MediaQ.
constexpr uint32_t kMediaQWindow = 0x80000;
constexpr uint32_t kMediaQLowestOffset = 0x42000;
constexpr int64_t kMediaQLargestFrame = 0x40000;
constexpr int32_t kMediaQSlowMs = 14;

// Times writing the detected frame buffer (which clears it) on the
// millisecond clock.
[[nodiscard]] bool DetectMediaQ(const DriverInfo& detected);

// The frame buffer of the chip as detected.
class MediaQDriver : public Driver {
public:
    ~MediaQDriver() override;
    [[nodiscard]] bool Initialize(uintptr_t window, const DisplayParams& params, const DriverInfo& detected) override;
    [[nodiscard]] PixelBuffer* Lock() override { return buffer; }

private:
    PixelBuffer* buffer = nullptr;  // owned; its bits are the device's
};

// Over a MediaQ. When the frame's bytes are whole 64-byte blocks, the
// program draws into a shadow in system memory, and a second shadow is kept
// equal to video memory: each present compares the two over the dirty band,
// block by block, and writes each 32-bit word that differs to video memory
// and to the copy. Video memory is never read. A full copy comes first, after
// Resume, Suspend or Repaint, and when the present flags ask for it.
// Otherwise the MediaQ's frame buffer is drawn into directly.
class SlowFbDriver : public Driver {
public:
    SlowFbDriver();
    ~SlowFbDriver() override;
    void Resume() override { fullCopy = true; }
    void Suspend() override { fullCopy = true; }
    void Repaint() override { fullCopy = true; }
    [[nodiscard]] bool Initialize(uintptr_t window, const DisplayParams& params, const DriverInfo& detected) override;
    [[nodiscard]] PixelBuffer* Lock() override;
    void Unlock(uint32_t flags) override;
    void AdjustDirtyRect(const Rect& rect) override;
    void WaitBeforeCopy() override { inner->WaitBeforeCopy(); }

    [[nodiscard]] bool ShadowMode() const { return shadow; }
    [[nodiscard]] bool FullCopyPending() const { return fullCopy; }
    // The band the next difference copy covers: byte offset and 64-byte blocks.
    [[nodiscard]] int64_t BandOffset() const { return bandOffset; }
    [[nodiscard]] int64_t BandBlocks() const { return bandBlocks; }

private:
    std::unique_ptr<MediaQDriver> inner;
    bool shadow = false;
    bool fullCopy = false;
    PixelBuffer* drawing = nullptr;  // owned: what the program draws into
    PixelBuffer* shown = nullptr;    // owned: what video memory holds
    int64_t bandOffset = 0;
    int64_t bandBlocks = 0;
};

// Writes each 32-bit word of blocks 64-byte blocks at from that differs from
// the word at shown to both to and shown. None of the three need alignment.
void CopyChangedWords(uint8_t* to, uint8_t* shown, const uint8_t* from, int64_t blocks);

}  // namespace qob
