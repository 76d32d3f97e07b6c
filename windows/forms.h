// windows/forms.h
// Forms: the top-level windows programs make with newform and newformex,
// their window class, menu bar and the form window procedure that runs the
// event procedure and bridges stylus input to the game engine.
#pragma once

#include <cstdint>
#include <string>

#include "platform/gdi.h"
#include "platform/window_manager.h"

namespace qob {

struct Instruction;

// Set by showmodal to its time-out while waitforinput waits; a key or stylus
// press on a form clears it while a game window exists.
extern uint32_t InputWaitTime;
// The result of the running modal loop (2: closed).
extern int32_t ModalResult;

// Registers the form class of that name (a double-click class when the
// constant CS_DBLCLKS% is 1 at that moment). A name registered already
// stays as it was. False when the name is empty or belongs to a class that
// is no form class.
bool RegisterFormClass(const std::u16string& name);

// Makes the default font (12-pixel "MS Sans Serif", character set 1), gives
// it to the window with WM_SETFONT and returns it.
platform::HFONT SetDefaultFont(platform::HWND window);

// WM_CTLCOLOR* for the control in lParam: the text and back colours of its
// record (a solid brush of the back colour), else the default processing.
platform::LRESULT ColourControl(platform::HWND window, platform::UINT message, platform::WPARAM wParam,
                                platform::LPARAM lParam);

// The brushes WM_CTLCOLOR answers with: one per colour for the process,
// deleted here (at shut-down).
void DeleteControlColourBrushes();

// The answer to WM_CTLCOLOR* for the control in lParam: the text and back
// colours of its record, else the default processing.
platform::LRESULT ColourControl(platform::HWND window, platform::UINT message, platform::WPARAM wParam,
                                platform::LPARAM lParam);

// The form window procedure of every form class.
platform::LRESULT FormWindowProc(platform::HWND window, platform::UINT message, platform::WPARAM wParam,
                                 platform::LPARAM lParam);

// newform (title, class name, event procedure) -> window handle or 0.
void Builtin_newform();
// newformex (title, class name, extended style, style, x, y, width, height,
// event procedure) -> window handle or 0.
void Builtin_newformex();

}  // namespace qob
