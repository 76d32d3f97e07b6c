// platform/controls/accelerators.h
// Accelerator tables: keys with modifiers that a window's messages are
// checked against before they are dispatched, each turned into a WM_COMMAND.
#pragma once

#include <cstdint>

#include "platform/handles.h"
#include "platform/message_queue.h"
#include "platform/window_manager.h"

namespace qob::platform {

using HACCEL = Handle;

// Modifier flags of an entry.
constexpr uint8_t FSHIFT = 0x04;
constexpr uint8_t FCONTROL = 0x08;
constexpr uint8_t FALT = 0x10;

// One entry: the key is a character (UTF-16 unit), not a virtual key.
struct ACCEL {
    uint8_t fVirt;
    uint16_t key;
    uint16_t cmd;
};

// A table of count entries (copied); count 0 makes an empty table. 0 for a
// negative count, entries missing for a positive one, or a full handle table.
[[nodiscard]] HACCEL CreateAcceleratorTableW(const ACCEL* entries, int count);
// False for a dead handle or one of another kind.
bool DestroyAcceleratorTable(HACCEL table);
// The entries of a live table (at most capacity copied; the count is the
// table's size), -1 for a dead handle.
int CopyAcceleratorTableW(HACCEL table, ACCEL* entries, int capacity);

// Matches the message against the table's entries in order, with the
// modifier keys that are down (GetKeyState) equal to the entry's flags:
// an entry whose key is a letter or a digit matches a WM_KEYDOWN of that
// key's virtual key (the letter upper-cased); any other key matches a
// WM_CHAR of that character. A match sends WM_COMMAND (low word the
// command, high word 1, lParam 0) to the window and answers 1; otherwise 0.
int TranslateAcceleratorW(HWND window, HACCEL table, const MSG* message);

// Tables live for the process; tests forget them with the window manager.
void ForgetAcceleratorTables();

}  // namespace qob::platform
