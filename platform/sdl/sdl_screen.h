// platform/sdl/sdl_screen.h
// The screen in a window of the desktop (SDL2 video): one window of the
// screen's size times QOB_SCALE, presenting the composed screen when it
// changed, at most once per refresh; the left button is the stylus, keys
// become virtual keys, closing the window closes the program's windows.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qob::platform {

// Opens the window when DISPLAY is set and QOB_HEADLESS is not "1"; true when
// it is open (the window manager then presents to it and waits for its
// events). When SDL cannot start, says so once on standard error and the run
// stays headless.
bool StartSdlScreen();
void StopSdlScreen();

// The virtual key of an SDL key code (SDL_Keycode), 0 for a key the device
// has no virtual key for (and for every key in a build without SDL2).
[[nodiscard]] uint32_t VirtualKeyOfSdlKeycode(int32_t keycode);

// QOB_SCALE: a whole number from 1 to 8; nullopt for anything else.
[[nodiscard]] std::optional<int> ParseScale(std::string_view text);

}  // namespace qob::platform
