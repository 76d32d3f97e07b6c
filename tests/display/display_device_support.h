// tests/display/display_device_support.h
// Simulated devices for the display tests: profiles that make each driver
// and branch run, a small window layer standing in for the real one (live
// windows, window procedures, a task bar), and a fixture that selects a
// device and resets the display's process-wide state around each test.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "display/display.h"
#include "display/display_window.h"
#include "display/key_map.h"
#include "platform/clock.h"
#include "platform/display_device.h"

namespace qob::testing {

// Profiles. Each names its device by what it exercises.
inline platform::DisplayDeviceProfile GapiPortraitProfile() {
    platform::DisplayDeviceProfile profile = platform::DesktopDisplayProfile();
    profile.name = "gapi portrait";
    profile.oemInfo = "Generic PDA";
    profile.libraries = {"gx.dll", "coredll.dll", "aygshell.dll"};
    return profile;
}

// Memory rows are the picture's columns, bottom-up (native orientation 1),
// drawn into a copy that GXEndDraw brings to video memory by viewport.
inline platform::DisplayDeviceProfile GapiLandscapeDramProfile() {
    platform::DisplayDeviceProfile profile = GapiPortraitProfile();
    profile.name = "gapi landscape dram";
    profile.panel = platform::PanelLayout{240, 320, 640, -2};
    profile.gapiDramBuffer = true;
    return profile;
}

inline platform::DisplayDeviceProfile GapiLandscapeProfile() {
    platform::DisplayDeviceProfile profile = GapiLandscapeDramProfile();
    profile.name = "gapi landscape";
    profile.gapiDramBuffer = false;
    return profile;
}

// GETGXINFO over video memory with padded rows.
inline platform::DisplayDeviceProfile DirectProfile() {
    platform::DisplayDeviceProfile profile = platform::DesktopDisplayProfile();
    profile.name = "direct";
    profile.oemInfo = "Generic PDA";
    profile.libraries = {"coredll.dll"};
    profile.gxInfoEscape = true;
    profile.rowPadding = 32;
    return profile;
}

// GETGXINFO over drawing memory that gxdma copies to video memory; the
// memory rows are the picture's columns.
inline platform::DisplayDeviceProfile DirectDmaProfile() {
    platform::DisplayDeviceProfile profile = DirectProfile();
    profile.name = "direct dma";
    profile.libraries = {"coredll.dll", "gxdma.dll"};
    profile.panel = platform::PanelLayout{240, 320, 640, -2};
    profile.rowPadding = 0;
    return profile;
}

// The raw frame buffer of a landscape screen whose memory runs with negative
// x strides: x stride -640, y stride 2, 320 x 240.
inline platform::DisplayDeviceProfile RawProfile() {
    platform::DisplayDeviceProfile profile = platform::DesktopDisplayProfile();
    profile.name = "raw";
    profile.oemInfo = "Generic PDA";
    profile.libraries = {};
    profile.screenWidth = 320;
    profile.screenHeight = 240;
    profile.panel = platform::PanelLayout{320, 240, -640, 2};
    profile.rawFrameBufferEscape = true;
    return profile;
}

// A raw frame buffer of any layout and size.
inline platform::DisplayDeviceProfile RawProfileOf(const char* name, platform::PanelLayout panel) {
    platform::DisplayDeviceProfile profile = RawProfile();
    profile.name = name;
    profile.screenWidth = panel.width;
    profile.screenHeight = panel.height;
    profile.panel = panel;
    return profile;
}

// A window layer of its own for the display: windows are numbers, each with
// a window procedure; the original procedure logs what reaches it.
class FakeWindowLayer {
public:
    FakeWindowLayer() {
        current = this;
        DisplayWindowServices services;
        services.isWindow = [](uintptr_t window) { return current->procedures.count(window) != 0; };
        services.setWindowProcedure = [](uintptr_t window, WindowProcedure procedure) -> WindowProcedure {
            auto found = current->procedures.find(window);
            if (found == current->procedures.end() || current->refuseSubclassing) return nullptr;
            current->log.push_back("SetWindowProcedure");
            return std::exchange(found->second, procedure);
        };
        services.callWindowProcedure = [](WindowProcedure procedure, uintptr_t window, uint32_t message,
                                          uintptr_t wParam, intptr_t lParam) {
            return procedure(window, message, wParam, lParam);
        };
        services.defaultWindowProcedure = [](uintptr_t window, uint32_t message, uintptr_t, intptr_t) -> intptr_t {
            current->log.push_back("default " + std::to_string(window) + " " + std::to_string(message));
            return 0;
        };
        services.findWindow = [](std::u16string_view className) -> uintptr_t {
            return className == u"HHTaskBar" ? current->taskBar : 0;
        };
        services.showWindow = [](uintptr_t window, int32_t command) {
            current->log.push_back("ShowWindow " + std::to_string(window) + " " + std::to_string(command));
            return true;
        };
        previous = SetDisplayWindowServices(services);
    }
    ~FakeWindowLayer() {
        SetDisplayWindowServices(previous);
        current = nullptr;
    }
    FakeWindowLayer(const FakeWindowLayer&) = delete;
    FakeWindowLayer& operator=(const FakeWindowLayer&) = delete;

    uintptr_t MakeWindow() {
        const uintptr_t window = nextWindow++;
        procedures[window] = &Original;
        return window;
    }
    void MakeTaskBar() { taskBar = MakeWindow(); }

    // Sends through the window's current procedure.
    intptr_t Send(uintptr_t window, uint32_t message, uintptr_t wParam = 0) {
        return procedures.at(window)(window, message, wParam, 0);
    }
    // WM_DESTROY, then the window is gone.
    void Destroy(uintptr_t window) {
        Send(window, kMessageDestroy);
        procedures.erase(window);
    }
    [[nodiscard]] WindowProcedure ProcedureOf(uintptr_t window) const { return procedures.at(window); }

    std::vector<std::string> log;
    bool refuseSubclassing = false;
    uintptr_t taskBar = 0;

private:
    static intptr_t Original(uintptr_t window, uint32_t message, uintptr_t, intptr_t) {
        current->log.push_back("original " + std::to_string(window) + " " + std::to_string(message));
        return 7;
    }

    static inline FakeWindowLayer* current = nullptr;
    std::map<uintptr_t, WindowProcedure> procedures;
    uintptr_t nextWindow = 0x100;
    DisplayWindowServices previous;
};

// Selects a device before each test and puts the desktop device and fresh
// statics back after it.
class DisplayDeviceTest : public ::testing::Test {
protected:
    void UseDevice(const platform::DisplayDeviceProfile& profile) {
        ResetDisplayStatics();
        platform::SelectDisplayDevice(profile);
    }
    void TearDown() override {
        ResetDisplayStatics();
        ResetMilliseconds();
        platform::ClearTestClock();
        platform::SelectDisplayDevice(platform::DesktopDisplayProfile());
    }

    FakeWindowLayer windows;
};

}  // namespace qob::testing
