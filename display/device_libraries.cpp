// display/device_libraries.cpp
// The bindings of the device libraries and their fallbacks.
#include "display/device_libraries.h"

#include <memory>

#include "display/display_window.h"

namespace qob {
namespace {

struct Bindings {
    std::unique_ptr<GapiLibrary> gapi;
    std::unique_ptr<GxDmaLibrary> gxDma;
    std::unique_ptr<CoreLibrary> core;
    std::unique_ptr<AygShellLibrary> aygShell;
};

Bindings& AllBindings() {
    static Bindings bindings;
    return bindings;
}

template <typename Library>
Library& BuiltOnFirstUse(std::unique_ptr<Library>& binding) {
    if (!binding) binding = std::make_unique<Library>();
    return *binding;
}

}  // namespace

GapiLibrary::GapiLibrary()
    : DynamicLibrary(platform::kGapiLibraryName),
      openDisplay(Find<platform::GXOpenDisplayEntry>("?GXOpenDisplay@@YAHPAUHWND__@@K@Z")),
      closeDisplay(Find<platform::GXVoidEntry>("?GXCloseDisplay@@YAHXZ")),
      beginDraw(Find<platform::GXBeginDrawEntry>("?GXBeginDraw@@YAPAXXZ")),
      endDraw(Find<platform::GXVoidEntry>("?GXEndDraw@@YAHXZ")),
      openInput(Find<platform::GXVoidEntry>("?GXOpenInput@@YAHXZ")),
      closeInput(Find<platform::GXVoidEntry>("?GXCloseInput@@YAHXZ")),
      getDisplayProperties(
          Find<platform::GXGetDisplayPropertiesEntry>("?GXGetDisplayProperties@@YA?AUGXDisplayProperties@@XZ")),
      getDefaultKeys(Find<platform::GXGetDefaultKeysEntry>("?GXGetDefaultKeys@@YA?AUGXKeyList@@H@Z")),
      suspend(Find<platform::GXVoidEntry>("?GXSuspend@@YAHXZ")),
      resume(Find<platform::GXVoidEntry>("?GXResume@@YAHXZ")),
      setViewport(Find<platform::GXSetViewportEntry>("?GXSetViewport@@YAHKKKK@Z")),
      isDisplayDramBuffer(Find<platform::GXVoidEntry>("?GXIsDisplayDRAMBuffer@@YAHXZ")) {}

bool GapiLibrary::HasDriverEntries() const {
    return IsLoaded() && openDisplay && closeDisplay && beginDraw && endDraw && getDisplayProperties && suspend &&
           resume && setViewport;
}

GxDmaLibrary::GxDmaLibrary()
    : DynamicLibrary(platform::kGxDmaLibraryName),
      vramToDram(Find<platform::DmaCopyEntry>("DmaVRAMtoDRAM")),
      dramToVram(Find<platform::DmaCopyEntry>("DmaDRAMtoVRAM")),
      isDmaReady(Find<platform::IsDMAReadyEntry>("IsDMAReady")) {}

CoreLibrary::CoreLibrary()
    : DynamicLibrary(platform::kCoreLibraryName),
      allKeys(Find<platform::AllKeysEntry>("AllKeys")),
      setKMode(Find<platform::SetKModeEntry>("SetKMode")),
      changeDisplaySettings(Find<platform::ChangeDisplaySettingsExEntry>("ChangeDisplaySettingsEx")) {}

int32_t CoreLibrary::AllKeys(int32_t all) {
    if (allKeys) return allKeys(all);
    const int32_t previous = allKeysValue;
    allKeysValue = all;
    return previous;
}

int32_t CoreLibrary::ChangeDisplaySettingsEx(platform::DisplayModeRecord* mode, uint32_t flags) const {
    return changeDisplaySettings ? changeDisplaySettings(nullptr, mode, 0, flags, nullptr) : 0;
}

AygShellLibrary::AygShellLibrary()
    : DynamicLibrary(platform::kAygShellLibraryName), fullScreen(Find<platform::SHFullScreenEntry>("SHFullScreen")) {}

int32_t AygShellLibrary::SHFullScreen(uintptr_t window, uint32_t flags) const {
    if (fullScreen) return fullScreen(window, flags);
    const DisplayWindowServices& services = GetDisplayWindowServices();
    const uintptr_t taskBar = services.findWindow ? services.findWindow(u"HHTaskBar") : 0;
    if (taskBar != 0 && services.showWindow) {
        if (flags & kFullScreenShowTaskBar) services.showWindow(taskBar, kShowShow);
        if (flags & kFullScreenHideTaskBar) services.showWindow(taskBar, kShowHide);
    }
    return 1;
}

GapiLibrary& Gapi() { return BuiltOnFirstUse(AllBindings().gapi); }
GxDmaLibrary& GxDma() { return BuiltOnFirstUse(AllBindings().gxDma); }
CoreLibrary& CoreDll() { return BuiltOnFirstUse(AllBindings().core); }
AygShellLibrary& AygShell() { return BuiltOnFirstUse(AllBindings().aygShell); }

bool IsGapiLoaded() { return AllBindings().gapi && AllBindings().gapi->IsLoaded(); }

void ResetDeviceLibraries() { AllBindings() = Bindings{}; }

}  // namespace qob
