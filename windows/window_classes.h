// windows/window_classes.h
// Window classes whose window procedure is a script procedure, and the
// built-ins that change a window's procedure, pass a message on, and keep a
// value with a window.
#pragma once

#include <string>

#include "platform/window_manager.h"

namespace qob {

// Registers a system class of that name whose procedure is
// ScriptWindowProc (a double-click class when the constant CS_DBLCLKS% is 1).
bool RegisterScriptClass(const std::u16string& name);

// The procedure of every script class: the class procedure runs in the
// context that registered the class (only for a window with a record), then
// the event table; result 1 goes on to DefWindowProcW. The record's own event
// procedure word is not run here: the control-subclass procedure ran it
// already.
platform::LRESULT ScriptWindowProc(platform::HWND window, platform::UINT message, platform::WPARAM wParam,
                                   platform::LPARAM lParam);

// registerclass (name, procedure); a second registration of a name adds a
// record that lookups do not find. The class goes with its program.
void Builtin_registerclass();
// unregisterclass (name).
void Builtin_unregisterclass();
// setwndproc (window, procedure): the record's event procedure, run in the
// program that gave it.
void Builtin_setwndproc();
// inherited (window, message, wParam, lParam) -> 0: the replaced procedure
// (DefWindowProcW when none was replaced) of a window with a parent, else
// DefWindowProcW.
void Builtin_inherited();
// setuserdata (window, value): the number, a copy of the text (with its
// width) and the variable of a reference.
void Builtin_setuserdata();
// getuserdata (window) -> the kept value (0 without a record).
void Builtin_getuserdata();

}  // namespace qob
