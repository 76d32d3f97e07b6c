// windows/new_control.h
// newcontrol: child controls of any window class, subclassed so that their
// messages run the program's event procedure first.
#pragma once

#include "platform/window_manager.h"

namespace qob {

// The procedure newcontrol puts on every control: the record's event
// procedure and the event table first, then (for a result of 1) the
// procedure it replaced. WM_DESTROY frees the record (putting the replaced
// procedure back) without passing it on.
platform::LRESULT ControlSubclassProc(platform::HWND window, platform::UINT message, platform::WPARAM wParam,
                                      platform::LPARAM lParam);

// newcontrol (id, class name, event procedure, text, style, parent, x, y,
// width, height) -> control handle or 0. The record goes into the context
// that holds the parent's record; the procedure, when it is one of the
// calling program's, runs in the calling program's context.
void Builtin_newcontrol();

}  // namespace qob
