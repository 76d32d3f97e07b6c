// display/display_window.cpp
// The window services of the display: the window manager's, unless a test
// installed others.
#include "display/display_window.h"

#include <string>

#include "platform/window_manager.h"

namespace qob {
namespace {

WindowProcedure ReplaceWindowProcedure(uintptr_t window, WindowProcedure procedure) {
    const intptr_t previous =
        platform::SetWindowLongPtrW(window, platform::GWL_WNDPROC, reinterpret_cast<intptr_t>(procedure));
    return reinterpret_cast<WindowProcedure>(previous);
}

uintptr_t FindTopLevelWindow(std::u16string_view className) {
    const std::u16string name(className);
    return platform::FindWindowW(name.c_str(), nullptr);
}

DisplayWindowServices WindowManagerServices() {
    DisplayWindowServices services;
    services.isWindow = [](uintptr_t window) { return platform::IsWindow(window); };
    services.setWindowProcedure = &ReplaceWindowProcedure;
    services.callWindowProcedure = &platform::CallWindowProcW;
    services.defaultWindowProcedure = &platform::DefWindowProcW;
    services.findWindow = &FindTopLevelWindow;
    services.showWindow = [](uintptr_t window, int32_t command) { return platform::ShowWindow(window, command); };
    return services;
}

DisplayWindowServices gServices = WindowManagerServices();

}  // namespace

DisplayWindowServices SetDisplayWindowServices(const DisplayWindowServices& services) {
    const DisplayWindowServices previous = gServices;
    gServices = services;
    return previous;
}

const DisplayWindowServices& GetDisplayWindowServices() { return gServices; }

bool DisplayWindowExists(uintptr_t window) { return gServices.isWindow != nullptr && gServices.isWindow(window); }

}  // namespace qob
