// display/device_libraries.h
// The device libraries the display loads by name (gx, gxdma, coredll,
// aygshell): each binding looks up its entries once, and where an entry is
// missing its fallback answers instead, so no call goes through null.
#pragma once

#include <cstdint>
#include <string_view>

#include "platform/display_device.h"

namespace qob {

// Loads the library on construction (the handle may be 0) and frees it on
// destruction.
class DynamicLibrary {
public:
    explicit DynamicLibrary(std::string_view name) : handle(platform::LoadDeviceLibrary(name)) {}
    ~DynamicLibrary() { platform::FreeDeviceLibrary(handle); }
    DynamicLibrary(const DynamicLibrary&) = delete;
    DynamicLibrary& operator=(const DynamicLibrary&) = delete;

    [[nodiscard]] bool IsLoaded() const { return handle != 0; }

protected:
    template <typename Entry>
    [[nodiscard]] Entry Find(std::string_view name) const {
        return reinterpret_cast<Entry>(platform::GetDeviceProcAddress(handle, name));
    }

private:
    uintptr_t handle;
};

// gx.dll, its entries by their decorated names; a missing one stays null.
class GapiLibrary : public DynamicLibrary {
public:
    GapiLibrary();

    // Every entry the GAPI driver calls is there.
    [[nodiscard]] bool HasDriverEntries() const;

    platform::GXOpenDisplayEntry openDisplay;
    platform::GXVoidEntry closeDisplay;
    platform::GXBeginDrawEntry beginDraw;
    platform::GXVoidEntry endDraw;
    platform::GXVoidEntry openInput;
    platform::GXVoidEntry closeInput;
    platform::GXGetDisplayPropertiesEntry getDisplayProperties;
    platform::GXGetDefaultKeysEntry getDefaultKeys;
    platform::GXVoidEntry suspend;
    platform::GXVoidEntry resume;
    platform::GXSetViewportEntry setViewport;
    platform::GXVoidEntry isDisplayDramBuffer;
};

// gxdma.dll. A missing IsDMAReady answers 1 (ready).
class GxDmaLibrary : public DynamicLibrary {
public:
    GxDmaLibrary();

    // Loaded and able to copy to video memory.
    [[nodiscard]] bool CanCopyToVideo() const { return IsLoaded() && dramToVram != nullptr; }
    [[nodiscard]] int32_t IsDMAReady() const { return isDmaReady ? isDmaReady() : 1; }
    int32_t DmaDRAMtoVRAM(int32_t x, int32_t y, int32_t width, int32_t height) const {
        return dramToVram ? dramToVram(x, y, width, height) : 0;
    }
    int32_t DmaVRAMtoDRAM(int32_t x, int32_t y, int32_t width, int32_t height) const {
        return vramToDram ? vramToDram(x, y, width, height) : 0;
    }

private:
    platform::DmaCopyEntry vramToDram;
    platform::DmaCopyEntry dramToVram;
    platform::IsDMAReadyEntry isDmaReady;
};

// coredll.dll. A missing AllKeys keeps the value here and answers the
// previous one; a missing SetKMode does nothing (answers 0); a missing
// ChangeDisplaySettingsEx does nothing and answers 0.
class CoreLibrary : public DynamicLibrary {
public:
    CoreLibrary();

    int32_t AllKeys(int32_t all);
    int32_t SetKMode(int32_t mode) const { return setKMode ? setKMode(mode) : 0; }
    int32_t ChangeDisplaySettingsEx(platform::DisplayModeRecord* mode, uint32_t flags) const;

private:
    platform::AllKeysEntry allKeys;
    platform::SetKModeEntry setKMode;
    platform::ChangeDisplaySettingsExEntry changeDisplaySettings;
    int32_t allKeysValue = 0;
};

// aygshell.dll. A missing SHFullScreen shows (flag bit 0) or hides (bit 1)
// the "HHTaskBar" window through the window layer, and answers 1.
class AygShellLibrary : public DynamicLibrary {
public:
    AygShellLibrary();

    int32_t SHFullScreen(uintptr_t window, uint32_t flags) const;

private:
    platform::SHFullScreenEntry fullScreen;
};

// SHFullScreen flags.
constexpr uint32_t kFullScreenShowTaskBar = 0x1;
constexpr uint32_t kFullScreenHideTaskBar = 0x2;

// The bindings, each built on first use and kept until ResetDeviceLibraries.
[[nodiscard]] GapiLibrary& Gapi();
[[nodiscard]] GxDmaLibrary& GxDma();
[[nodiscard]] CoreLibrary& CoreDll();
[[nodiscard]] AygShellLibrary& AygShell();

// Whether gx.dll has been loaded (its binding built and the library there).
[[nodiscard]] bool IsGapiLoaded();

// Drops every binding, so the next use loads the active device's libraries.
void ResetDeviceLibraries();

}  // namespace qob
