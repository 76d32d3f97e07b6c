// tests/platform/sdl/sdl_key_map_test.cpp
// The screen window's keys: which virtual key each desktop key gives.
#include <gtest/gtest.h>

#include "platform/sdl/sdl_screen.h"

#ifdef QOB_WITH_SDL2
#include <SDL.h>

namespace qob::platform {
namespace {

TEST(SdlKeyMap, KeysGiveTheirVirtualKeys) {
    struct Case {
        SDL_Keycode key;
        uint32_t virtualKey;
    };
    const Case cases[] = {
        {SDLK_a, 'A'}, {SDLK_m, 'M'}, {SDLK_z, 'Z'}, {SDLK_0, '0'}, {SDLK_5, '5'}, {SDLK_9, '9'},
        {SDLK_RETURN, 0x0D}, {SDLK_KP_ENTER, 0x0D}, {SDLK_BACKSPACE, 0x08}, {SDLK_TAB, 0x09},
        {SDLK_ESCAPE, 0x1B}, {SDLK_SPACE, 0x20},
        {SDLK_LEFT, 0x25}, {SDLK_UP, 0x26}, {SDLK_RIGHT, 0x27}, {SDLK_DOWN, 0x28},
        {SDLK_F1, 0x70}, {SDLK_F2, 0x71}, {SDLK_F10, 0x79}, {SDLK_F12, 0x7B},
        {SDLK_HOME, 0x24}, {SDLK_END, 0x23}, {SDLK_PAGEUP, 0x21}, {SDLK_PAGEDOWN, 0x22},
        {SDLK_INSERT, 0x2D}, {SDLK_DELETE, 0x2E},
        {SDLK_LSHIFT, 0x10}, {SDLK_RSHIFT, 0x10}, {SDLK_LCTRL, 0x11}, {SDLK_RCTRL, 0x11},
        {SDLK_LALT, 0x12}, {SDLK_RALT, 0x12}, {SDLK_PAUSE, 0x13}, {SDLK_CAPSLOCK, 0x14},
        {SDLK_SEMICOLON, 0xBA}, {SDLK_EQUALS, 0xBB}, {SDLK_COMMA, 0xBC}, {SDLK_MINUS, 0xBD},
        {SDLK_PERIOD, 0xBE}, {SDLK_SLASH, 0xBF}, {SDLK_BACKQUOTE, 0xC0}, {SDLK_LEFTBRACKET, 0xDB},
        {SDLK_BACKSLASH, 0xDC}, {SDLK_RIGHTBRACKET, 0xDD}, {SDLK_QUOTE, 0xDE},
        {SDLK_KP_0, 0x60}, {SDLK_KP_1, 0x61}, {SDLK_KP_9, 0x69}, {SDLK_KP_MULTIPLY, 0x6A},
        {SDLK_KP_PLUS, 0x6B}, {SDLK_KP_MINUS, 0x6D}, {SDLK_KP_PERIOD, 0x6E}, {SDLK_KP_DIVIDE, 0x6F},
        // Keys the device has none for.
        {SDLK_F13, 0}, {SDLK_PRINTSCREEN, 0}, {SDLK_LGUI, 0}, {SDLK_UNKNOWN, 0},
    };
    for (const Case& c : cases) EXPECT_EQ(VirtualKeyOfSdlKeycode(c.key), c.virtualKey) << "key " << c.key;
}

// No two different keys of the desktop share a virtual key, except the left
// and right twins and the two Enter keys.
TEST(SdlKeyMap, OnlyTwinKeysShareAVirtualKey) {
    const SDL_Keycode keys[] = {SDLK_a, SDLK_b, SDLK_0, SDLK_1, SDLK_F1, SDLK_F11, SDLK_HOME, SDLK_END,
                                SDLK_PAGEUP, SDLK_PAGEDOWN, SDLK_INSERT, SDLK_DELETE, SDLK_LSHIFT, SDLK_LCTRL,
                                SDLK_LALT, SDLK_COMMA, SDLK_PERIOD, SDLK_KP_0, SDLK_KP_5, SDLK_RETURN, SDLK_UP};
    for (SDL_Keycode a : keys)
        for (SDL_Keycode b : keys)
            if (a != b) {
                EXPECT_NE(VirtualKeyOfSdlKeycode(a), VirtualKeyOfSdlKeycode(b)) << a << " " << b;
            }
}

}  // namespace
}  // namespace qob::platform
#endif
