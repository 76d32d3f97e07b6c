// platform/input.h
// Input for the window manager: stylus and keys injected now, or scheduled on
// the clock (a test's input file), and turned into posted messages.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qob::platform {

enum class StylusAction { Down, Move, Up };

// A stylus event at a screen point. It goes to the capture window, else to
// the topmost visible enabled top-level window there and within it the
// deepest visible enabled child; the point arrives in that window's client
// coordinates. A press activates the window's top-level window; a second
// press within 500 ms and 4 pixels on a window of a CS_DBLCLKS class is a
// double-click. Moves are reported only while the stylus is down.
void InjectStylus(int32_t x, int32_t y, StylusAction action);
void InjectTap(int32_t x, int32_t y);  // press and release
// A key press and release (virtual key) for the focus window, else the active one.
void InjectKey(uint32_t virtualKey);

// Modifier keys, by virtual key, and as a set held around a key.
constexpr uint32_t VK_SHIFT = 0x10;
constexpr uint32_t VK_CONTROL = 0x11;
constexpr uint32_t VK_MENU = 0x12;  // alt
enum : uint32_t { kModifierShift = 1, kModifierControl = 2, kModifierAlt = 4 };
// The key pressed and released while the modifiers are held: their presses
// first (shift, control, alt), their releases after, in reverse.
void InjectKeyWithModifiers(uint32_t virtualKey, uint32_t modifiers);

// Whether a key is down as the messages taken from the queue so far tell
// it: bit 0x8000 set while it is down. Every WM_KEYDOWN and WM_KEYUP taken
// out of a queue is noted (NoteKeyMessage, the message pump's call).
[[nodiscard]] int16_t GetKeyState(uint32_t virtualKey);
void NoteKeyMessage(uint32_t message, uintptr_t virtualKey);

// For tests: a tap at the centre of the command bar's button with the
// command id, or of the item with the command id in a menu that is open
// (0: any open menu). False, with nothing injected, when there is none.
bool PressBarButton(uintptr_t bar, uint32_t commandId);
bool ChooseMenuItem(uintptr_t menu, uint32_t commandId);
// WM_CHAR for each UTF-16 unit of the text, for the focus window (else the active one).
void InjectText(std::u16string_view text);

// Input at a tick of the clock: delivered by the message pump once the tick
// count reaches it (under the test clock, the pump moves the clock there when
// nothing else is waiting).
struct ScheduledInput {
    enum class Kind { Tap, Key, Text } kind = Kind::Tap;
    uint32_t at = 0;
    int32_t x = 0;
    int32_t y = 0;
    uint32_t key = 0;
    std::u16string text;
    uint32_t modifiers = 0;  // a key's kModifier* set
};
void ScheduleInput(const ScheduledInput& input);
// The tick of the earliest scheduled input; false when none is waiting.
bool NextScheduledInput(uint32_t* at);
// Turns every scheduled input whose time has come into messages.
void DeliverDueInput();
void ClearScheduledInput();

// Reads an input file's lines: "<ms> tap <x> <y>", "<ms> key <virtual key>"
// with any of the words "shift", "ctrl", "alt" after it for modifiers held,
// "<ms> text \"<text>\"" (UTF-8; \" and \\ inside), blank lines and lines
// starting with "#" skipped; the milliseconds count from start. Nothing is
// scheduled when a line is malformed: the result names the line.
struct InputScriptResult {
    bool ok = true;
    int line = 0;  // the first bad line
    std::string message;
};
[[nodiscard]] InputScriptResult ScheduleInputScript(std::string_view script, uint32_t start);

}  // namespace qob::platform
