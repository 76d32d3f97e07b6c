// display/frame_buffer_drivers.cpp
// GAPI, the GETGXINFO frame buffer and the raw frame buffer.
#include "display/frame_buffer_drivers.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <span>

#include "display/device_model.h"
#include "display/display_window.h"
#include "platform/clock.h"

namespace qob {
namespace {

constexpr int32_t kModelNoFrameBuffer = 9;  // offers no frame-buffer access of these kinds

bool IsDirectModel(int32_t model) { return model == 2 || model == 3; }

bool QueryEscape(int32_t escape) {
    const std::span<const uint8_t> asked(reinterpret_cast<const uint8_t*>(&escape), sizeof escape);
    return platform::DeviceEscape(platform::QUERYESCSUPPORT, asked, {}) > 0;
}

template <typename Reply>
bool AskEscape(int32_t escape, Reply& reply) {
    if (!QueryEscape(escape)) return false;
    return platform::DeviceEscape(escape, {}, std::span<uint8_t>(reinterpret_cast<uint8_t*>(&reply), sizeof reply)) > 0;
}

// Width, height and pitch of the memory rows for a native orientation.
void SetShapeFromPitches(DriverInfo& info, int32_t cx, int32_t cy, int32_t xPitch, int32_t yPitch) {
    if (info.orientation == 0 || info.orientation == 2) {
        info.width = cx;
        info.height = cy;
        info.pitch = std::abs(yPitch);
    } else {
        info.width = cy;
        info.height = cx;
        info.pitch = std::abs(xPitch);
    }
}

PixelBuffer* BufferOver(const DriverInfo& info, uint8_t* bits) {
    return new (std::nothrow) PixelBuffer(info.width, info.height, info.pitch, bits, false);
}

bool GapiSwapsThroughDram(GapiLibrary& gapi) { return gapi.isDisplayDramBuffer && gapi.isDisplayDramBuffer() != 0; }

}  // namespace

bool DetectGdi(DriverInfo& detected) {
    platform::ScreenCaps caps{};
    if (!platform::GetScreenCaps(caps)) return false;
    detected.width = caps.width;
    detected.height = caps.height;
    detected.bitsPerPixel = caps.bitsPerPixel;
    return true;
}

// Every gx.dll entry the driver will call must be there, not only the
// library: a library that lacks one is no GAPI.
bool DetectGapi(DriverInfo& detected, uintptr_t window) {
    const int32_t model = DetectDeviceModel();
    if (model == kModelNoFrameBuffer) return false;
    GapiLibrary& gapi = Gapi();
    if (!gapi.HasDriverEntries()) return false;
    if (gapi.openDisplay(window, 1) == 0) return false;
    const platform::GXDisplayProperties properties = gapi.getDisplayProperties();
    detected.bitsPerPixel = properties.cBPP;
    detected.orientation = OrientationFromPitches(properties.cbxPitch, properties.cbyPitch);
    SetShapeFromPitches(detected, int32_t(properties.cxWidth), int32_t(properties.cyHeight), properties.cbxPitch,
                        properties.cbyPitch);
    detected.swapMode = GapiSwapsThroughDram(gapi) ? kSwapModeOwn : kSwapModeDirect;
    if (IsDirectModel(model)) detected.swapMode = kSwapModeDirect;
    if (detected.frameBuffer == nullptr) {
        auto* start = static_cast<uint8_t*>(gapi.beginDraw());
        if (start != nullptr)
            detected.frameBuffer =
                start + TopLeftOffset(detected.orientation, properties.cBPP, int32_t(properties.cxWidth),
                                      int32_t(properties.cyHeight), properties.cbxPitch, properties.cbyPitch);
        gapi.endDraw();
    }
    gapi.closeDisplay();
    platform::ScreenCaps caps{};
    if (detected.frameBuffer == nullptr || !platform::GetScreenCaps(caps)) return false;
    return int64_t(detected.width) * detected.height == int64_t(caps.width) * caps.height;
}

bool DetectDirect(DriverInfo& detected) {
    if (DetectDeviceModel() == kModelNoFrameBuffer) return false;
    platform::GxInfoReply reply{};
    reply.version = 100;
    if (!AskEscape(platform::GETGXINFO, reply)) return false;
    if (reply.format & 8) std::swap(reply.width, reply.height);
    if (reply.address == nullptr) return false;
    detected.width = reply.width;
    detected.height = reply.height;
    detected.pitch = reply.stride;
    detected.orientation = (reply.format >> 3) & 1;
    detected.frameBuffer = reply.address;
    return true;
}

bool DetectVga(DriverInfo& detected) {
    platform::RawFrameBufferInfo reply{};
    if (!AskEscape(platform::GETRAWFRAMEBUFFER, reply)) return false;
    if (reply.xPixels == 0 || reply.yPixels == 0 || (reply.format & 3) != 1) return false;
    platform::ScreenCaps caps{};
    if (!platform::GetScreenCaps(caps)) return false;
    if (int64_t(reply.xPixels) * reply.yPixels != int64_t(caps.width) * caps.height) return false;
    detected.bitsPerPixel = reply.bitsPerPixel;
    detected.orientation = OrientationFromPitches(reply.xStride, reply.yStride);
    SetShapeFromPitches(detected, reply.xPixels, reply.yPixels, reply.xStride, reply.yStride);
    detected.swapMode = kSwapModeDirect;
    detected.frameBuffer = reply.framePointer + TopLeftOffset(detected.orientation, reply.bitsPerPixel, reply.xPixels,
                                                              reply.yPixels, reply.xStride, reply.yStride);
    if (DetectDeviceModel() == 8) detected.orientation = 3;
    return true;
}

// GAPI

GapiDriver::~GapiDriver() {
    if (open) Gapi().closeDisplay();
    delete buffer;
}

void GapiDriver::Resume() {
    if (open) Gapi().resume();
}

void GapiDriver::Suspend() {
    if (open) Gapi().suspend();
}

bool GapiDriver::Initialize(uintptr_t window, const DisplayParams&, const DriverInfo& detected) {
    const int32_t model = DetectDeviceModel();
    if (model == kModelNoFrameBuffer || open || !DisplayWindowExists(window)) return false;
    GapiLibrary& gapi = Gapi();
    if (!gapi.HasDriverEntries()) return false;
    if (gapi.openDisplay(window, 1) == 0) return false;
    open = true;
    info = detected;
    info.swapMode = GapiSwapsThroughDram(gapi) ? kSwapModeOwn : kSwapModeDirect;
    direct = IsDirectModel(model);
    if (direct) info.swapMode = kSwapModeDirect;
    const platform::GXDisplayProperties properties = gapi.getDisplayProperties();
    offset = TopLeftOffset(OrientationFromPitches(properties.cbxPitch, properties.cbyPitch), properties.cBPP,
                           int32_t(properties.cxWidth), int32_t(properties.cyHeight), properties.cbxPitch,
                           properties.cbyPitch);
    buffer = BufferOver(info, direct ? detected.frameBuffer : nullptr);
    return buffer != nullptr;
}

PixelBuffer* GapiDriver::Lock() {
    if (direct) return buffer;
    auto* start = static_cast<uint8_t*>(Gapi().beginDraw());
    if (start == nullptr) return nullptr;
    buffer->bits = start + offset;
    return buffer;
}

void GapiDriver::Unlock(uint32_t) {
    if (!direct) Gapi().endDraw();
}

// The viewport is the band of picture rows that the rectangle covers.
void GapiDriver::AdjustDirtyRect(const Rect& rect) {
    if (info.swapMode == kSwapModeDirect) return;
    uint32_t first = 0, count = 0;
    switch (info.orientation) {
        case 1: first = uint32_t(info.width - rect.right), count = uint32_t(rect.right - rect.left); break;
        case 2: first = uint32_t(info.height - rect.bottom), count = uint32_t(rect.bottom - rect.top); break;
        case 3: first = uint32_t(rect.left), count = uint32_t(rect.right - rect.left); break;
        default: first = uint32_t(rect.top), count = uint32_t(rect.bottom - rect.top); break;
    }
    Gapi().setViewport(first, count, 0, 0);
}

// Frame buffer of GETGXINFO

DirectDriver::DirectDriver() {
    const int32_t model = DetectDeviceModel();
    if (IsDirectModel(model)) return;
    GxDmaLibrary& library = GxDma();
    if (library.CanCopyToVideo()) dma = &library;
}

DirectDriver::~DirectDriver() { delete buffer; }

bool DirectDriver::Initialize(uintptr_t window, const DisplayParams&, const DriverInfo& detected) {
    if (buffer != nullptr || DetectDeviceModel() == kModelNoFrameBuffer || !DisplayWindowExists(window)) return false;
    if (detected.frameBuffer == nullptr) return false;
    info = detected;
    info.swapMode = dma ? kSwapModeOwn : kSwapModeDirect;
    buffer = BufferOver(info, detected.frameBuffer);
    return buffer != nullptr;
}

// A DMA engine that stays busy longer than a few frames is taken as broken:
// the frame buffer then cannot be locked.
PixelBuffer* DirectDriver::Lock() {
    if (dma == nullptr) return buffer;
    const int64_t frequency = platform::QueryPerformanceFrequency();
    const int64_t start = platform::QueryPerformanceCounter();
    while (dma->IsDMAReady() == 0) {
        if (platform::QueryPerformanceCounter() - start > frequency / 1000 * kDmaWaitLimitMs) return nullptr;
        platform::Sleep(0);
    }
    return buffer;
}

void DirectDriver::Unlock(uint32_t) {
    if (dma != nullptr) dma->DmaDRAMtoVRAM(dmaRect.x, dmaRect.y, dmaRect.width, dmaRect.height);
}

void DirectDriver::AdjustDirtyRect(const Rect& rect) {
    if (info.swapMode == kSwapModeDirect) return;
    const int32_t x = rect.left & ~3;
    dmaRect = DmaRect{x, rect.top, (rect.right - x + 3) & ~3, rect.bottom - rect.top};
}

// Raw frame buffer

VgaDriver::~VgaDriver() { delete buffer; }

bool VgaDriver::Initialize(uintptr_t, const DisplayParams&, const DriverInfo& detected) {
    if (buffer != nullptr) return false;
    info = detected;
    buffer = BufferOver(info, detected.frameBuffer);
    return buffer != nullptr;
}

}  // namespace qob
