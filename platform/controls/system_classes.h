// platform/controls/system_classes.h
// The classes the system provides to every program without registration.
#pragma once

namespace qob::platform {

// Registers every system class that is not registered yet. The window
// manager calls it when a class name is not found, so the classes are there
// from the first use and again after ResetWindowManager.
void RegisterSystemClasses();

}  // namespace qob::platform
