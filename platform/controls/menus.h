// platform/controls/menus.h
// Pop-up menus: handles of the handle table holding items and submenus, and
// an open menu shown as a pop-up window that a tap chooses from.
#pragma once

#include <cstdint>
#include <string>

#include "platform/handles.h"
#include "platform/window_manager.h"

namespace qob::platform {

// AppendMenuW / InsertMenuW flags.
constexpr UINT MF_BYCOMMAND = 0x0000;
constexpr UINT MF_STRING = 0x0000;
constexpr UINT MF_GRAYED = 0x0001;
constexpr UINT MF_DISABLED = 0x0002;
constexpr UINT MF_POPUP = 0x0010;
constexpr UINT MF_BYPOSITION = 0x0400;
constexpr UINT MF_SEPARATOR = 0x0800;

// MENUITEMINFOW masks and types.
constexpr UINT MIIM_STATE = 0x0001;
constexpr UINT MIIM_ID = 0x0002;
constexpr UINT MIIM_SUBMENU = 0x0004;
constexpr UINT MIIM_TYPE = 0x0010;
constexpr UINT MIIM_STRING = 0x0040;
constexpr UINT MIIM_FTYPE = 0x0100;
constexpr UINT MFT_STRING = 0x0000;
constexpr UINT MFT_SEPARATOR = 0x0800;
constexpr UINT MFS_ENABLED = 0x0000;
constexpr UINT MFS_GRAYED = 0x0003;

// An item's description. cbSize must be the structure's size. With
// MIIM_STRING (or MIIM_TYPE for a string item) the text is copied into
// dwTypeData, at most cch - 1 units and a terminator, and cch is set to the
// text's length; a null dwTypeData or a cch of 0 only sets the length.
struct MENUITEMINFOW {
    UINT cbSize;
    UINT fMask;
    UINT fType;
    UINT fState;
    UINT wID;
    HMENU hSubMenu;
    uintptr_t hbmpChecked;
    uintptr_t hbmpUnchecked;
    uintptr_t dwItemData;
    char16_t* dwTypeData;
    UINT cch;
};

// A new empty pop-up menu; 0 when the handle table is used up.
[[nodiscard]] HMENU CreatePopupMenu();

// Appends an item: a string (text), a separator (MF_SEPARATOR, text
// ignored) or a submenu (MF_POPUP: idOrSubmenu is the submenu's handle,
// which must be a live menu other than this one or one that holds it).
// False for a dead menu or a bad submenu.
bool AppendMenuW(HMENU menu, UINT flags, uintptr_t idOrSubmenu, const char16_t* text);

// Inserts an item before the item at position (MF_BYPOSITION; a position
// at or past the end appends), or before the item whose command id is
// position, searched through the menu and then its submenus depth first: the
// new item goes into the menu that holds the one found. False when no item
// has that command, or as AppendMenuW.
bool InsertMenuW(HMENU menu, UINT position, UINT flags, uintptr_t idOrSubmenu, const char16_t* text);

// Describes the item at a position, or (byPosition false) the item whose
// command id is item, searched as InsertMenuW searches. False when there is
// none, the menu is dead or cbSize is wrong; info is then untouched.
bool GetMenuItemInfoW(HMENU menu, UINT item, bool byPosition, MENUITEMINFOW* info);

// The number of items; -1 for a dead menu.
[[nodiscard]] int GetMenuItemCount(HMENU menu);

// Destroys the menu and its submenus, closing it first when it is open.
// False for a dead handle or one of another kind.
bool DestroyMenu(HMENU menu);

// --- open menus ----------------------------------------------------------------------

// Layout of an open menu, in pixels: a one-pixel frame, string items of
// kMenuItemHeight with their text kMenuTextIndent from the left, separators
// of kMenuSeparatorHeight with a line in the middle; the width fits the
// widest text (in the stock system font) plus the indents on both sides
// and the submenu arrow's room, at least kMenuMinimumWidth.
constexpr int32_t kMenuFrame = 1;
constexpr int32_t kMenuItemHeight = 20;
constexpr int32_t kMenuSeparatorHeight = 7;
constexpr int32_t kMenuTextIndent = 8;
constexpr int32_t kMenuArrowRoom = 12;
constexpr int32_t kMenuMinimumWidth = 40;

// Where an open menu goes relative to the point it is opened at.
enum class MenuPlacement {
    BelowRight,  // its top-left corner at the point
    AboveRight,  // its bottom-left corner at the point (a command bar's menus)
};

// Opens the menu as a topmost pop-up window at the screen point, moved
// inside the screen, closing any menu open before. A tap on a string item
// closes every open menu and posts WM_COMMAND (the item's id, lParam 0) to
// the owner; a tap on a submenu item opens the submenu beside the item (and
// closes deeper ones); a tap outside the open menus closes them all.
// Grayed items and separators do nothing. False for a dead menu or owner.
bool OpenPopupMenu(HMENU menu, int32_t x, int32_t y, MenuPlacement placement, HWND owner);

// Closes every open menu.
void CloseOpenMenus();

// The window showing the menu, or 0 when it is not open.
[[nodiscard]] HWND OpenMenuWindow(HMENU menu);

// The screen rectangle of the item with the command id in an open menu
// (only the menus open now are searched, deepest first). False when none.
bool OpenMenuItemRect(HMENU menu, UINT commandId, RECT* rect);

// The size an open menu of these items takes (for the layout's tests and
// the command bar).
[[nodiscard]] SIZE MenuWindowSize(HMENU menu);

// The menus live for the process; tests forget them with the window manager.
void ForgetMenus();

}  // namespace qob::platform
