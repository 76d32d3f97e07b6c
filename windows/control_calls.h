// windows/control_calls.h
// The control built-ins: texts and selections of edit controls and windows,
// items of list boxes and combo boxes, fonts, the client rectangle, the lists
// of top-level windows and of font families, the wait cursor and the
// compiler's status window. A number that is no live window does nothing
// but push the failure value (0, -1 or the empty text).
#pragma once

#include <cstdint>

namespace qob {

// Edit controls and window texts (8-bit and UTF-16 twins).
void Builtin_getselstart();    // (edit) -> selection start
void Builtin_getsellength();   // (edit) -> selection end minus start
void Builtin_setselstart();    // (edit, position): an empty selection there
void Builtin_setsellength();   // (edit, length): from the start, length AND 0xFFFF characters
void Builtin_getseltext();     // (edit) -> the selected text
void Builtin_wgetseltext();
void Builtin_setseltext();     // (edit, text): replaces the selection
void Builtin_wsetseltext();
void Builtin_gettext();        // (window) -> its text
void Builtin_wgettext();
void Builtin_settext();        // (window, text)
void Builtin_wsettext();
void Builtin_gettextline();    // (edit, line) -> the line's text; "" past the last line
void Builtin_wgettextline();

// List boxes and combo boxes; on another control the getters give -1 or ""
// and the setters do nothing.
void Builtin_getitemindex();   // (control) -> the selection, -1 for none
void Builtin_setitemindex();   // (control, index)
void Builtin_getitem();        // (control, index) -> item text, "" for a bad index
void Builtin_wgetitem();
void Builtin_setitem();        // (control, index, text): replaces the item; -1 appends
void Builtin_wsetitem();

// Fonts. A font a record holds is deleted when no record holds it any more.
void Builtin_newfont();        // (window, face, size, bold, italic, underline) -> font
void Builtin_setfont();        // (window, font)
void Builtin_getfont();        // (window) -> the record's font, 0 without a record

// Lists and the rest.
void Builtin_enumwindows();       // (list) -> number of top-level windows listed
void Builtin_enumfontfamilies();  // (list, device context, family) -> number of fonts listed
void Builtin_showstatuswindow();  // (flag)
void Builtin_waitcursor();        // (flag)
void Builtin_getclientrect();     // (window, address) -> 1, or 0 for no window

// The font families enumfontfamilies lists, by face name.
inline constexpr const char16_t* kFontFamilies[] = {u"DejaVu Sans", u"DejaVu Sans Mono", u"DejaVu Serif"};

}  // namespace qob
