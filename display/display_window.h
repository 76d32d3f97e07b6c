// display/display_window.h
// The window services the display takes from the window layer: whether a
// window exists, replacing and calling its window procedure, and the task
// bar's window. They are the window manager's unless others are installed
// (tests install a small window layer of their own).
#pragma once

#include <cstdint>
#include <string_view>

namespace qob {

using WindowProcedure = intptr_t (*)(uintptr_t window, uint32_t message, uintptr_t wParam, intptr_t lParam);

// Messages the display's window procedure answers.
constexpr uint32_t kMessageDestroy = 0x0002;   // WM_DESTROY
constexpr uint32_t kMessageActivate = 0x0006;  // WM_ACTIVATE
constexpr uint32_t kMessagePaint = 0x000F;     // WM_PAINT

// ShowWindow commands.
constexpr int32_t kShowHide = 0;  // SW_HIDE
constexpr int32_t kShowShow = 5;  // SW_SHOW

struct DisplayWindowServices {
    bool (*isWindow)(uintptr_t window) = nullptr;
    // Installs the procedure and answers the previous one; null on failure.
    WindowProcedure (*setWindowProcedure)(uintptr_t window, WindowProcedure procedure) = nullptr;
    intptr_t (*callWindowProcedure)(WindowProcedure procedure, uintptr_t window, uint32_t message,
                                    uintptr_t wParam, intptr_t lParam) = nullptr;
    intptr_t (*defaultWindowProcedure)(uintptr_t window, uint32_t message, uintptr_t wParam,
                                       intptr_t lParam) = nullptr;
    // The top-level window of that class, or 0.
    uintptr_t (*findWindow)(std::u16string_view className) = nullptr;
    bool (*showWindow)(uintptr_t window, int32_t command) = nullptr;
};

// Installs the services (an entry left null counts as absent); returns the
// ones installed before.
DisplayWindowServices SetDisplayWindowServices(const DisplayWindowServices& services);
[[nodiscard]] const DisplayWindowServices& GetDisplayWindowServices();

// Whether the window exists (false without the window layer's services).
[[nodiscard]] bool DisplayWindowExists(uintptr_t window);

}  // namespace qob
