// platform/com.h
// COM automation on this host: the object model (interfaces, class list,
// creation), the automation types and type information, and the interfaces
// that embed controls in windows.
#pragma once

#include "platform/com/automation.h"      // IWYU pragma: export
#include "platform/com/class_registry.h"  // IWYU pragma: export
#include "platform/com/dispatch_object.h" // IWYU pragma: export
#include "platform/com/interfaces.h"      // IWYU pragma: export
#include "platform/com/ole_embedding.h"   // IWYU pragma: export
#include "platform/com/type_library.h"    // IWYU pragma: export
#include "platform/com/type_library_text.h" // IWYU pragma: export
