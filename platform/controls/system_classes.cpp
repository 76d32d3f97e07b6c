// platform/controls/system_classes.cpp
// Every class the system provides.

#include "platform/controls/system_classes.h"

#include "platform/controls/standard_controls.h"

namespace qob::platform {

void RegisterSystemClasses() {
    RegisterStandardControls();
}

}  // namespace qob::platform
