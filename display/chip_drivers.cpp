// display/chip_drivers.cpp
// Imageon100 through its vendor library, MediaQ detection, and SlowFB.
#include "display/chip_drivers.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "display/device_model.h"
#include "display/display_window.h"
#include "display/key_map.h"
#include "display/tile_copy.h"
#include "platform/memory.h"

namespace qob {
namespace {

constexpr int32_t kImageonModels[] = {6, 7};
constexpr uint32_t kOverlayFormat = 8;
constexpr int64_t kBlockBytes = 64;

// The clock is read at most this often while detection waits for its next
// change (a millisecond is tens of thousands of readings): a clock that
// stands still is no MediaQ's, and detection goes on.
constexpr int64_t kMaxClockReadings = 5'000'000;

uint32_t BothHalves(int32_t value) { return uint32_t(value & 0xFFFF) | (uint32_t(value & 0xFFFF) << 16); }

// A shadow with the frame's own pitch, so that byte offsets match.
PixelBuffer* MakeShadow(const DriverInfo& info) {
    const int64_t bytes = int64_t(info.pitch) * info.height;
    if (bytes <= 0 || bytes > kMaxPixelBufferBytes) return nullptr;
    auto* bits = static_cast<uint8_t*>(platform::AllocateBlock(size_t(bytes)));
    if (bits == nullptr) return nullptr;
    auto* buffer = new (std::nothrow) PixelBuffer(info.width, info.height, info.pitch, bits, true);
    if (buffer == nullptr) platform::FreeBlock(bits);
    return buffer;
}

uint64_t Load64(const uint8_t* at) {
    uint64_t value;
    std::memcpy(&value, at, sizeof value);
    return value;
}

uint32_t Load32(const uint8_t* at) {
    uint32_t value;
    std::memcpy(&value, at, sizeof value);
    return value;
}

}  // namespace

ChipLibrary::ChipLibrary()
    : DynamicLibrary(platform::kChipLibraryName),
      processAttach(Find<platform::ChipVoidEntry>("AtiCore_ProcessAttach")),
      processDetach(Find<platform::ChipVoidEntry>("AtiCore_ProcessDetach")),
      allocOverlay(Find<platform::ChipAllocOverlayEntry>("AtiCore_AllocOverlay")),
      setOverlayOnOff(Find<platform::ChipSetOverlayOnOffEntry>("AtiCore_SetOverlayOnOff")),
      setupOverlay(Find<platform::ChipSetupOverlayEntry>("AtiCore_SetupOverlay")),
      setOverlayPos(Find<platform::ChipSetOverlayPosEntry>("AtiCore_SetOverlayPos")),
      releaseOverlay(Find<platform::ChipIdEntry>("AtiCore_ReleaseOverlay")),
      allocateSurface(Find<platform::ChipAllocateSurfaceEntry>("AtiCore_AllocateSurface")),
      destroySurface(Find<platform::ChipIdEntry>("AtiCore_DestroySurface")),
      setupMemoryTransfer(Find<platform::ChipSetupMemoryTransferEntry>("AtiCore_SetupMemoryTransfer")),
      terminateMemoryTransfer(Find<platform::ChipVoidEntry>("AtiCore_TerminateMemoryTransfer")),
      waitComplete(Find<platform::ChipWaitCompleteEntry>("AtiCore_WaitComplete")) {}

bool ChipLibrary::HasDriverEntries() const {
    return IsLoaded() && processAttach && processDetach && allocOverlay && setOverlayOnOff && setupOverlay &&
           setOverlayPos && releaseOverlay && allocateSurface && destroySurface && setupMemoryTransfer &&
           terminateMemoryTransfer && waitComplete;
}

// Imageon100

bool DetectImageon100() {
    const int32_t model = DetectDeviceModel();
    if (std::find(std::begin(kImageonModels), std::end(kImageonModels), model) == std::end(kImageonModels))
        return false;
    const ChipLibrary library;
    if (!library.HasDriverEntries()) return false;
    library.processAttach();
    library.processDetach();
    return true;
}

Imageon100Driver::~Imageon100Driver() {
    Release();
    delete buffer;
}

// Undoes what Initialize made, in the reverse order.
void Imageon100Driver::Release() {
    if (!library) return;
    if (locked) Unlock(0);
    if (overlay != 0) {
        library->setOverlayOnOff(overlay, 0);
        library->releaseOverlay(overlay);
    }
    if (surface != 0) library->destroySurface(surface);
    if (attached) library->processDetach();
    overlay = surface = 0;
    surfaceHandle = 0;
    attached = false;
}

// A surface or overlay the chip did not give fails the driver, so that the
// choice moves on to the next one.
bool Imageon100Driver::Initialize(uintptr_t window, const DisplayParams&, const DriverInfo& detected) {
    if (overlay != 0 || attached || !DisplayWindowExists(window)) return false;
    if (detected.width <= 0 || detected.height <= 0 || int64_t(detected.width) * detected.height > UINT32_MAX / 2)
        return false;
    library = std::make_unique<ChipLibrary>();
    if (!library->HasDriverEntries()) return false;
    info = detected;
    info.pitch = 2 * detected.width;
    info.orientation = 0;
    info.swapMode = kSwapModeDirect;
    library->processAttach();
    attached = true;
    uint16_t surfaceId = 0, overlayId = 0;
    uint32_t handle = 0;
    library->allocateSurface(&surfaceId, &handle, uint32_t(info.width) * uint32_t(info.height), 0);
    surface = surfaceId;
    surfaceHandle = handle;
    library->allocOverlay(&overlayId);
    overlay = overlayId;
    buffer = new (std::nothrow) PixelBuffer(info.width, info.height, info.pitch, nullptr, false);
    if (surface == 0 || surfaceHandle == 0 || overlay == 0 || buffer == nullptr) {
        Release();
        return false;
    }
    const platform::ChipOverlayRecord record{surfaceHandle, 0, BothHalves(info.width), BothHalves(info.height), 0,
                                             kOverlayFormat};
    library->setupOverlay(overlay, &record);
    library->setOverlayPos(overlay, 0, 0);
    library->setOverlayOnOff(overlay, 1);
    return true;
}

PixelBuffer* Imageon100Driver::Lock() {
    if (overlay == 0) return nullptr;
    if (locked) return buffer;
    bool ready = false;
    for (int32_t i = 0; i < kChipWaitTries && !ready; ++i) ready = library->waitComplete(kChipWaitMs) != 0;
    if (!ready) return nullptr;
    uint8_t* address = nullptr;
    if (library->setupMemoryTransfer(surfaceHandle, &address) == 0 || address == nullptr) return nullptr;
    buffer->bits = address;
    locked = true;
    return buffer;
}

void Imageon100Driver::Unlock(uint32_t) {
    if (!locked) return;
    library->terminateMemoryTransfer();
    locked = false;
    buffer->bits = nullptr;
}

void Imageon100Driver::Resume() {
    if (overlay != 0) library->setOverlayOnOff(overlay, 1);
}

void Imageon100Driver::Suspend() {
    if (overlay == 0) return;
    if (locked) Unlock(0);
    library->setOverlayOnOff(overlay, 0);
}

// MediaQ

bool DetectMediaQ(const DriverInfo& detected) {
    uint8_t* frame = detected.frameBuffer;
    if (frame == nullptr || reinterpret_cast<uintptr_t>(frame) % kMediaQWindow < kMediaQLowestOffset) return false;
    const int64_t bytes = int64_t(detected.pitch) * detected.height;
    if (bytes <= 0 || bytes > kMediaQLargestFrame) return false;
    const uint32_t start = GetMilliseconds();
    uint32_t now = start;
    for (int64_t readings = 0; now == start && readings < kMaxClockReadings; ++readings) now = GetMilliseconds();
    if (now == start) return false;
    volatile uint8_t* bytesOfFrame = frame;
    for (int64_t i = bytes - 1; i >= 0; --i) bytesOfFrame[i] = 0;
    const int32_t elapsed = int32_t(GetMilliseconds() - (start + 1));
    return elapsed >= kMediaQSlowMs;
}

MediaQDriver::~MediaQDriver() { delete buffer; }

bool MediaQDriver::Initialize(uintptr_t window, const DisplayParams&, const DriverInfo& detected) {
    if (buffer != nullptr || !DisplayWindowExists(window) || detected.frameBuffer == nullptr) return false;
    info = detected;
    info.swapMode = kSwapModeDirect;
    buffer = new (std::nothrow) PixelBuffer(info.width, info.height, info.pitch, info.frameBuffer, false);
    return buffer != nullptr;
}

// SlowFB

SlowFbDriver::SlowFbDriver() : inner(std::make_unique<MediaQDriver>()) {}

SlowFbDriver::~SlowFbDriver() {
    delete drawing;
    delete shown;
}

bool SlowFbDriver::Initialize(uintptr_t window, const DisplayParams& params, const DriverInfo& detected) {
    if (drawing != nullptr || !DisplayWindowExists(window) || !inner->Initialize(window, params, detected))
        return false;
    info = inner->info;
    const int64_t bytes = int64_t(info.height) * info.pitch;
    if (bytes > 0 && bytes % kBlockBytes == 0 && info.width > 0 && info.pitch >= 2 * int64_t(info.width)) {
        shadow = true;
        const bool keep = params.swapEffect == kSwapKeep &&
                          (params.orientation == inner->info.orientation || params.orientation == kAnyOrientation);
        info.swapMode = keep ? kSwapModeOwn : kSwapModeShadow;
        drawing = MakeShadow(info);
        shown = MakeShadow(info);
        if (drawing == nullptr || shown == nullptr) return false;
        info.frameBuffer = drawing->bits;
    }
    fullCopy = true;
    return true;
}

// The band is the rectangle's rows, widened to whole 64-byte blocks counted
// from the start of the frame; pitch x height is whole blocks, so it stays
// inside the buffers.
void SlowFbDriver::AdjustDirtyRect(const Rect& rect) {
    if (shadow) {
        const int64_t pitch = info.pitch;
        int64_t top = std::clamp<int64_t>(rect.top, 0, info.height);
        int64_t bottom = std::clamp<int64_t>(rect.bottom, 0, info.height);
        if (bottom <= top) {
            bandOffset = 0;
            bandBlocks = 0;
        } else {
            if (pitch * (bottom - top) % kBlockBytes != 0) {
                top &= ~int64_t(1);
                bottom = std::min<int64_t>((bottom + 1) & ~int64_t(1), info.height);
            }
            const int64_t start = pitch * top / kBlockBytes * kBlockBytes;
            const int64_t end = (pitch * bottom + kBlockBytes - 1) / kBlockBytes * kBlockBytes;
            bandOffset = start;
            bandBlocks = (end - start) / kBlockBytes;
        }
    }
    inner->AdjustDirtyRect(rect);
}

PixelBuffer* SlowFbDriver::Lock() { return shadow ? drawing : inner->Lock(); }

void SlowFbDriver::Unlock(uint32_t flags) {
    if (!shadow) {
        inner->Unlock(flags);
        return;
    }
    PixelBuffer* frame = inner->Lock();
    if (frame == nullptr || frame->bits == nullptr) return;
    const int64_t bytes = int64_t(info.pitch) * info.height;
    if (fullCopy || (flags & kPresentEverything) != 0) {
        BlockCopy(frame->bits, drawing->bits, size_t(bytes));
        std::memcpy(shown->bits, drawing->bits, size_t(bytes));
        fullCopy = false;
    } else if (bandBlocks > 0) {
        CopyChangedWords(frame->bits + bandOffset, shown->bits + bandOffset, drawing->bits + bandOffset, bandBlocks);
    }
    inner->Unlock(flags);
}

// Runs of blocks that did not change are passed over by one compare of the
// run; in a run that did, a block that did not is passed over by eight 64-bit
// compares, and a block that did is written word by word where it differs.
void CopyChangedWords(uint8_t* to, uint8_t* shown, const uint8_t* from, int64_t blocks) {
    constexpr int64_t kRunBlocks = 16;
    for (int64_t block = 0; block < blocks;) {
        const int64_t run = std::min(kRunBlocks, blocks - block);
        const int64_t at = block * kBlockBytes;
        if (std::memcmp(from + at, shown + at, size_t(run * kBlockBytes)) != 0) {
            for (int64_t offset = at; offset < at + run * kBlockBytes; offset += kBlockBytes) {
                uint64_t difference = 0;
                for (int64_t i = offset; i < offset + kBlockBytes; i += 8)
                    difference |= Load64(from + i) ^ Load64(shown + i);
                if (difference == 0) continue;
                for (int64_t i = offset; i < offset + kBlockBytes; i += 4) {
                    const uint32_t word = Load32(from + i);
                    if (word == Load32(shown + i)) continue;
                    std::memcpy(to + i, &word, sizeof word);
                    std::memcpy(shown + i, &word, sizeof word);
                }
            }
        }
        block += run;
    }
}

}  // namespace qob
