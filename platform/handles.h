// platform/handles.h
// One table of the window layer's handles (windows, menus, fonts, brushes,
// pens, bitmaps, DCs, accelerators, cursors): numbers that never collide with
// a low-memory address, are never reused, and are checked for kind on use.
#pragma once

#include <cstdint>

namespace qob::platform {

enum class HandleKind : uint8_t {
    None,  // never made, or freed
    Window,
    Menu,
    Font,
    Brush,
    Pen,
    Bitmap,
    DeviceContext,
    Accelerator,
    Cursor,
    Icon,
    Region,
};

// A handle is the address of one byte of an address range that is reserved
// (mapped with no access) below 2 GiB, so the low-memory allocator never hands
// out a block there: a handle and a sprite or object address travel in the
// same 32-bit numbers without ever being mistaken for each other. Handles are
// positive as signed 32-bit numbers.
using Handle = uintptr_t;

// A new handle for the object, or 0 when the range is used up.
[[nodiscard]] Handle NewHandle(HandleKind kind, void* object);

// The object of a live handle of that kind; null for 0, a freed handle, a
// handle of another kind, or any number that is no handle.
[[nodiscard]] void* HandleObject(Handle handle, HandleKind kind);

// The kind of a live handle; HandleKind::None for anything else.
[[nodiscard]] HandleKind KindOfHandle(Handle handle);

// Forgets the handle: later look-ups fail quietly. A dead handle or a number
// that is no handle is ignored.
void FreeHandle(Handle handle);

// Whether the number lies in the handle range at all (live or not).
[[nodiscard]] bool IsHandleNumber(uintptr_t number);

}  // namespace qob::platform
