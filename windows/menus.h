// windows/menus.h
// The menu built-ins: drop-down menus and buttons on a form's menu bar,
// pop-up menus with items and submenus, and a window's accelerator table
// built from a list of key texts and commands.
#pragma once

#include <cstdint>

namespace qob {

struct VariableRecord;

// The most entries one accelerator table gets from a list.
constexpr int kMaxAcceleratorEntries = 100;

// newmenu (window, caption, command id) -> a new pop-up menu that a drop-down
// button of the window's menu bar opens; 0 without a record or a menu bar.
void Builtin_newmenu();
// newbutton (window, bitmap, image index, command id): a button on the
// window's menu bar; image index -1 makes a button without an image. The
// image index counts within the bitmap (0: the standard images).
void Builtin_newbutton();
// newsubmenu (menu, position, caption, ignored) -> a new pop-up menu appended
// (position -1) or inserted before the item whose command id is position.
void Builtin_newsubmenu();
// newmenuitem (menu, position, caption, command id) -> the menu: an item
// ("-": a separator) appended or inserted as newsubmenu does.
void Builtin_newmenuitem();
// menucaption (menu, command id) -> the item's text; "" when no item of the
// menu or its submenus has the command.
void Builtin_menucaption();
// mainmenu (window) -> the window's menu bar; 0 without a record.
void Builtin_mainmenu();
// newmainmenu (window): a new shown menu bar for the window; an earlier one
// is destroyed (its menus stay).
void Builtin_newmainmenu();
// createacceltable (window, list): the window's accelerator table from the
// list's pairs of key text and command (see BuildAcceleratorEntries); the
// table it replaces is destroyed.
void Builtin_createacceltable();

// One accelerator entry as the list gives it.
struct AcceleratorEntry {
    uint8_t flags;     // 0x10 alt, 0x08 ctrl, 0x04 shift
    uint16_t key;      // the key text's last character
    uint16_t command;
};

// Walks the list variable's items from its first by position: a key text, then its
// command number. The key is the text's last character as written; the text
// is lower-cased in its node, and the flags come from the words "alt",
// "ctrl" and "shift" anywhere in it. A pair whose key position holds a
// number or an empty text, or whose command position holds a text or is
// missing, makes no entry. At most capacity entries are written; the
// count of entries made is the result.
int BuildAcceleratorEntries(VariableRecord* list, AcceleratorEntry* entries, int capacity);

}  // namespace qob
