// platform/controls/command_bar.h
// The command bar: a form's menu bar holding strings, 16 x 16 images and
// buttons laid out from the left; a tap on a button posts WM_COMMAND to the
// bar's owner, a drop-down button opens its menu above the bar.
#pragma once

#include <cstdint>

#include "platform/window_manager.h"

namespace qob::platform {

// Messages of the bar.
constexpr UINT TB_ADDBITMAP = 0x0413;   // wParam image count (0: as many as the bitmap is wide), lParam TBADDBITMAP*
constexpr UINT TB_ADDBUTTONSW = 0x0444; // wParam count, lParam TBBUTTON*
// wParam 0, lParam UTF-16 texts, each terminated, and one more zero after
// the last (a list that starts with that zero is one empty text); answers
// the index of the first text added, -1 for a resource (wParam) or no list.
constexpr UINT TB_ADDSTRINGW = 0x044D;
constexpr UINT TB_BUTTONCOUNT = 0x0418;
constexpr UINT SHCMBM_GETMENU = 0x0592;

// Button states and styles.
constexpr uint8_t TBSTATE_ENABLED = 0x04;
constexpr uint8_t BTNS_NOIMAGE = 0x01;   // a button drawn without an image
constexpr uint8_t BTNS_DROPDOWN = 0x08;  // dwData holds the menu it opens
// Image indexes that name no image.
constexpr int32_t I_IMAGENONE = -2;

struct TBBUTTON {
    int32_t iBitmap;    // image index; negative or unknown: no image
    int32_t idCommand;
    uint8_t fsState;
    uint8_t fsStyle;
    uint8_t bReserved[6];
    uintptr_t dwData;   // a drop-down button's menu
    intptr_t iString;   // index of the bar's strings, -1 for none
};

// hInst HINST_COMMCTRL with nID IDB_STD_SMALL_COLOR adds the standard
// images; hInst 0 adds the images of the bitmap whose handle nID is (copied
// now; a handle that is no bitmap of ours answers -1). TB_ADDBITMAP answers
// the index of the first image added; a source added before is not added
// again and answers its first index.
struct TBADDBITMAP {
    HINSTANCE hInst;
    uintptr_t nID;
};
constexpr HINSTANCE HINST_COMMCTRL = static_cast<HINSTANCE>(-1);
constexpr uintptr_t IDB_STD_SMALL_COLOR = 0;

// The standard images, in the strip's order.
enum : int32_t {
    STD_CUT, STD_COPY, STD_PASTE, STD_UNDO, STD_REDOW, STD_DELETE, STD_FILENEW, STD_FILEOPEN, STD_FILESAVE,
    STD_PRINTPRE, STD_PROPERTIES, STD_HELP, STD_FIND, STD_REPLACE, STD_PRINT,
    kStandardImageCount,
};

// Layout in pixels: images are kBarImageSize square, centred in buttons of
// kBarImageButtonWidth; a button with text is the text's width (stock system
// font) plus kBarTextPadding on both sides; buttons follow each other from
// x 0, the whole height of the bar.
constexpr int32_t kBarImageSize = 16;
constexpr int32_t kBarImageButtonWidth = 24;
constexpr int32_t kBarTextPadding = 6;

// The window procedure of the bar's class (the shell registers it).
LRESULT CommandBarProcedure(HWND bar, UINT message, WPARAM wParam, LPARAM lParam);

// Lays the buttons out again and repaints the bar (the shell's call after a
// string or button is added). False for a window that is no bar.
bool CommandBarAutoSize(HWND bar);

// The screen rectangle of the bar's first button with the command id; false
// when there is none.
bool CommandBarButtonRect(HWND bar, UINT commandId, RECT* rect);

// The standard image's pixels (0x00RRGGBB, kBarImageSize rows of
// kBarImageSize), as the bar draws it; false for an index outside the strip.
bool StandardImagePixels(int32_t index, uint32_t* pixels);

}  // namespace qob::platform
