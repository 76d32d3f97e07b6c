// platform/controls/standard_controls.cpp
// Registration of the standard control classes.

#include "platform/controls/standard_controls.h"

namespace qob::platform {

void RegisterEditClass();
void RegisterListBoxClass();
void RegisterComboBoxClasses();
void RegisterButtonClass();
void RegisterStaticClass();

void RegisterStandardControls() {
    RegisterEditClass();
    RegisterListBoxClass();
    RegisterComboBoxClasses();
    RegisterButtonClass();
    RegisterStaticClass();
}

}  // namespace qob::platform
