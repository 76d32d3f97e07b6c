// windows/new_control.h
// newcontrol: child controls of any window class, subclassed with
// ControlSubclassProc (windows/dialogs.h) so that their messages run the
// program's event procedure first.
#pragma once

namespace qob {

// newcontrol (id, class name, event procedure, text, style, parent, x, y,
// width, height) -> control handle or 0. The record goes into the context
// that holds the parent's record; the procedure, when it is one of the
// calling program's, runs in the calling program's context.
void Builtin_newcontrol();

}  // namespace qob
