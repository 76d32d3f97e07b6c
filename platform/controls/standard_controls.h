// platform/controls/standard_controls.h
// The standard controls of the device: EDIT, LISTBOX, COMBOBOX, BUTTON and
// STATIC, with real state, painted by the GDI renderer in the colours their
// parent answers to WM_CTLCOLOR*, driven by taps and keys, and notifying their
// parent with WM_COMMAND. Their state lives in the first word of the window's
// extra bytes and goes with WM_NCDESTROY.
#pragma once

#include <cstdint>

#include "platform/window_manager.h"

namespace qob::platform {

// --- class names ---------------------------------------------------------------------

inline constexpr char16_t kEditClass[] = u"EDIT";
inline constexpr char16_t kListBoxClass[] = u"LISTBOX";
inline constexpr char16_t kComboBoxClass[] = u"COMBOBOX";
inline constexpr char16_t kButtonClass[] = u"BUTTON";
inline constexpr char16_t kStaticClass[] = u"STATIC";
// The pop-up list a combo box opens.
inline constexpr char16_t kComboListClass[] = u"ComboLBox";

// Registers the classes above; names registered already stay as they are.
void RegisterStandardControls();

// --- shared styles and messages ---------------------------------------------------------

constexpr uint32_t WS_GROUP = 0x00020000u;
constexpr uint32_t WS_TABSTOP = 0x00010000u;
constexpr uint32_t WS_VSCROLL = 0x00200000u;

constexpr UINT WM_CTLCOLORMSGBOX = 0x0132;
constexpr UINT WM_CTLCOLORLISTBOX = 0x0134;
constexpr UINT WM_CTLCOLORBTN = 0x0135;
constexpr UINT WM_CTLCOLORDLG = 0x0136;
constexpr UINT WM_CTLCOLORSCROLLBAR = 0x0137;

// Virtual keys the controls answer.
constexpr uint32_t VK_BACK = 0x08;
constexpr uint32_t VK_TAB = 0x09;
constexpr uint32_t VK_RETURN = 0x0D;
constexpr uint32_t VK_ESCAPE = 0x1B;
constexpr uint32_t VK_SPACE = 0x20;
constexpr uint32_t VK_END = 0x23;
constexpr uint32_t VK_HOME = 0x24;
constexpr uint32_t VK_LEFT = 0x25;
constexpr uint32_t VK_UP = 0x26;
constexpr uint32_t VK_RIGHT = 0x27;
constexpr uint32_t VK_DOWN = 0x28;
constexpr uint32_t VK_DELETE = 0x2E;

// --- EDIT --------------------------------------------------------------------------------

constexpr uint32_t ES_LEFT = 0x0000;
constexpr uint32_t ES_MULTILINE = 0x0004;
constexpr uint32_t ES_UPPERCASE = 0x0008;
constexpr uint32_t ES_LOWERCASE = 0x0010;
constexpr uint32_t ES_AUTOVSCROLL = 0x0040;
constexpr uint32_t ES_AUTOHSCROLL = 0x0080;
constexpr uint32_t ES_NOHIDESEL = 0x0100;
constexpr uint32_t ES_READONLY = 0x0800;
constexpr uint32_t ES_WANTRETURN = 0x1000;
constexpr uint32_t ES_NUMBER = 0x2000;

// EM_GETSEL: wParam and lParam point at 32-bit words (either may be null)
// that get the start and the end; the result packs both in 16 bits each.
constexpr UINT EM_GETSEL = 0x00B0;
// EM_SETSEL (start, end): start -1 removes the selection; end -1 (or any
// negative end) is the end of the text; the caret goes to the end given.
constexpr UINT EM_SETSEL = 0x00B1;
constexpr UINT EM_GETMODIFY = 0x00B8;
constexpr UINT EM_SETMODIFY = 0x00B9;
constexpr UINT EM_GETLINECOUNT = 0x00BA;
// EM_LINEINDEX (line): the character index where the line starts; line -1
// is the caret's line; -1 for a line past the last one.
constexpr UINT EM_LINEINDEX = 0x00BB;
constexpr UINT EM_LINEFROMCHAR = 0x00C9;
// EM_LINELENGTH (character index): the length of the line holding that
// character; -1 gives the unselected characters on the lines of the selection.
constexpr UINT EM_LINELENGTH = 0x00C1;
// EM_REPLACESEL (undoable, text): replaces the selection, also in a
// read-only control; the caret follows the inserted text.
constexpr UINT EM_REPLACESEL = 0x00C2;
// EM_GETLINE (line, buffer): the buffer's first 16-bit word holds its size in
// characters; the line is copied without a terminator and the count returned.
constexpr UINT EM_GETLINE = 0x00C4;
constexpr UINT EM_LIMITTEXT = 0x00C5;
constexpr UINT EM_SETREADONLY = 0x00CF;

constexpr UINT EN_SETFOCUS = 0x0100;
constexpr UINT EN_KILLFOCUS = 0x0200;
constexpr UINT EN_CHANGE = 0x0300;
constexpr UINT EN_MAXTEXT = 0x0501;

// --- LISTBOX -----------------------------------------------------------------------------

constexpr uint32_t LBS_NOTIFY = 0x0001;
constexpr uint32_t LBS_SORT = 0x0002;

constexpr LRESULT LB_OKAY = 0;
constexpr LRESULT LB_ERR = -1;

constexpr UINT LB_ADDSTRING = 0x0180;
constexpr UINT LB_INSERTSTRING = 0x0181;  // index -1 appends
constexpr UINT LB_DELETESTRING = 0x0182;  // index -1 fails
constexpr UINT LB_RESETCONTENT = 0x0184;
constexpr UINT LB_SETCURSEL = 0x0186;
constexpr UINT LB_GETCURSEL = 0x0188;
constexpr UINT LB_GETTEXT = 0x0189;
constexpr UINT LB_GETTEXTLEN = 0x018A;
constexpr UINT LB_GETCOUNT = 0x018B;
constexpr UINT LB_GETTOPINDEX = 0x018E;
constexpr UINT LB_FINDSTRING = 0x018F;
constexpr UINT LB_SETTOPINDEX = 0x0197;
constexpr UINT LB_GETITEMDATA = 0x0199;
constexpr UINT LB_SETITEMDATA = 0x019A;
constexpr UINT LB_GETITEMHEIGHT = 0x01A1;
constexpr UINT LB_FINDSTRINGEXACT = 0x01A2;

constexpr UINT LBN_SELCHANGE = 1;
constexpr UINT LBN_DBLCLK = 2;
constexpr UINT LBN_SETFOCUS = 4;
constexpr UINT LBN_KILLFOCUS = 5;

// --- COMBOBOX ----------------------------------------------------------------------------

constexpr uint32_t CBS_SIMPLE = 0x0001;
constexpr uint32_t CBS_DROPDOWN = 0x0002;
constexpr uint32_t CBS_DROPDOWNLIST = 0x0003;
constexpr uint32_t CBS_SORT = 0x0100;

constexpr LRESULT CB_OKAY = 0;
constexpr LRESULT CB_ERR = -1;

constexpr UINT CB_ADDSTRING = 0x0143;
constexpr UINT CB_DELETESTRING = 0x0144;
constexpr UINT CB_GETCOUNT = 0x0146;
constexpr UINT CB_GETCURSEL = 0x0147;
constexpr UINT CB_GETLBTEXT = 0x0148;
constexpr UINT CB_GETLBTEXTLEN = 0x0149;
constexpr UINT CB_INSERTSTRING = 0x014A;
constexpr UINT CB_RESETCONTENT = 0x014B;
constexpr UINT CB_FINDSTRING = 0x014C;
constexpr UINT CB_SETCURSEL = 0x014E;
constexpr UINT CB_SHOWDROPDOWN = 0x014F;
constexpr UINT CB_GETITEMDATA = 0x0150;
constexpr UINT CB_SETITEMDATA = 0x0151;
constexpr UINT CB_GETDROPPEDSTATE = 0x0157;
constexpr UINT CB_FINDSTRINGEXACT = 0x0158;

constexpr UINT CBN_SELCHANGE = 1;
constexpr UINT CBN_SETFOCUS = 3;
constexpr UINT CBN_KILLFOCUS = 4;
constexpr UINT CBN_DROPDOWN = 7;
constexpr UINT CBN_CLOSEUP = 8;

// --- BUTTON ------------------------------------------------------------------------------

constexpr uint32_t BS_PUSHBUTTON = 0x0;
constexpr uint32_t BS_DEFPUSHBUTTON = 0x1;
constexpr uint32_t BS_CHECKBOX = 0x2;
constexpr uint32_t BS_AUTOCHECKBOX = 0x3;
constexpr uint32_t BS_RADIOBUTTON = 0x4;
constexpr uint32_t BS_3STATE = 0x5;
constexpr uint32_t BS_AUTO3STATE = 0x6;
constexpr uint32_t BS_GROUPBOX = 0x7;
constexpr uint32_t BS_AUTORADIOBUTTON = 0x9;
constexpr uint32_t BS_TYPEMASK = 0xF;

constexpr LRESULT BST_UNCHECKED = 0;
constexpr LRESULT BST_CHECKED = 1;
constexpr LRESULT BST_INDETERMINATE = 2;
constexpr LRESULT BST_PUSHED = 4;
constexpr LRESULT BST_FOCUS = 8;

constexpr UINT BM_GETCHECK = 0x00F0;
constexpr UINT BM_SETCHECK = 0x00F1;
constexpr UINT BM_GETSTATE = 0x00F2;
constexpr UINT BM_SETSTATE = 0x00F3;
constexpr UINT BM_SETSTYLE = 0x00F4;
constexpr UINT BM_CLICK = 0x00F5;

constexpr UINT BN_CLICKED = 0;

// --- STATIC ------------------------------------------------------------------------------

constexpr uint32_t SS_LEFT = 0x0;
constexpr uint32_t SS_CENTER = 0x1;
constexpr uint32_t SS_RIGHT = 0x2;
constexpr uint32_t SS_LEFTNOWORDWRAP = 0xC;
constexpr uint32_t SS_TYPEMASK = 0x1F;
constexpr uint32_t SS_NOPREFIX = 0x80;
constexpr uint32_t SS_NOTIFY = 0x100;

constexpr UINT STN_CLICKED = 0;

// --- the look, for code that draws the same picture -----------------------------------

// Text inside an edit starts this far from the client's left and top edges.
constexpr int32_t kEditMarginX = 2;
constexpr int32_t kEditMarginY = 1;
// List items start this far from the left edge.
constexpr int32_t kListMarginX = 2;
// The square of a check box or radio button, and the gap to its text.
constexpr int32_t kCheckBoxSize = 13;
constexpr int32_t kCheckBoxGap = 4;
// A combo box's field is the item height plus this, its arrow box as wide as high.
constexpr int32_t kComboFieldExtra = 6;

}  // namespace qob::platform
