// platform/display_device.cpp
// The simulated display device: its memories, the entries of its libraries
// (each logging its call), its escapes, and the panel view.
#include "platform/display_device.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <optional>
#include <utility>

#include "platform/gdi.h"
#include "platform/memory.h"

namespace qob::platform {
namespace {

constexpr size_t kGuardBytes = 64;
constexpr uint8_t kGuardByte = 0xEE;
constexpr uint16_t kUnwrittenPixel = 0xA5C3;
constexpr uint16_t kOtherAliasPixel = 0x5A3C;  // what an alias that is other memory holds
constexpr uint32_t kPlacementSpan = 0x80000;
constexpr size_t kMaxRegisterReadings = 65536;
constexpr uint32_t kPaletteBytes = 32;
constexpr uint32_t kChipSurfaceId = 3;
constexpr uint32_t kChipSurfaceHandle = 0x00A80000;
constexpr uint32_t kChipOverlayId = 1;

// One block of device memory with guard bytes on both sides.
class DeviceMemory {
public:
    DeviceMemory() = default;
    DeviceMemory(const DeviceMemory&) = delete;
    DeviceMemory& operator=(const DeviceMemory&) = delete;
    ~DeviceMemory() { Release(); }

    // The first byte lies at placement modulo kPlacementSpan (a multiple of
    // 16 from kGuardBytes on; others are rounded up into that range).
    void Make(size_t size, uint32_t placement = kGuardBytes, uint16_t fill = kUnwrittenPixel) {
        Release();
        placement = std::clamp<uint32_t>((placement + 15) & ~15u, kGuardBytes, kPlacementSpan - 16);
        raw = static_cast<uint8_t*>(AllocateBlock(size + 2 * kGuardBytes + kPlacementSpan));
        if (raw == nullptr) return;
        const uintptr_t low = reinterpret_cast<uintptr_t>(raw) + kGuardBytes;
        uintptr_t start = (low & ~uintptr_t(kPlacementSpan - 1)) + placement;
        if (start < low) start += kPlacementSpan;
        block = reinterpret_cast<uint8_t*>(start) - kGuardBytes;
        bytes = size;
        std::memset(block, kGuardByte, size + 2 * kGuardBytes);
        for (size_t i = 0; i + 1 < size; i += 2) std::memcpy(block + kGuardBytes + i, &fill, 2);
    }
    void Release() {
        if (raw != nullptr) FreeBlock(raw);
        raw = nullptr;
        block = nullptr;
        bytes = 0;
    }
    [[nodiscard]] size_t Bytes() const { return bytes; }
    [[nodiscard]] uint8_t* Start() const { return block ? block + kGuardBytes : nullptr; }
    [[nodiscard]] bool GuardsIntact() const {
        if (block == nullptr) return true;
        for (size_t i = 0; i < kGuardBytes; ++i)
            if (block[i] != kGuardByte || block[kGuardBytes + bytes + i] != kGuardByte) return false;
        return true;
    }

private:
    uint8_t* raw = nullptr;    // as allocated
    uint8_t* block = nullptr;  // the first guard byte
    size_t bytes = 0;
};

struct ViewportRows {
    int64_t first;
    int64_t count;
};

struct DeviceState {
    DisplayDeviceProfile profile = DesktopDisplayProfile();
    DeviceMemory video;
    DeviceMemory drawing;  // what GXBeginDraw or GETGXINFO hands out when the device copies from it
    bool hasDrawing = false;
    std::vector<std::string> calls;
    int32_t allKeys = 0;
    int32_t kernelMode = 0;
    bool gapiOpen = false;
    int32_t beginDraws = 0;
    std::optional<ViewportRows> viewport;  // none: the whole picture
    int32_t dmaReadings = 0;

    // The physical map's own memories.
    std::vector<uint32_t> registers;  // the LCD controller's register file
    uint16_t palette[kPaletteBytes / 2] = {};
    DeviceMemory otherAlias;          // an alias address that is not the same memory
    uint64_t scanReadings = 0;
    std::vector<RegisterReading> registerLog;
    RegisterReadHook registerHook = nullptr;
    void* registerHookContext = nullptr;

    // The graphics chip.
    ChipState chip{};
    int32_t chipWaitReadings = 0;
};

DeviceState& State() {
    static DeviceState state;
    return state;
}

bool HasLibrary(const DisplayDeviceProfile& profile, std::string_view name);

__attribute__((format(printf, 1, 2))) void Log(const char* format, ...) {
    char line[160];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(line, sizeof line, format, arguments);
    va_end(arguments);
    State().calls.emplace_back(line);
}

MemoryShape Shape() {
    const DeviceState& state = State();
    MemoryShape shape = ShapeOfPanel(state.profile.panel);
    shape.rowPitch += state.profile.rowPadding;
    return shape;
}

size_t MemoryBytes() {
    const MemoryShape shape = Shape();
    return size_t(shape.rowPitch) * size_t(std::max(shape.rowCount, 0));
}

// The byte offset of picture pixel (x, y) from the first memory row.
int64_t PixelOffset(int64_t x, int64_t y) {
    const DeviceState& state = State();
    PanelLayout layout = state.profile.panel;
    const int32_t padding = state.profile.rowPadding;
    if (layout.xPitch == 2 || layout.xPitch == -2)
        layout.yPitch += layout.yPitch < 0 ? -padding : padding;
    else
        layout.xPitch += layout.xPitch < 0 ? -padding : padding;
    int64_t origin = 0;
    if (layout.xPitch < 0) origin += int64_t(layout.width - 1) * -layout.xPitch;
    if (layout.yPitch < 0) origin += int64_t(layout.height - 1) * -layout.yPitch;
    return origin + x * layout.xPitch + y * layout.yPitch;
}

uint8_t* DrawingStart() {
    DeviceState& state = State();
    return state.hasDrawing ? state.drawing.Start() : state.video.Start();
}

void CopyPicturePixel(uint8_t* to, const uint8_t* from, int64_t x, int64_t y) {
    const int64_t offset = PixelOffset(x, y);
    std::memcpy(to + offset, from + offset, 2);
}

// gx.dll

int32_t GxOpenDisplay(uintptr_t window, uint32_t flags) {
    DeviceState& state = State();
    Log("GXOpenDisplay(%#llx, %u)", static_cast<unsigned long long>(window), flags);
    if (state.profile.gapiOpenFails || state.gapiOpen) return 0;
    state.gapiOpen = true;
    state.viewport.reset();
    return 1;
}

int32_t GxCloseDisplay() {
    Log("GXCloseDisplay()");
    State().gapiOpen = false;
    return 1;
}

void* GxBeginDraw() {
    DeviceState& state = State();
    Log("GXBeginDraw()");
    if (state.profile.gapiBeginDrawFails || DrawingStart() == nullptr) return nullptr;
    ++state.beginDraws;
    return DrawingStart() + PixelOffset(0, 0);
}

// With a drawing buffer, the viewport's picture rows reach video memory.
int32_t GxEndDraw() {
    DeviceState& state = State();
    Log("GXEndDraw()");
    if (state.beginDraws > 0) --state.beginDraws;
    if (!state.hasDrawing || state.video.Start() == nullptr) return 1;
    const PanelLayout& panel = state.profile.panel;
    const ViewportRows rows = state.viewport.value_or(ViewportRows{0, panel.height});
    const int64_t first = std::max<int64_t>(rows.first, 0);
    const int64_t end = std::min<int64_t>(rows.first + rows.count, panel.height);
    for (int64_t y = first; y < end; ++y)
        for (int64_t x = 0; x < panel.width; ++x) CopyPicturePixel(state.video.Start(), state.drawing.Start(), x, y);
    return 1;
}

int32_t GxOpenInput() {
    Log("GXOpenInput()");
    return 1;
}

int32_t GxCloseInput() {
    Log("GXCloseInput()");
    return 1;
}

GXDisplayProperties GxGetDisplayProperties() {
    const DeviceState& state = State();
    Log("GXGetDisplayProperties()");
    const PanelLayout& panel = state.profile.panel;
    const MemoryShape shape = Shape();
    const bool rowsAreColumns = panel.xPitch != 2 && panel.xPitch != -2;
    const int32_t rowStep = rowsAreColumns ? (panel.xPitch < 0 ? -shape.rowPitch : shape.rowPitch)
                                           : (panel.yPitch < 0 ? -shape.rowPitch : shape.rowPitch);
    GXDisplayProperties properties{};
    properties.cxWidth = uint32_t(panel.width);
    properties.cyHeight = uint32_t(panel.height);
    properties.cbxPitch = rowsAreColumns ? rowStep : panel.xPitch;
    properties.cbyPitch = rowsAreColumns ? panel.yPitch : rowStep;
    properties.cBPP = state.profile.bitsPerPixel;
    properties.ffFormat = 0x80;  // 565
    return properties;
}

GXKeyList GxGetDefaultKeys(int32_t kind) {
    Log("GXGetDefaultKeys(%d)", kind);
    return kind == 2 ? State().profile.gapiPortraitKeys : State().profile.gapiLandscapeKeys;
}

int32_t GxSuspend() {
    Log("GXSuspend()");
    return 1;
}

int32_t GxResume() {
    Log("GXResume()");
    return 1;
}

int32_t GxSetViewport(uint32_t top, uint32_t height, uint32_t reserved1, uint32_t reserved2) {
    Log("GXSetViewport(%u, %u, %u, %u)", top, height, reserved1, reserved2);
    State().viewport = ViewportRows{int64_t(int32_t(top)), int64_t(int32_t(height))};
    return 1;
}

int32_t GxIsDisplayDRAMBuffer() {
    Log("GXIsDisplayDRAMBuffer()");
    return State().profile.gapiDramBuffer ? 1 : 0;
}

// gxdma.dll: rectangles of memory rows, clipped to the memory.

void CopyMemoryRect(uint8_t* to, const uint8_t* from, int32_t x, int32_t y, int32_t width, int32_t height) {
    if (to == nullptr || from == nullptr) return;
    const MemoryShape shape = Shape();
    const int64_t left = std::max<int64_t>(x, 0), top = std::max<int64_t>(y, 0);
    const int64_t right = std::min<int64_t>(int64_t(x) + width, shape.rowPixels);
    const int64_t bottom = std::min<int64_t>(int64_t(y) + height, shape.rowCount);
    if (right <= left || bottom <= top) return;
    for (int64_t row = top; row < bottom; ++row) {
        const int64_t offset = row * shape.rowPitch + 2 * left;
        std::memcpy(to + offset, from + offset, size_t(2 * (right - left)));
    }
}

int32_t DmaDramToVram(int32_t x, int32_t y, int32_t width, int32_t height) {
    Log("DmaDRAMtoVRAM(%d, %d, %d, %d)", x, y, width, height);
    CopyMemoryRect(State().video.Start(), State().drawing.Start(), x, y, width, height);
    return 1;
}

int32_t DmaVramToDram(int32_t x, int32_t y, int32_t width, int32_t height) {
    Log("DmaVRAMtoDRAM(%d, %d, %d, %d)", x, y, width, height);
    CopyMemoryRect(State().drawing.Start(), State().video.Start(), x, y, width, height);
    return 1;
}

int32_t IsDmaReady() {
    DeviceState& state = State();
    const int32_t busy = state.profile.dmaBusyReadings;
    if (busy < 0) return 0;
    if (state.dmaReadings < busy) {
        ++state.dmaReadings;
        return 0;
    }
    state.dmaReadings = 0;
    return 1;
}

// coredll.dll

int32_t AllKeysEntryPoint(int32_t all) {
    Log("AllKeys(%d)", all);
    return std::exchange(State().allKeys, all);
}

int32_t SetKModeEntryPoint(int32_t mode) {
    Log("SetKMode(%d)", mode);
    return std::exchange(State().kernelMode, mode);
}

uint32_t OrientationToDmdo(int32_t orientation) {
    constexpr uint32_t kValues[4] = {DMDO_0, DMDO_270, DMDO_180, DMDO_90};
    return kValues[orientation & 3];
}

int32_t DmdoToOrientation(uint32_t dmdo) {
    for (int32_t orientation = 0; orientation < 4; ++orientation)
        if (OrientationToDmdo(orientation) == dmdo) return orientation;
    return -1;
}

int32_t ChangeDisplaySettingsExEntryPoint(const char16_t*, DisplayModeRecord* mode, uintptr_t, uint32_t flags, void*) {
    DeviceState& state = State();
    if (mode == nullptr || (mode->fields & DM_DISPLAYORIENTATION) == 0) {
        Log("ChangeDisplaySettingsEx(no orientation)");
        return DISP_CHANGE_FAILED;
    }
    if (flags & CDS_TEST) {
        Log("ChangeDisplaySettingsEx(query)");
        mode->displayOrientation = OrientationToDmdo(state.profile.systemOrientation);
        return DISP_CHANGE_SUCCESSFUL;
    }
    Log("ChangeDisplaySettingsEx(set %u)", mode->displayOrientation);
    const int32_t orientation = DmdoToOrientation(mode->displayOrientation);
    if (orientation < 0) return DISP_CHANGE_FAILED;
    state.profile.systemOrientation = orientation;
    return DISP_CHANGE_SUCCESSFUL;
}

// aygshell.dll

int32_t ShFullScreen(uintptr_t window, uint32_t flags) {
    Log("SHFullScreen(%#llx, %#x)", static_cast<unsigned long long>(window), flags);
    return 1;
}

// CoreLinkLib.dll: one surface in the chip's memory, which the panel shows
// through one overlay; the surface is the panel's memory.

int32_t ChipProcessAttach() {
    Log("AtiCore_ProcessAttach()");
    ++State().chip.attached;
    return 1;
}

int32_t ChipProcessDetach() {
    Log("AtiCore_ProcessDetach()");
    ChipState& chip = State().chip;
    if (chip.attached > 0) --chip.attached;
    return 1;
}

int32_t ChipAllocateSurface(uint16_t* surfaceId, uint32_t* surfaceHandle, uint32_t size, uint32_t flags) {
    DeviceState& state = State();
    Log("AtiCore_AllocateSurface(%u, %u)", size, flags);
    if (surfaceId == nullptr || surfaceHandle == nullptr) return 0;
    if (state.profile.chipSurfaceFails || state.chip.surface || state.chip.attached == 0 ||
        uint64_t(size) * 2 > state.video.Bytes())
        return 0;
    state.chip.surface = true;
    *surfaceId = kChipSurfaceId;
    *surfaceHandle = kChipSurfaceHandle;
    return 1;
}

int32_t ChipDestroySurface(uint16_t surfaceId) {
    Log("AtiCore_DestroySurface(%u)", surfaceId);
    ChipState& chip = State().chip;
    if (surfaceId != kChipSurfaceId || !chip.surface) return 0;
    chip.surface = false;
    return 1;
}

int32_t ChipAllocOverlay(uint16_t* overlayId) {
    DeviceState& state = State();
    Log("AtiCore_AllocOverlay()");
    if (overlayId == nullptr || state.profile.chipOverlayFails || state.chip.overlay || state.chip.attached == 0)
        return 0;
    state.chip.overlay = true;
    *overlayId = kChipOverlayId;
    return 1;
}

int32_t ChipReleaseOverlay(uint16_t overlayId) {
    Log("AtiCore_ReleaseOverlay(%u)", overlayId);
    ChipState& chip = State().chip;
    if (overlayId != kChipOverlayId || !chip.overlay) return 0;
    chip.overlay = false;
    chip.overlayOn = false;
    return 1;
}

int32_t ChipSetupOverlay(uint16_t overlayId, const ChipOverlayRecord* record) {
    if (record == nullptr) {
        Log("AtiCore_SetupOverlay(%u, null)", overlayId);
        return 0;
    }
    Log("AtiCore_SetupOverlay(%u, {%#x, %u, %#x, %#x, %u, %u})", overlayId, record->surfaceHandle, record->reserved1,
        record->width, record->height, record->reserved2, record->format);
    return overlayId == kChipOverlayId && State().chip.overlay ? 1 : 0;
}

int32_t ChipSetOverlayPos(uint16_t overlayId, int32_t x, int32_t y) {
    Log("AtiCore_SetOverlayPos(%u, %d, %d)", overlayId, x, y);
    return overlayId == kChipOverlayId && State().chip.overlay ? 1 : 0;
}

int32_t ChipSetOverlayOnOff(uint16_t overlayId, int32_t on) {
    Log("AtiCore_SetOverlayOnOff(%u, %d)", overlayId, on);
    ChipState& chip = State().chip;
    if (overlayId != kChipOverlayId || !chip.overlay) return 0;
    chip.overlayOn = on != 0;
    return 1;
}

int32_t ChipWaitComplete(int32_t milliseconds) {
    DeviceState& state = State();
    Log("AtiCore_WaitComplete(%d)", milliseconds);
    const int32_t failures = state.profile.chipWaitFailures;
    if (failures < 0) return 0;
    if (state.chipWaitReadings < failures) {
        ++state.chipWaitReadings;
        return 0;
    }
    state.chipWaitReadings = 0;
    return 1;
}

int32_t ChipSetupMemoryTransfer(uint32_t surfaceHandle, uint8_t** address) {
    DeviceState& state = State();
    Log("AtiCore_SetupMemoryTransfer(%#x)", surfaceHandle);
    if (address == nullptr) return 0;
    *address = nullptr;
    if (state.profile.chipTransferFails || surfaceHandle != kChipSurfaceHandle || !state.chip.surface) return 0;
    state.chip.transferOpen = true;
    *address = state.video.Start();
    return 1;
}

int32_t ChipTerminateMemoryTransfer() {
    Log("AtiCore_TerminateMemoryTransfer()");
    State().chip.transferOpen = false;
    return 1;
}

struct LibraryEntry {
    std::string_view name;
    void* address;
};

template <typename F>
void* Address(F function) {
    return reinterpret_cast<void*>(function);
}

struct DeviceLibraryTable {
    std::string_view name;
    std::vector<LibraryEntry> entries;
};

const std::vector<DeviceLibraryTable>& LibraryTables() {
    static const std::vector<DeviceLibraryTable> tables = {
        {kGapiLibraryName,
         {
             {"?GXOpenDisplay@@YAHPAUHWND__@@K@Z", Address(&GxOpenDisplay)},
             {"?GXCloseDisplay@@YAHXZ", Address(&GxCloseDisplay)},
             {"?GXBeginDraw@@YAPAXXZ", Address(&GxBeginDraw)},
             {"?GXEndDraw@@YAHXZ", Address(&GxEndDraw)},
             {"?GXOpenInput@@YAHXZ", Address(&GxOpenInput)},
             {"?GXCloseInput@@YAHXZ", Address(&GxCloseInput)},
             {"?GXGetDisplayProperties@@YA?AUGXDisplayProperties@@XZ", Address(&GxGetDisplayProperties)},
             {"?GXGetDefaultKeys@@YA?AUGXKeyList@@H@Z", Address(&GxGetDefaultKeys)},
             {"?GXSuspend@@YAHXZ", Address(&GxSuspend)},
             {"?GXResume@@YAHXZ", Address(&GxResume)},
             {"?GXSetViewport@@YAHKKKK@Z", Address(&GxSetViewport)},
             {"?GXIsDisplayDRAMBuffer@@YAHXZ", Address(&GxIsDisplayDRAMBuffer)},
         }},
        {kGxDmaLibraryName,
         {
             {"DmaVRAMtoDRAM", Address(&DmaVramToDram)},
             {"DmaDRAMtoVRAM", Address(&DmaDramToVram)},
             {"IsDMAReady", Address(&IsDmaReady)},
         }},
        {kCoreLibraryName,
         {
             {"AllKeys", Address(&AllKeysEntryPoint)},
             {"SetKMode", Address(&SetKModeEntryPoint)},
             {"ChangeDisplaySettingsEx", Address(&ChangeDisplaySettingsExEntryPoint)},
         }},
        {kAygShellLibraryName, {{"SHFullScreen", Address(&ShFullScreen)}}},
        {kChipLibraryName,
         {
             {"AtiCore_ProcessAttach", Address(&ChipProcessAttach)},
             {"AtiCore_ProcessDetach", Address(&ChipProcessDetach)},
             {"AtiCore_AllocOverlay", Address(&ChipAllocOverlay)},
             {"AtiCore_SetOverlayOnOff", Address(&ChipSetOverlayOnOff)},
             {"AtiCore_SetupOverlay", Address(&ChipSetupOverlay)},
             {"AtiCore_SetOverlayPos", Address(&ChipSetOverlayPos)},
             {"AtiCore_ReleaseOverlay", Address(&ChipReleaseOverlay)},
             {"AtiCore_AllocateSurface", Address(&ChipAllocateSurface)},
             {"AtiCore_DestroySurface", Address(&ChipDestroySurface)},
             {"AtiCore_SetupMemoryTransfer", Address(&ChipSetupMemoryTransfer)},
             {"AtiCore_TerminateMemoryTransfer", Address(&ChipTerminateMemoryTransfer)},
             {"AtiCore_WaitComplete", Address(&ChipWaitComplete)},
         }},
    };
    return tables;
}

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

bool HasLibrary(const DisplayDeviceProfile& profile, std::string_view name) {
    return std::any_of(profile.libraries.begin(), profile.libraries.end(),
                       [&](const std::string& present) { return SameName(present, name); });
}

bool GxInfoLayoutSupported(const PanelLayout& panel) {
    return (panel.xPitch == 2 && panel.yPitch > 0) || (panel.xPitch > 0 && panel.yPitch == -2);
}

}  // namespace

MemoryShape ShapeOfPanel(const PanelLayout& layout) {
    if (layout.xPitch == 2 || layout.xPitch == -2)
        return MemoryShape{layout.width, layout.height, layout.yPitch < 0 ? -layout.yPitch : layout.yPitch};
    return MemoryShape{layout.height, layout.width, layout.xPitch < 0 ? -layout.xPitch : layout.xPitch};
}

DisplayDeviceProfile DesktopDisplayProfile() {
    DisplayDeviceProfile profile;
    profile.name = "desktop";
    profile.oemInfo = "QOB Linux desktop";
    return profile;
}

void SelectDisplayDevice(const DisplayDeviceProfile& profile) {
    DeviceState& state = State();
    state.profile = profile;
    SetGdiScreenSize(SIZE{profile.screenWidth, profile.screenHeight});
    state.calls.clear();
    state.allKeys = 0;
    state.kernelMode = 0;
    state.gapiOpen = false;
    state.beginDraws = 0;
    state.viewport.reset();
    state.dmaReadings = 0;
    state.video.Make(MemoryBytes(), profile.videoPlacement);
    state.hasDrawing = profile.gapiDramBuffer || HasLibrary(profile, kGxDmaLibraryName);
    if (state.hasDrawing)
        state.drawing.Make(MemoryBytes());
    else
        state.drawing.Release();
    const uint32_t registerBytes = profile.lcd.kind == 1   ? kStrongArmRegisterBytes
                                   : profile.lcd.kind == 2 ? kXScaleRegisterBytes
                                                           : 0;
    state.registers.assign(registerBytes / 4, 0);
    std::copy_n(profile.lcd.registers.begin(), std::min(profile.lcd.registers.size(), state.registers.size()),
                state.registers.begin());
    std::fill(std::begin(state.palette), std::end(state.palette), uint16_t(0));
    state.palette[0] = profile.lcd.firstPaletteEntry;
    if (profile.videoAlias == AliasKind::Other && (profile.videoAddress & kAliasBit) != 0)
        state.otherAlias.Make(MemoryBytes(), kGuardBytes, kOtherAliasPixel);
    else
        state.otherAlias.Release();
    state.scanReadings = 0;
    state.registerLog.clear();
    state.registerHook = nullptr;
    state.registerHookContext = nullptr;
    state.chip = ChipState{};
    state.chipWaitReadings = 0;
}

const DisplayDeviceProfile& ActiveDisplayDevice() { return State().profile; }

PanelPicture ReadPanel() {
    const DeviceState& state = State();
    PanelPicture picture;
    const uint8_t* video = state.video.Start();
    if (video == nullptr) return picture;
    picture.width = state.profile.panel.width;
    picture.height = state.profile.panel.height;
    picture.pixels.resize(size_t(picture.width) * size_t(picture.height));
    for (int32_t y = 0; y < picture.height; ++y)
        for (int32_t x = 0; x < picture.width; ++x)
            std::memcpy(&picture.pixels[size_t(y) * size_t(picture.width) + size_t(x)], video + PixelOffset(x, y), 2);
    return picture;
}

void FillPanel(uint16_t colour) {
    DeviceState& state = State();
    for (uint8_t* memory : {state.video.Start(), state.hasDrawing ? state.drawing.Start() : nullptr}) {
        if (memory == nullptr) continue;
        for (int32_t y = 0; y < state.profile.panel.height; ++y)
            for (int32_t x = 0; x < state.profile.panel.width; ++x) std::memcpy(memory + PixelOffset(x, y), &colour, 2);
    }
}

uint8_t* VideoMemory() {
    if (State().video.Start() == nullptr) SelectDisplayDevice(State().profile);
    return State().video.Start();
}

MemoryShape VideoMemoryShape() { return Shape(); }

bool DisplayDeviceGuardsIntact() { return State().video.GuardsIntact() && State().drawing.GuardsIntact(); }

const std::vector<std::string>& DisplayDeviceCalls() { return State().calls; }

void ClearDisplayDeviceCalls() { State().calls.clear(); }

uintptr_t LoadDeviceLibrary(std::string_view name) {
    const DeviceState& state = State();
    if (state.video.Start() == nullptr) SelectDisplayDevice(state.profile);
    const auto& tables = LibraryTables();
    for (size_t i = 0; i < tables.size(); ++i)
        if (SameName(tables[i].name, name) && HasLibrary(state.profile, tables[i].name)) return i + 1;
    return 0;
}

void* GetDeviceProcAddress(uintptr_t library, std::string_view entry) {
    const auto& tables = LibraryTables();
    if (library == 0 || library > tables.size()) return nullptr;
    const auto& missing = State().profile.missingEntries;
    if (std::find(missing.begin(), missing.end(), entry) != missing.end()) return nullptr;
    for (const LibraryEntry& candidate : tables[library - 1].entries)
        if (candidate.name == entry) return candidate.address;
    return nullptr;
}

void FreeDeviceLibrary(uintptr_t) {}

int32_t DeviceEscape(int32_t escape, std::span<const uint8_t> input, std::span<uint8_t> output) {
    DeviceState& state = State();
    if (state.video.Start() == nullptr) SelectDisplayDevice(state.profile);
    const DisplayDeviceProfile& profile = state.profile;
    const bool gxInfo = profile.gxInfoEscape && GxInfoLayoutSupported(profile.panel);
    if (escape == QUERYESCSUPPORT) {
        int32_t asked = 0;
        if (input.size() < sizeof asked) return 0;
        std::memcpy(&asked, input.data(), sizeof asked);
        Log("ExtEscape(QUERYESCSUPPORT, %#x)", asked);
        return (asked == GETGXINFO && gxInfo) || (asked == GETRAWFRAMEBUFFER && profile.rawFrameBufferEscape) ? 1 : 0;
    }
    if (escape == GETGXINFO) {
        Log("ExtEscape(GETGXINFO)");
        GxInfoReply reply{};
        if (!gxInfo || output.size() < sizeof reply) return 0;
        std::memcpy(&reply, output.data(), sizeof reply);
        if (reply.version != 100) return 0;
        const MemoryShape shape = Shape();
        reply.width = profile.panel.width;
        reply.height = profile.panel.height;
        reply.stride = shape.rowPitch;
        reply.format = profile.gxInfoFormat | (profile.panel.xPitch == 2 ? 0u : 8u);
        reply.address = state.hasDrawing ? state.drawing.Start() : state.video.Start();
        std::copy(std::begin(profile.gxInfoButtons), std::end(profile.gxInfoButtons), reply.buttons);
        std::memcpy(output.data(), &reply, sizeof reply);
        return 1;
    }
    if (escape == GETRAWFRAMEBUFFER) {
        Log("ExtEscape(GETRAWFRAMEBUFFER)");
        RawFrameBufferInfo reply{};
        if (!profile.rawFrameBufferEscape || output.size() < sizeof reply) return 0;
        PanelLayout panel = profile.panel;
        if (panel.xPitch == 2 || panel.xPitch == -2)
            panel.yPitch += panel.yPitch < 0 ? -profile.rowPadding : profile.rowPadding;
        else
            panel.xPitch += panel.xPitch < 0 ? -profile.rowPadding : profile.rowPadding;
        reply.format = profile.rawFormat;
        reply.bitsPerPixel = profile.rawBitsPerPixel;
        reply.framePointer = state.video.Start() + PixelOffset(0, 0);
        reply.xStride = panel.xPitch;
        reply.yStride = panel.yPitch;
        reply.xPixels = panel.width;
        reply.yPixels = panel.height;
        std::memcpy(output.data(), &reply, sizeof reply);
        return 1;
    }
    Log("ExtEscape(%#x)", escape);
    return 0;
}

bool GetScreenCaps(ScreenCaps& caps) {
    const DisplayDeviceProfile& profile = State().profile;
    if (!profile.screenDc) return false;
    caps = ScreenCaps{profile.screenWidth, profile.screenHeight, profile.bitsPerPixel};
    return true;
}

bool GetOemInfo(std::span<char16_t> text) {
    const DisplayDeviceProfile& profile = State().profile;
    if (!profile.oemInfoAvailable || text.empty()) return false;
    const size_t length = std::min(profile.oemInfo.size(), text.size() - 1);
    for (size_t i = 0; i < length; ++i) text[i] = static_cast<unsigned char>(profile.oemInfo[i]);
    text[length] = 0;
    return true;
}

// The physical map.

namespace {

struct PhysicalRegion {
    uint32_t address;
    uint64_t size;
    uint8_t* host;
};

uint32_t RegisterFileAddress(int32_t kind) {
    return kind == 1 ? kStrongArmRegisterAddress : kind == 2 ? kXScaleRegisterAddress : 0;
}

std::vector<PhysicalRegion> PhysicalRegions() {
    DeviceState& state = State();
    const DisplayDeviceProfile& profile = state.profile;
    std::vector<PhysicalRegion> regions;
    if (!state.registers.empty())
        regions.push_back({RegisterFileAddress(profile.lcd.kind), state.registers.size() * 4,
                           reinterpret_cast<uint8_t*>(state.registers.data())});
    if (profile.lcd.kind == 1 && profile.lcd.paletteAddress != 0)
        regions.push_back({profile.lcd.paletteAddress, kPaletteBytes, reinterpret_cast<uint8_t*>(state.palette)});
    if (profile.videoAddress != 0 && state.video.Start() != nullptr) {
        regions.push_back({profile.videoAddress, state.video.Bytes(), state.video.Start()});
        if ((profile.videoAddress & kAliasBit) != 0) {
            const uint32_t alias = profile.videoAddress & ~kAliasBit;
            if (profile.videoAlias == AliasKind::Same)
                regions.push_back({alias, state.video.Bytes(), state.video.Start()});
            else if (profile.videoAlias == AliasKind::Other && state.otherAlias.Start() != nullptr)
                regions.push_back({alias, state.otherAlias.Bytes(), state.otherAlias.Start()});
        }
    }
    return regions;
}

// The scan register's reading number k.
uint32_t ScanReading(const LcdControllerProfile& lcd, uint64_t k) {
    uint64_t offset = k * lcd.scanStep;
    if (lcd.scanWrap != 0) offset %= lcd.scanWrap;
    uint32_t value = lcd.scanStart + uint32_t(offset);
    if (lcd.kind == 2 && k < lcd.scanBusyReadings) value |= kXScaleScanBusyBit;
    return value;
}

}  // namespace

uint8_t* PhysicalToHost(uint32_t address, uint32_t size) {
    if (size == 0) return nullptr;
    for (const PhysicalRegion& region : PhysicalRegions())
        if (address >= region.address && uint64_t(address) + size <= uint64_t(region.address) + region.size)
            return region.host + (address - region.address);
    return nullptr;
}

uint32_t HostToPhysical(const uint8_t* pointer) {
    const DeviceState& state = State();
    const uint8_t* video = state.video.Start();
    if (state.profile.videoAddress == 0 || video == nullptr || pointer < video || pointer >= video + state.video.Bytes())
        return 0;
    return state.profile.videoAddress + uint32_t(pointer - video);
}

uint32_t ReadDeviceRegister(const uint8_t* registers, uint32_t index) {
    DeviceState& state = State();
    if (state.registers.empty() || registers != reinterpret_cast<const uint8_t*>(state.registers.data()) ||
        index >= state.registers.size())
        return 0;
    const LcdControllerProfile& lcd = state.profile.lcd;
    const uint32_t scanIndex = lcd.kind == 1 ? kStrongArmScanRegister : kXScaleScanRegister;
    const uint32_t value = index == scanIndex ? ScanReading(lcd, state.scanReadings++) : state.registers[index];
    const RegisterReading reading{RegisterFileAddress(lcd.kind) + 4 * index, value};
    if (state.registerLog.size() < kMaxRegisterReadings) state.registerLog.push_back(reading);
    if (state.registerHook) state.registerHook(reading, state.registerHookContext);
    return value;
}

const std::vector<RegisterReading>& RegisterReadings() { return State().registerLog; }

void ClearRegisterReadings() { State().registerLog.clear(); }

void SetRegisterReadHook(RegisterReadHook hook, void* context) {
    State().registerHook = hook;
    State().registerHookContext = context;
}

ChipState ReadChipState() { return State().chip; }

DisplayDeviceState ReadDisplayDeviceState() {
    const DeviceState& state = State();
    return DisplayDeviceState{state.allKeys, state.kernelMode, state.gapiOpen, state.beginDraws};
}

}  // namespace qob::platform
