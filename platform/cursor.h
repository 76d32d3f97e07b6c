// platform/cursor.h
// The mouse cursor: the system's arrow and wait cursors and the one shown.
// Headless, the cursor is only recorded; a screen back end that shows a
// pointer is told of every change.
#pragma once

#include <cstdint>

#include "platform/handles.h"

namespace qob::platform {

using HCURSOR = Handle;

constexpr uintptr_t IDC_ARROW = 32512;
constexpr uintptr_t IDC_WAIT = 32514;

// A system cursor (the instance must be 0); the same handle every time, 0
// for an unknown one.
[[nodiscard]] HCURSOR LoadCursorW(uintptr_t instance, uintptr_t id);
// Shows the cursor (0: none) and answers the one shown before.
HCURSOR SetCursor(HCURSOR cursor);
[[nodiscard]] HCURSOR GetCursor();
// Whether the cursor is the system's wait cursor.
[[nodiscard]] bool IsWaitCursor(HCURSOR cursor);

// Called with the wait flag of the new cursor at every change (the SDL
// screen shows its own wait pointer); null: nobody.
void SetCursorListener(void (*listener)(bool wait));

}  // namespace qob::platform
