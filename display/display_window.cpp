// display/display_window.cpp
// The window services the window layer installed for the display.
#include "display/display_window.h"

namespace qob {
namespace {

DisplayWindowServices gServices;

}  // namespace

DisplayWindowServices SetDisplayWindowServices(const DisplayWindowServices& services) {
    const DisplayWindowServices previous = gServices;
    gServices = services;
    return previous;
}

const DisplayWindowServices& GetDisplayWindowServices() { return gServices; }

bool DisplayWindowExists(uintptr_t window) { return gServices.isWindow != nullptr && gServices.isWindow(window); }

}  // namespace qob
