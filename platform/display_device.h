// platform/display_device.h
// The simulated display hardware: the active device profile (OEM string, CPU
// type, screen, the device libraries with their entry tables, the display
// escapes), its video memory in the device's own layout, and the call log.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qob::platform {

// Where the panel's pixels lie in video memory: the upright picture is
// width x height pixels, and the pixel (x, y) of it is at origin + x * xPitch
// + y * yPitch. One of the pitches is +-2 (pixels of a memory row), the other
// +-rowPitch (memory rows), so the memory is rows of pixels in one of four
// turns, running forwards or backwards.
struct PanelLayout {
    int32_t width = 240;   // pixels of the upright picture
    int32_t height = 320;
    int32_t xPitch = 2;    // bytes from one picture pixel to the next on its right
    int32_t yPitch = 480;  // bytes from one picture pixel to the one below it
};

// A rectangle of memory rows: rowCount rows of rowPixels pixels, rowPitch
// bytes apart, starting at byte 0 of the block.
struct MemoryShape {
    int32_t rowPixels;
    int32_t rowCount;
    int32_t rowPitch;
};

// The memory rows a layout needs (before any row padding).
[[nodiscard]] MemoryShape ShapeOfPanel(const PanelLayout& layout);

// Library names the display code loads.
inline constexpr std::string_view kGapiLibraryName = "gx.dll";
inline constexpr std::string_view kGxDmaLibraryName = "gxdma.dll";
inline constexpr std::string_view kAygShellLibraryName = "aygshell.dll";
inline constexpr std::string_view kCoreLibraryName = "coredll.dll";
inline constexpr std::string_view kChipLibraryName = "CoreLinkLib.dll";  // the graphics chip's vendor library

// Escapes of the screen device context.
constexpr int32_t QUERYESCSUPPORT = 8;
constexpr int32_t GETGXINFO = 0x20000;
constexpr int32_t GETRAWFRAMEBUFFER = 0x20001;

// The display properties and key lists of the GAPI library.
struct GXDisplayProperties {
    uint32_t cxWidth;
    uint32_t cyHeight;
    int32_t cbxPitch;  // bytes from a pixel to the next one on its right
    int32_t cbyPitch;  // bytes from a pixel to the one below it
    int32_t cBPP;
    uint32_t ffFormat;
};

struct GXKeyEntry {
    uint16_t code;
    uint16_t unused;
    int32_t x;
    int32_t y;
};
static_assert(sizeof(GXKeyEntry) == 12);

// In the order up, down, left, right, A, B, C, start.
struct GXKeyList {
    GXKeyEntry keys[8];
};

// The reply of GETGXINFO, in this simulation's own layout (the address is
// pointer-sized). The caller sets version to 100 before asking.
struct GxInfoButton {
    uint16_t portraitCode;
    uint16_t landscapeCode;
    int32_t x;
    int32_t y;
};
static_assert(sizeof(GxInfoButton) == 12);

struct GxInfoReply {
    uint32_t version;
    int32_t width;        // of the memory rows' picture, before the swap that bit 3 asks for
    int32_t height;
    int32_t stride;       // bytes from one memory row to the next
    uint32_t format;      // bit 3: landscape memory (width and height are to be swapped)
    uint8_t* address;     // the first memory row
    GxInfoButton buttons[8];  // up, down, left, right, A, B, C, start
};

// The reply of GETRAWFRAMEBUFFER, with a pointer-sized frame pointer.
struct RawFrameBufferInfo {
    uint16_t format;        // low two bits 1: RGB565
    uint16_t bitsPerPixel;
    uint8_t* framePointer;  // picture pixel (0, 0)
    int32_t xStride;
    int32_t yStride;
    int32_t xPixels;
    int32_t yPixels;
};

// The display mode record that ChangeDisplaySettingsEx reads and writes.
struct DisplayModeRecord {
    uint32_t size;
    uint32_t fields;              // DM_DISPLAYORIENTATION names the orientation
    uint32_t displayOrientation;  // a DMDO_ value
};
constexpr uint32_t DM_DISPLAYORIENTATION = 0x00800000;
constexpr uint32_t CDS_TEST = 2;
constexpr int32_t DISP_CHANGE_SUCCESSFUL = 0;
constexpr int32_t DISP_CHANGE_FAILED = -1;
constexpr uint32_t DMDO_0 = 0;
constexpr uint32_t DMDO_90 = 1;
constexpr uint32_t DMDO_180 = 2;
constexpr uint32_t DMDO_270 = 4;

// Entry types of the device libraries.
using GXOpenDisplayEntry = int32_t (*)(uintptr_t window, uint32_t flags);
using GXVoidEntry = int32_t (*)();
using GXBeginDrawEntry = void* (*)();
using GXGetDisplayPropertiesEntry = GXDisplayProperties (*)();
using GXGetDefaultKeysEntry = GXKeyList (*)(int32_t kind);
using GXSetViewportEntry = int32_t (*)(uint32_t top, uint32_t height, uint32_t reserved1, uint32_t reserved2);
using DmaCopyEntry = int32_t (*)(int32_t x, int32_t y, int32_t width, int32_t height);
using IsDMAReadyEntry = int32_t (*)();
using AllKeysEntry = int32_t (*)(int32_t all);
using SetKModeEntry = int32_t (*)(int32_t mode);
using ChangeDisplaySettingsExEntry = int32_t (*)(const char16_t* device, DisplayModeRecord* mode, uintptr_t window,
                                                 uint32_t flags, void* parameter);
using SHFullScreenEntry = int32_t (*)(uintptr_t window, uint32_t flags);

// Entry types of the graphics chip's vendor library. Ids are the chip's
// 16-bit numbers, handles its 32-bit ones; each answers non-zero on success.
struct ChipOverlayRecord {
    uint32_t surfaceHandle;
    uint32_t reserved1;
    uint32_t width;   // in both 16-bit halves
    uint32_t height;  // in both 16-bit halves
    uint32_t reserved2;
    uint32_t format;
};
using ChipVoidEntry = int32_t (*)();
using ChipAllocateSurfaceEntry = int32_t (*)(uint16_t* surfaceId, uint32_t* surfaceHandle, uint32_t size,
                                             uint32_t flags);
using ChipAllocOverlayEntry = int32_t (*)(uint16_t* overlayId);
using ChipSetupOverlayEntry = int32_t (*)(uint16_t overlayId, const ChipOverlayRecord* record);
using ChipSetOverlayPosEntry = int32_t (*)(uint16_t overlayId, int32_t x, int32_t y);
using ChipSetOverlayOnOffEntry = int32_t (*)(uint16_t overlayId, int32_t on);
using ChipIdEntry = int32_t (*)(uint16_t id);
using ChipWaitCompleteEntry = int32_t (*)(int32_t milliseconds);
using ChipSetupMemoryTransferEntry = int32_t (*)(uint32_t surfaceHandle, uint8_t** address);

// Where the LCD controllers' register files lie, and how long they are.
constexpr uint32_t kStrongArmRegisterAddress = 0xB0100000;
constexpr uint32_t kStrongArmRegisterBytes = 44;
constexpr uint32_t kXScaleRegisterAddress = 0x44000000;
constexpr uint32_t kXScaleRegisterBytes = 544;
constexpr uint32_t kStrongArmScanRegister = 5;  // the controller's current DMA address
constexpr uint32_t kXScaleScanRegister = 131;
constexpr uint32_t kXScaleScanBusyBit = 1u << 26;
constexpr uint32_t kAliasBit = 1u << 29;  // the address with it cleared is the same memory, cached

// The processor's LCD controller: its register file (in the physical map at
// the kind's address), the scan register's rule, and the StrongARM palette.
struct LcdControllerProfile {
    int32_t kind = 0;                 // 0 none, 1 StrongARM, 2 XScale
    std::vector<uint32_t> registers;  // by word index; words not given read 0
    // The scan register reads scanStart, then each reading scanStep further
    // on, going back scanWrap bytes whenever it passes scanStart + scanWrap;
    // a step of 0 is a stopped controller.
    uint32_t scanStart = 0;
    uint32_t scanStep = 0;
    uint32_t scanWrap = 0;
    uint32_t scanBusyReadings = 0;     // XScale: the first readings carry the busy bit 26
    // StrongARM: where its frame (palette first) lies, which register 4
    // names (0: nowhere in the map), and the palette's first word.
    uint32_t paletteAddress = 0;
    uint16_t firstPaletteEntry = 0x2000;
};

// What the address with bit 29 cleared holds, for video memory at an address
// with bit 29 set.
enum class AliasKind { None, Same, Other };

// What one simulated device is and offers.
struct DisplayDeviceProfile {
    std::string name;
    std::string oemInfo;                // SPI_GETOEMINFO
    bool oemInfoAvailable = true;
    int32_t cpuType = 0;                // 0 other, 1 StrongARM, 2 XScale
    bool screenDc = true;               // a screen device context can be had
    int32_t screenWidth = 240;          // HORZRES
    int32_t screenHeight = 320;         // VERTRES
    int32_t bitsPerPixel = 16;          // BITSPIXEL
    int32_t systemOrientation = 0;      // 0..3, read and written through ChangeDisplaySettingsEx
    PanelLayout panel;                  // video memory
    int32_t rowPadding = 0;             // bytes after each memory row's pixels

    // The device libraries present (by name) and the entries they lack.
    std::vector<std::string> libraries;
    std::vector<std::string> missingEntries;

    // gx.dll
    bool gapiDramBuffer = false;        // GXIsDisplayDRAMBuffer answers 1; GXEndDraw copies the viewport
    bool gapiOpenFails = false;
    bool gapiBeginDrawFails = false;
    GXKeyList gapiPortraitKeys{};
    GXKeyList gapiLandscapeKeys{};

    // gxdma.dll: IsDMAReady answers 0 this many times before it answers 1;
    // negative: never ready.
    int32_t dmaBusyReadings = 0;

    // Escapes. GETGXINFO reports video memory (or, with gxdma present, the
    // memory that DmaDRAMtoVRAM copies from) when the panel's rows are
    // picture rows or picture columns bottom-up; GETRAWFRAMEBUFFER reports
    // the panel layout.
    bool gxInfoEscape = false;
    uint32_t gxInfoFormat = 0;          // its format word (bit 3 is set for landscape memory)
    GxInfoButton gxInfoButtons[8]{};
    bool rawFrameBufferEscape = false;
    uint16_t rawFormat = 1;
    uint16_t rawBitsPerPixel = 16;

    // The physical map: the LCD controller's register file (with the
    // StrongARM palette), and video memory at
    // videoAddress (0: not in the map) with its bit-29 alias.
    LcdControllerProfile lcd;
    uint32_t videoAddress = 0;
    AliasKind videoAlias = AliasKind::None;
    // Video memory's first row lies at this host address modulo 0x80000
    // (a multiple of 16 from 64 on).
    uint32_t videoPlacement = 0x100;

    // CoreLinkLib.dll: AtiCore_WaitComplete answers 0 this many times in a
    // row before it answers 1 (negative: never); the allocations and the
    // memory transfer can be made to fail.
    int32_t chipWaitFailures = 0;
    bool chipSurfaceFails = false;
    bool chipOverlayFails = false;
    bool chipTransferFails = false;
};

// The desktop device: 240 x 320 at 16 bits, GDI only.
[[nodiscard]] DisplayDeviceProfile DesktopDisplayProfile();

// Makes the profile the active device: new video memory (and drawing memory
// for the devices that copy from one), cleared to the sentinel pattern, the
// library state reset and the call log emptied. The window layer's screen
// takes the device's screen size.
void SelectDisplayDevice(const DisplayDeviceProfile& profile);

// The active device (the desktop device until another is selected).
[[nodiscard]] const DisplayDeviceProfile& ActiveDisplayDevice();

// The upright picture the panel shows now, row by row.
struct PanelPicture {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint16_t> pixels;
    [[nodiscard]] uint16_t At(int32_t x, int32_t y) const { return pixels[size_t(y) * size_t(width) + size_t(x)]; }
};
[[nodiscard]] PanelPicture ReadPanel();

// Fills the whole panel picture with one colour (video memory, and drawing
// memory when there is one), for tests that want a known previous frame.
void FillPanel(uint16_t colour);

// The active device's video memory: its first memory row and its shape.
[[nodiscard]] uint8_t* VideoMemory();
[[nodiscard]] MemoryShape VideoMemoryShape();

// True while the guard bytes around the device's memories are untouched.
[[nodiscard]] bool DisplayDeviceGuardsIntact();

// Every call the display code made into the device, one line each, such as
// "GXSetViewport(0, 320, 0, 0)".
[[nodiscard]] const std::vector<std::string>& DisplayDeviceCalls();
void ClearDisplayDeviceCalls();

// The device's libraries: a handle (0 when the active device lacks the
// library; names compare without regard to ASCII case), its entries by name
// (null when missing), and the release of the handle.
[[nodiscard]] uintptr_t LoadDeviceLibrary(std::string_view name);
[[nodiscard]] void* GetDeviceProcAddress(uintptr_t library, std::string_view entry);
void FreeDeviceLibrary(uintptr_t library);

// The screen device context's escapes. QUERYESCSUPPORT takes the escape
// number as its input and answers 1 when the device supports it. The others
// fill their reply and answer 1, or answer 0 when unsupported or when the
// reply does not fit.
[[nodiscard]] int32_t DeviceEscape(int32_t escape, std::span<const uint8_t> input, std::span<uint8_t> output);

// The screen's size and depth (HORZRES, VERTRES, BITSPIXEL), and whether a
// screen device context can be had at all.
struct ScreenCaps {
    int32_t width;
    int32_t height;
    int32_t bitsPerPixel;
};
[[nodiscard]] bool GetScreenCaps(ScreenCaps& caps);

// SPI_GETOEMINFO: the OEM string into text (terminated, cut to fit); false
// when the device gives none.
[[nodiscard]] bool GetOemInfo(std::span<char16_t> text);

// The physical map: a host pointer for size bytes at a device address, null
// unless they lie wholly inside one of the active device's regions; and the
// device address of a host pointer into video memory (0 when it is not in
// the map).
[[nodiscard]] uint8_t* PhysicalToHost(uint32_t address, uint32_t size);
[[nodiscard]] uint32_t HostToPhysical(const uint8_t* pointer);

// Reads word `index` of a register file that PhysicalToHost handed out (0
// for any other pointer or an index past its end). Every reading is logged,
// and the scan register moves on by the profile's rule at each one.
struct RegisterReading {
    uint32_t address;
    uint32_t value;
};
[[nodiscard]] uint32_t ReadDeviceRegister(const uint8_t* registers, uint32_t index);
// The readings since the device was selected or the log cleared (the first
// 65536 of them), and a hook that sees each reading as it is made (selecting
// a device removes it).
[[nodiscard]] const std::vector<RegisterReading>& RegisterReadings();
void ClearRegisterReadings();
using RegisterReadHook = void (*)(const RegisterReading& reading, void* context);
void SetRegisterReadHook(RegisterReadHook hook, void* context);

// The graphics chip's state, for tests.
struct ChipState {
    int32_t attached;     // ProcessAttach calls not yet detached
    bool surface;         // a surface is allocated
    bool overlay;         // an overlay is allocated
    bool overlayOn;
    bool transferOpen;    // SetupMemoryTransfer not yet terminated
};
[[nodiscard]] ChipState ReadChipState();

// The state the device's libraries keep, for tests.
struct DisplayDeviceState {
    int32_t allKeys;        // last AllKeys value
    int32_t kernelMode;     // last SetKMode value
    bool gapiOpen;
    int32_t gapiBeginDraws;  // GXBeginDraw calls not yet ended
};
[[nodiscard]] DisplayDeviceState ReadDisplayDeviceState();

}  // namespace qob::platform
