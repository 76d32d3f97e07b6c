// windows/dialogs.h
// Dialogs and modal windows: newdlg and its class, the dialog window
// procedure, the procedure that subclasses every control a program makes,
// showmodal's loop, and the small window built-ins (centring, colours,
// destroying, showing) and the game-loop entries.
#pragma once

#include <cstdint>
#include <string>

#include "platform/window_manager.h"

namespace qob {

// The window whose modal loop runs, or 0; saved and restored around each
// showmodal, so modal loops nest.
extern platform::HWND ModalWindow;

// Registers the dialog class of that name (cursor field 1, DialogWindowProc).
// A name that is a form's class already raises "Class %s is already defined
// for a regular window, use another class name for dialogs" (stopping the
// program unless TRY catches it) and registers nothing. False when there is
// no dialog class of the name afterwards.
bool RegisterDialogClass(const std::u16string& name);

// Sets both colours to 0, then copies each non-zero colour of the window's
// record.
void GetWindowColors(platform::HWND window, uint32_t* textColour, uint32_t* backColour);

// WM_COPYDATA to the target with wParam the sender and a COPYDATASTRUCT
// {data word, size, pointer} in low memory; the answer of the target.
platform::LRESULT SendCopyData(platform::HWND sender, platform::HWND target, uint32_t dataWord, const void* data,
                               uint32_t size);

// The window procedure of dialog classes. Ids 1 to 99 of a WM_COMMAND with
// notification 0 to the running modal dialog end its loop with the id unless
// the event procedure refuses the WM_CLOSE that follows; a dialog is never
// destroyed by WM_CLOSE (a modal one ends its loop with 2). Its record goes
// with its window (WM_NCDESTROY), also when the window dies with its owner.
platform::LRESULT DialogWindowProc(platform::HWND window, platform::UINT message, platform::WPARAM wParam,
                                   platform::LPARAM lParam);

// The procedure every control a program makes is subclassed with: the
// control's event procedure and the event table first, then (result 1) the
// procedure it replaced. On WM_DESTROY the record goes (the replaced
// procedure is put back and sees WM_NCDESTROY, not WM_DESTROY) without a
// second destruction of the window.
platform::LRESULT ControlSubclassProc(platform::HWND window, platform::UINT message, platform::WPARAM wParam,
                                      platform::LPARAM lParam);

// newdlg (title, class name, event procedure, width, height) -> handle or 0.
void Builtin_newdlg();
// showmodal (window, focus window, no-centre flag) -> modal result. The
// loop also ends, with -1, when the window goes or its program (or the
// caller's) is ending; the result is pushed only while the caller lives.
void Builtin_showmodal();
// centerform (window): centred in the work area less the task bar's height.
void Builtin_centerform();
// setbackcolor / setfontcolor (window, colour): the record's colour, repainted.
void Builtin_setbackcolor();
void Builtin_setfontcolor();
// destroywindow (window) -> 0.
void Builtin_destroywindow();
// showwindow (window, command) -> the result of ShowWindow.
void Builtin_showwindow();
// g_mainloop / g_mainloop2 (run-time limit in ms): the engine's loops.
void Builtin_g_mainloop();
void Builtin_g_mainloop2();
// g_setmainloop (value): the low byte; g_getmainloop () -> 0..255.
void Builtin_g_setmainloop();
void Builtin_g_getmainloop();

}  // namespace qob
