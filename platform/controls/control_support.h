// platform/controls/control_support.h
// What the standard controls share: their state in the window's extra bytes,
// notifications to the parent, the colours the parent answers, font metrics
// and the one-pixel border of WS_BORDER.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/gdi.h"
#include "platform/window_manager.h"

namespace qob::platform::controls {

// The control's state pointer (the first word of its extra bytes), or null
// once it is gone.
template <typename State>
State* StateOf(HWND control) {
    return reinterpret_cast<State*>(GetWindowLongPtrW(control, 0));
}
void SetStatePointer(HWND control, void* state);

// Registers a control class with room for the state pointer.
void RegisterControlClass(const char16_t* name, WNDPROC procedure, UINT style);

// WM_COMMAND (id | code << 16, control) to the parent (a child's parent, a
// pop-up's owner); nothing without one.
void NotifyParent(HWND control, UINT code);

// Sets the DC's default text and back colours, then asks the parent with the
// given WM_CTLCOLOR* message; the parent's brush, or the default back
// colour's brush when it answers 0. The parent's SetTextColor/SetBkColor on
// the DC stay.
HBRUSH AskParentColours(HWND control, HDC dc, UINT message, int defaultBack, int defaultText);

// Height of a line (the font's cell height) and the width of a text in the
// font (0: the DC's default font).
int32_t LineHeight(HFONT font);
int32_t TextWidth(HFONT font, std::u16string_view text);
// The number of characters of text whose boundary lies nearest to x pixels.
size_t CharacterAt(HFONT font, std::u16string_view text, int32_t x);

// The window's text as the window manager keeps it.
std::u16string WindowText(HWND control);

// A one-pixel frame round the whole window in COLOR_WINDOWFRAME, for WS_BORDER.
void PaintBorder(HWND control);

// Invalidates the client area so it repaints (erasing).
void Repaint(HWND control);

// The text of a UTF-16 pointer (null: empty).
std::u16string_view ViewOf(const char16_t* text);

// Upper-cases ASCII letters (list searches compare this way).
std::u16string FoldCase(std::u16string_view text);

}  // namespace qob::platform::controls
